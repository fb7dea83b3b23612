// bench-deps: qd_runtime qd_config qd_utilities qd_platform
// The --client bridge's memory while many calls near the daemon's line bound wait for the
// daemon. The daemon (its own process) goes away after the bridge has connected; [calls]
// tools/call lines of health_check, each of which the bridge sends to the daemon as a line
// of 982,040 bytes, are written to the bridge's standard input from a thread (the writes
// block when the bridge stops reading); after 3 s without a byte taken (or once all are
// written) the daemon comes back, and every call must be answered without an error. Two
// kinds of calls: one long string ("plain text"), and about 120,000 small objects
// ("small values"), which cost a parser far more than their text. The bridge's VmRSS is
// sampled every 10 ms throughout.
// Usage: client_bridge_memory_bench [calls] (default 150)

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "daemon/runtime/child_process.h"
#include "daemon/runtime/process_signals.h"
#include "daemon/utilities/json.h"
#include "support/daemon_process.h"
#include "support/process_table.h"
#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The daemon's line of a call carries {"method":"call_tool","_requestId":<id>,"params":...};
// with a three-digit id this many bytes, its line feed included, stay within its bound.
constexpr std::size_t kLineBytes = 982040;

std::string callPrefix(int id) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
         R"(,"method":"tools/call","params":{"name":"health_check",)";
}

// The daemon line of a call with these arguments, its line feed included, with id 100.
std::size_t daemonLineBytes(const qd::Json& arguments) {
  const qd::Json line{{"method", "call_tool"},
                      {"_requestId", 100},
                      {"params", {{"name", "health_check"}, {"arguments", arguments}}}};
  return qd::dumpJson(line).size() + 1;
}

std::string plainTextCall(int id) {
  const std::size_t empty = daemonLineBytes(qd::Json{{"text", ""}});
  const qd::Json arguments{{"text", std::string(kLineBytes - empty, 'x')}};
  return callPrefix(id) + R"("arguments":)" + qd::dumpJson(arguments) + "}}\n";
}

std::string smallValuesCall(int id) {
  const std::string element = R"({"k":1})";
  const std::size_t empty = daemonLineBytes(qd::Json{{"values", qd::Json::array()}});
  std::string values = "[";
  while (empty + values.size() + element.size() + 1 < kLineBytes) {
    if (values.size() > 1) values += ',';
    values += element;
  }
  values += "]";
  return callPrefix(id) + R"("arguments":{"values":)" + values + "}}}\n";
}

class Bridge {
 public:
  explicit Bridge(const qd::test::DaemonProcess& daemon) {
    qd::SpawnOptions options = qd::spawnOptions(qd::test::DaemonProcess::executable().string(), {"--client"});
    options.environmentOverlay = daemon.environment();
    (*options.environmentOverlay)["TINDERBOX_CONNECTION_TIMEOUT"] = "600000";
    options.stderrMode = qd::StdioMode::null;
    child_ = qd::ChildProcess::spawn(options);
    input_ = child_->takeStdin();
    output_ = child_->takeStdout();
  }
  pid_t pid() const { return child_->pid(); }
  // False once the bridge no longer reads.
  bool write(const std::string& bytes, std::atomic<std::size_t>& taken) {
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t n = ::write(input_.get(), bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
      taken += static_cast<std::size_t>(n);
    }
    return true;
  }
  qd::Json read(std::chrono::milliseconds limit) {
    const auto line = qd::test::readLineFrom(output_.get(), buffered_, limit);
    return line ? qd::parseJson(*line) : qd::Json();
  }
  void finish() {
    input_.reset();
    child_->reap();
  }

 private:
  std::unique_ptr<qd::ChildProcess> child_;
  qd::UniqueFd input_, output_;
  std::string buffered_;
};

struct Figures {
  long idleKiB = 0, peakWaitingKiB = 0, peakKiB = 0;
  int answered = 0, failed = 0;
  double secondsToAnswer = 0;
};

Figures run(const char* kind, std::string (*makeCall)(int), int calls) {
  qd::test::TempDir home("bridge-memory");
  qd::test::DaemonProcess daemon(home.path(), {{"TINDERBOX_RATE_LIMIT_REQUESTS", "10000"}});
  daemon.startAndWait();
  Bridge bridge(daemon);
  Figures figures;
  std::atomic<std::size_t> taken{0};
  if (!bridge.write(R"({"jsonrpc":"2.0","id":1,"method":"ping"})" "\n", taken) || bridge.read(60s).is_null()) {
    std::fprintf(stderr, "%s: the bridge did not answer a ping\n", kind);
    std::exit(1);
  }
  figures.idleKiB = qd::test::memoryKiB(bridge.pid(), "VmRSS");
  daemon.signal(SIGTERM);
  daemon.waitForExit();
  std::this_thread::sleep_for(500ms);  // the bridge sees its connection end

  std::atomic<bool> sampling{true};
  std::atomic<long> peakKiB{0};
  std::thread sampler([&] {
    while (sampling.load()) {
      peakKiB = std::max(peakKiB.load(), qd::test::memoryKiB(bridge.pid(), "VmRSS"));
      std::this_thread::sleep_for(10ms);
    }
  });
  taken = 0;
  std::atomic<bool> allWritten{false};
  std::thread writer([&] {
    for (int id = 2; id < 2 + calls; ++id) {
      if (!bridge.write(makeCall(id), taken)) break;
    }
    allWritten = true;
  });
  // Waiting: until everything is written, or the bridge has taken nothing for 3 s.
  std::size_t lastTaken = 0;
  auto lastProgress = Clock::now();
  while (!allWritten.load() && Clock::now() - lastProgress < 3s) {
    std::this_thread::sleep_for(50ms);
    if (taken.load() != lastTaken) {
      lastTaken = taken.load();
      lastProgress = Clock::now();
    }
  }
  std::this_thread::sleep_for(500ms);
  figures.peakWaitingKiB = peakKiB.load();

  const auto back = Clock::now();
  daemon.startAndWait();
  for (int i = 0; i < calls; ++i) {
    const qd::Json reply = bridge.read(120s);
    if (reply.is_null()) break;
    if (reply.contains("result") && !reply["result"].value("isError", false)) {
      ++figures.answered;
    } else {
      ++figures.failed;
    }
  }
  figures.secondsToAnswer = std::chrono::duration<double>(Clock::now() - back).count();
  writer.join();
  sampling = false;
  sampler.join();
  figures.peakKiB = std::max(peakKiB.load(), qd::test::memoryKiB(bridge.pid(), "VmHWM"));
  bridge.finish();
  daemon.signal(SIGTERM);
  daemon.waitForExit();
  return figures;
}

double mb(long kib) { return static_cast<double>(kib) / 1024.0; }

}  // namespace

int main(int argc, char** argv) {
  const int calls = argc > 1 ? std::max(1, std::atoi(argv[1])) : 150;
  qd::ignoreSigpipe();
  std::printf("%d calls of %zu-byte daemon lines waiting for the daemon, then answered\n", calls, kLineBytes);
  std::printf("%-13s %10s %16s %12s %9s %7s %8s\n", "kind", "idle MB", "peak waiting MB", "peak MB", "answered",
              "failed", "seconds");
  bool ok = true;
  const std::pair<const char*, std::string (*)(int)> kinds[] = {{"plain text", &plainTextCall},
                                                                {"small values", &smallValuesCall}};
  for (const auto& [kind, makeCall] : kinds) {
    const Figures f = run(kind, makeCall, calls);
    std::printf("%-13s %10.1f %16.1f %12.1f %9d %7d %8.1f\n", kind, mb(f.idleKiB), mb(f.peakWaitingKiB),
                mb(f.peakKiB), f.answered, f.failed, f.secondsToAnswer);
    std::fflush(stdout);
    ok = ok && f.answered == calls;
  }
  return ok ? 0 : 1;
}
