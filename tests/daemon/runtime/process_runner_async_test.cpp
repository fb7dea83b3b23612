#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <asio/io_context.hpp>

#include "daemon/runtime/blocking_pool.h"
#include "daemon/runtime/process_runner.h"
#include "support/temp_dir.h"
#include "support/test_io.h"

namespace qd {
namespace {

using namespace std::chrono_literals;
using test::runAwaitable;

asio::awaitable<std::string> shAsync(BlockingPool& pool, std::string script, std::string lane) {
  // Named arguments only: g++ 12 destroys a temporary passed to an awaited coroutine twice.
  std::string shell = "/bin/sh", domain = "TestDomain", failure = "Script failed";
  std::vector<std::string> arguments{"-c", std::move(script)};
  co_return co_await ProcessRunner::runAsync(pool, std::move(shell), std::move(arguments), std::move(lane), 60,
                                             std::move(domain), std::move(failure));
}

TEST(ProcessRunnerAsync, ReturnsOutputAndPassesErrorsOn) {
  asio::io_context io;
  BlockingPool pool(2);
  EXPECT_EQ(runAwaitable(io, shAsync(pool, "echo  word ", "test")), "word");
  try {
    runAwaitable(io, shAsync(pool, "echo bad >&2; exit 4", "test"));
    FAIL();
  } catch (const ProcessRunnerError& e) {
    EXPECT_EQ(e.code(), 4);
    EXPECT_EQ(e.message(), "bad");
  }
}

TEST(ProcessRunnerAsync, ABusyLaneHoldsNoPoolThread) {
  // Three runs queue on a lane whose first run waits for a file; a pool of two threads must
  // still serve a run on another lane while they wait.
  asio::io_context io;
  BlockingPool pool(2);
  const test::TempDir dir("lanes");
  const std::string gate = (dir / "gate").string();
  const std::string log = (dir / "log").string();
  // Each busy run writes its start and its end, so overlapping runs would show.
  const std::string waitForGate = "echo start >> " + log + "; while [ ! -e " + gate +
                                  " ]; do sleep 0.02; done; sleep 0.05; echo end >> " + log + "; echo busy";
  std::vector<std::future<std::string>> busy;
  for (int i = 0; i < 3; ++i) {
    std::promise<std::string> done;
    busy.push_back(done.get_future());
    asio::co_spawn(io, shAsync(pool, waitForGate, "busy"),
                   [done = std::move(done)](std::exception_ptr e, std::string out) mutable {
                     if (e) done.set_exception(e);
                     else done.set_value(std::move(out));
                   });
  }
  std::optional<std::string> other;
  try {
    other = runAwaitable(io, shAsync(pool, "echo other", "other"), 60s);
  } catch (const std::runtime_error&) {
    // Did not finish: it waited behind the busy lane.
  }
  std::ofstream(gate).put('x');
  EXPECT_EQ(other, std::optional<std::string>("other")) << "a run on another lane waited for the busy one";
  for (auto& f : busy) {
    while (f.wait_for(0s) != std::future_status::ready) io.run_one_for(100ms);
    EXPECT_EQ(f.get(), "busy");
  }
  std::ifstream in(log);
  const std::string order((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(order, "start\nend\nstart\nend\nstart\nend\n") << "runs of one lane overlapped";
}

// Lets the child waiting on the fifo go on; false when nobody waits on it any more.
bool poke(const std::string& fifo) {
  const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const bool written = ::write(fd, "go\n", 3) == 3;
  ::close(fd);
  return written;
}

bool processExists(pid_t pid) { return std::filesystem::exists("/proc/" + std::to_string(pid)); }

// A process that traces `target` (without stopping it) and then waits to be killed. While
// it lives, the target's end is reported to it, not to the target's parent, which cannot
// reap the target: the state of a child stuck in the kernel, made on demand.
pid_t startTracer(pid_t target, bool& attached) {
  int ready[2];
  if (::pipe2(ready, O_CLOEXEC) != 0) return -1;
  const pid_t tracer = ::fork();
  if (tracer == 0) {
    const char ok = ::ptrace(PTRACE_SEIZE, target, nullptr, nullptr) == 0 ? '1' : '0';
    (void)!::write(ready[1], &ok, 1);
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char ok = '0';
  (void)!::read(ready[0], &ok, 1);
  ::close(ready[0]);
  attached = ok == '1';
  return tracer;
}

TEST(ProcessRunnerAsync, ATimedOutChildThatCannotBeReapedYetDoesNotHoldTheCaller) {
  const test::TempDir dir("unreaped");
  const std::string pidFile = (dir / "pid").string();
  const std::string fifo = (dir / "go").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

  // The child waits on the fifo until it is traced, then sleeps past its time-out.
  auto run = std::async(std::launch::async, [&] {
    try {
      ProcessRunner::run("/bin/sh", {"-c", "echo $$ > " + pidFile + "; read line < " + fifo + "; exec sleep 1000"},
                         "traced", 3, "TestDomain", "Script failed");
    } catch (const ProcessRunnerError& e) {
      return e.message();
    }
    return std::string("no error");
  });
  pid_t child = 0;
  while (child == 0) {
    std::ifstream in(pidFile);
    if (!(in >> child)) child = 0;
    if (child == 0) std::this_thread::sleep_for(10ms);
  }
  bool attached = false;
  const pid_t tracer = startTracer(child, attached);
  ASSERT_GT(tracer, 0);
  if (!attached) {
    ::kill(tracer, SIGKILL);
    ::waitpid(tracer, nullptr, 0);
    poke(fifo);
    run.wait();
    GTEST_SKIP() << "ptrace is not permitted here";
  }
  ASSERT_TRUE(poke(fifo));

  const bool returned = run.wait_for(60s) == std::future_status::ready;
  const bool heldByTracer = processExists(child);
  ::kill(tracer, SIGKILL);
  ::waitpid(tracer, nullptr, 0);
  ASSERT_TRUE(returned) << "the caller waited for the killed child to be reaped";
  EXPECT_EQ(run.get(), "Script failed: timed out after 3s");
  EXPECT_TRUE(heldByTracer);
  // Once the tracer is gone the child comes back to us and is reaped in the background.
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (processExists(child) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(processExists(child)) << "the killed child was left unreaped";
}

}  // namespace
}  // namespace qd
