// bench-deps: qd_config qd_utilities qd_platform
// The daemon's resident memory and its health_check answers while its note app floods its
// standard output without a line end, beside the same figures of the idle daemon measured
// in the same run. The note app (a script) answers nothing and, once told, writes [MiB] of
// zero bytes; the daemon should stop it when the line passes its 64 MiB limit. One client
// calls health_check every 2 ms over the socket the whole time, and the daemon's VmRSS is
// sampled every 2 ms from the start of the flood until 2 s after the daemon stopped it (or
// after the note app wrote everything, when the daemon never does).
// Usage: note_app_flood_bench [MiB] (default 1024)

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/daemon_process.h"
#include "support/process_table.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kHealthCheck = R"({"method":"call_tool","params":{"name":"health_check","arguments":{}},"_requestId":1})";

struct Latencies {
  std::vector<double> us;
  double percentile(double p) {
    if (us.empty()) return 0;
    std::sort(us.begin(), us.end());
    return us[static_cast<std::size_t>(p * static_cast<double>(us.size() - 1))];
  }
};

// health_check round trips until `stop`, each timed, one every 2 ms at most: the daemon
// takes at most 10,000 lines a minute from one connection.
Latencies callUntil(qd::test::SocketLineClient& client, const std::atomic<bool>& stop) {
  Latencies out;
  auto next = Clock::now();
  while (!stop.load()) {
    std::this_thread::sleep_until(next);
    next += std::chrono::milliseconds(2);
    const auto start = Clock::now();
    if (!client.request(kHealthCheck)) {
      std::fprintf(stderr, "health_check got no answer\n");
      std::exit(1);
    }
    out.us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  return out;
}

double mb(long kib) { return static_cast<double>(kib) / 1024.0; }

}  // namespace

int main(int argc, char** argv) {
  const long mebibytes = argc > 1 ? std::atol(argv[1]) : 1024;
  char pattern[] = "/tmp/qd-bench-XXXXXX";
  if (!::mkdtemp(pattern)) return 1;
  const std::filesystem::path dir = pattern;
  const std::filesystem::path noteApp = dir / "note-app";
  std::ofstream(noteApp) << "#!/bin/sh\n"
                            "here=\"$(dirname \"$0\")\"\n"
                            "while [ ! -e \"$here/go\" ]; do sleep 0.05; done\n"
                            "head -c "
                         << mebibytes * 1048576
                         << " /dev/zero\n"
                            ": > \"$here/written\"\n"
                            "exec sleep 600\n";
  std::filesystem::permissions(noteApp, std::filesystem::perms::owner_all);

  qd::test::DaemonProcess daemon(dir, {{"TINDERBOX_DISABLE", "0"},
                                       {"TINDERBOX_MCP_PATH", noteApp.string()},
                                       {"TINDERBOX_RATE_LIMIT_REQUESTS", "10000"}});
  daemon.startAndWait();
  qd::test::SocketLineClient client(daemon.socketPath());

  // Idle: one second of calls, the note app started and waiting.
  std::atomic<bool> stop{false};
  std::thread idleTimer([&] {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    stop = true;
  });
  Latencies idle = callUntil(client, stop);
  idleTimer.join();
  const long idleKiB = qd::test::memoryKiB(daemon.pid(), "VmRSS");
  const long idlePeakKiB = qd::test::memoryKiB(daemon.pid(), "VmHWM");

  // The flood.
  stop = false;
  long floodPeakKiB = 0;
  double stoppedAfterMs = -1;
  bool allWritten = false;
  std::thread sampler([&] {
    const auto start = Clock::now();
    auto end = Clock::time_point::max();
    while (Clock::now() < end && Clock::now() - start < std::chrono::seconds(60)) {
      floodPeakKiB = std::max(floodPeakKiB, qd::test::memoryKiB(daemon.pid(), "VmRSS"));
      if (stoppedAfterMs < 0 &&
          daemon.stderrText().find("Process output line too long, stopping the process") != std::string::npos) {
        stoppedAfterMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        end = Clock::now() + std::chrono::seconds(2);
      }
      if (!allWritten && stoppedAfterMs < 0 && std::filesystem::exists(dir / "written")) {
        allWritten = true;
        end = Clock::now() + std::chrono::seconds(2);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    stop = true;
  });
  std::ofstream(dir / "go") << "";
  Latencies flood = callUntil(client, stop);
  sampler.join();
  const long afterKiB = qd::test::memoryKiB(daemon.pid(), "VmRSS");
  const long floodHwmKiB = qd::test::memoryKiB(daemon.pid(), "VmHWM");

  std::printf("flood of %ld MiB without a line end\n", mebibytes);
  if (stoppedAfterMs >= 0) {
    std::printf("note app stopped %.0f ms after it was told to flood\n", stoppedAfterMs);
  } else {
    std::printf("note app never stopped (%s)\n", allWritten ? "it wrote everything" : "within 60 s");
  }
  std::printf("\n%-26s %12s %12s\n", "resident memory (MB)", "VmRSS", "VmHWM");
  std::printf("%-26s %12.1f %12.1f\n", "idle", mb(idleKiB), mb(idlePeakKiB));
  std::printf("%-26s %12.1f %12.1f\n", "during the flood (peak)", mb(floodPeakKiB), mb(floodHwmKiB));
  std::printf("%-26s %12.1f\n", "2 s after the flood", mb(afterKiB));
  std::printf("\n%-26s %8s %10s %10s %10s\n", "health_check", "calls", "p50 us", "p99 us", "max us");
  for (auto* row : {&idle, &flood}) {
    const std::size_t calls = row->us.size();
    std::printf("%-26s %8zu %10.1f %10.1f %10.1f\n", row == &idle ? "idle (1 s)" : "during the flood", calls,
                row->percentile(0.5), row->percentile(0.99), row->percentile(1.0));
  }

  daemon.signal(SIGTERM);
  const std::optional<int> status = daemon.waitForExit();
  std::filesystem::remove_all(dir);
  return status == 0 && stoppedAfterMs >= 0 ? 0 : 1;
}
