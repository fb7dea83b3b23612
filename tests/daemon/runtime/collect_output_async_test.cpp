#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>

#include <asio/io_context.hpp>
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "daemon/runtime/collect_output_async.h"
#include "support/process_table.h"
#include "support/temp_dir.h"
#include "support/test_io.h"

namespace qd {
namespace {

using namespace std::chrono_literals;
using End = AsyncCollectedOutput::End;

class CollectUntilExitAsync : public ::testing::Test {
 protected:
  AsyncCollectedOutput runShell(const std::string& script, AsyncCollectOptions options = {},
                                std::shared_ptr<StopRequest> stop = nullptr) {
    child = ChildProcess::spawn(spawnOptions("/bin/sh", {"-c", script}));
    group = child->pid();
    return test::runAwaitable(io, collectUntilExitAsync(*child, options, std::move(stop)));
  }

  asio::io_context io;
  std::unique_ptr<ChildProcess> child;
  pid_t group = -1;
};

TEST_F(CollectUntilExitAsync, ReturnsBothStreamsAndTheExitStatusOfAReapedChild) {
  auto out = runShell("echo out; echo err >&2; exit 3");
  EXPECT_EQ(out.end, End::exited);
  EXPECT_EQ(out.status, (ExitStatus{false, 3}));
  EXPECT_EQ(out.standardOutput, "out\n");
  EXPECT_EQ(out.standardError, "err\n");
  EXPECT_TRUE(child->exitStatus().has_value());  // reaped
}

TEST_F(CollectUntilExitAsync, KeepsTheLimitAndReadsTheRestSoAChattyChildNeverBlocks) {
  AsyncCollectOptions options;
  options.maxStandardOutput = 1 << 20;
  options.maxStandardError = 10;
  // 3 MiB on stdout, far more than a pipe holds, and 100 KiB on stderr.
  auto out = runShell("head -c 3145728 /dev/zero | tr '\\0' x; head -c 102400 /dev/zero | tr '\\0' y >&2", options);
  EXPECT_EQ(out.end, End::exited);
  EXPECT_TRUE(out.status.success());
  EXPECT_EQ(out.standardOutput, std::string(1 << 20, 'x'));
  EXPECT_TRUE(out.standardOutputCut);
  EXPECT_EQ(out.standardError, std::string(10, 'y'));
  EXPECT_TRUE(out.standardErrorCut);
}

TEST_F(CollectUntilExitAsync, ATimeOutStopsTheWholeGroupAndKeepsWhatWasWritten) {
  AsyncCollectOptions options;
  options.timeout = 300ms;
  options.grace = 100ms;
  // The shell ignores SIGTERM, so the group needs the kill; its background sleep is in it too.
  // The time-out starts with the collection, once the shell has written "ready": by then it
  // has its trap, its output and its background sleep, however slowly a busy machine ran it.
  test::TempDir folder("collect");
  const std::string ready = (folder / "ready").string();
  const std::string script = "trap '' TERM; echo started; sleep 1000 & touch " + ready + "; wait";
  child = ChildProcess::spawn(spawnOptions("/bin/sh", {"-c", script}));
  group = child->pid();
  ASSERT_TRUE(test::eventually([&] { return ::access(ready.c_str(), F_OK) == 0; })) << "the shell never got ready";
  auto out = test::runAwaitable(io, collectUntilExitAsync(*child, options));
  EXPECT_EQ(out.end, End::timedOut);
  EXPECT_EQ(out.status, (ExitStatus{true, SIGKILL}));
  EXPECT_EQ(out.standardOutput, "started\n");
  EXPECT_TRUE(test::groupEmptiesWithin(group, 60s));
}

TEST_F(CollectUntilExitAsync, AStopRequestEndsTheRunAndItsGroup) {
  auto stop = std::make_shared<StopRequest>(io.get_executor());
  asio::post(io, [stop] { stop->resume(std::monostate{}); });
  auto out = runShell("sleep 1000 & sleep 1000", {}, stop);
  EXPECT_EQ(out.end, End::stopped);
  EXPECT_EQ(out.status, (ExitStatus{true, SIGTERM}));
  EXPECT_TRUE(test::groupEmptiesWithin(group, 60s));
}

// Settles the stop request once the file exists.
asio::awaitable<void> stopWhenFileExists(std::shared_ptr<StopRequest> stop, std::string path) {
  asio::steady_timer timer(co_await asio::this_coro::executor);
  while (::access(path.c_str(), F_OK) != 0) {
    timer.expires_after(10ms);
    co_await timer.async_wait(asio::use_awaitable);
  }
  stop->resume(std::monostate{});
}

TEST_F(CollectUntilExitAsync, AStopAlsoKillsMembersThatOutliveTheLeadersTermination) {
  test::TempDir folder("collect");
  const std::string ready = (folder / "ready").string();
  auto stop = std::make_shared<StopRequest>(io.get_executor());
  asio::co_spawn(io, stopWhenFileExists(stop, ready), asio::detached);
  // The leader dies of SIGTERM; its background sleep ignores it.
  auto out = runShell("(trap '' TERM; exec sleep 1000) & sleep 0.1; touch " + ready + "; wait", {}, stop);
  EXPECT_EQ(out.end, End::stopped);
  EXPECT_EQ(out.status, (ExitStatus{true, SIGTERM}));
  EXPECT_TRUE(test::groupEmptiesWithin(group, 60s));
}

TEST_F(CollectUntilExitAsync, AGrandchildHoldingThePipesDoesNotHoldTheRun) {
  // The background sleep inherits both pipes and outlives the shell.
  auto out = runShell("sleep 1000 & echo done");
  EXPECT_EQ(out.end, End::exited);
  EXPECT_TRUE(out.status.success());
  EXPECT_EQ(out.standardOutput, "done\n");
  ::kill(-group, SIGKILL);
  EXPECT_TRUE(test::groupEmptiesWithin(group, 60s));
}

TEST_F(CollectUntilExitAsync, KillGroupAtExitLeavesNoMemberBehindTheChild) {
  AsyncCollectOptions options;
  options.killGroupAtExit = true;
  // The background sleep ignores SIGTERM, holds both pipes and would outlive the shell.
  auto out = runShell("(trap '' TERM; exec sleep 1000) & echo done", options);
  EXPECT_EQ(out.end, End::exited);
  EXPECT_TRUE(out.status.success());
  EXPECT_EQ(out.standardOutput, "done\n");
  EXPECT_TRUE(test::groupEmptiesWithin(group, 60s));
}

}  // namespace
}  // namespace qd
