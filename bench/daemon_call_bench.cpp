// bench-deps: qd_config qd_runtime qd_utilities
// call_tool of a trivial helper tool (health_check) through the real daemon's socket, from
// 1 and 8 concurrent clients, beside the floor: a bare Unix-socket echo on asio in the same
// run, with the same clients and a line of the same size. The daemon runs as its own
// process (started with TINDERBOX_RATE_LIMIT_REQUESTS=10000; each connection stays below
// 10,000 lines a minute). Also prints the idle daemon's resident memory. Each figure is
// the best of three alternating runs.
// Usage: daemon_call_bench [calls per client, at most 9000]

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>

#include "daemon/runtime/io_thread.h"
#include "socket_bench_support.h"
#include "support/daemon_process.h"

namespace {

using qd::bench::Result;

std::string callLine(int id) {
  return R"({"method":"call_tool","params":{"name":"health_check","arguments":{}},"_requestId":)" +
         std::to_string(id) + "}\n";
}

// VmRSS of the process, in KiB.
long residentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int trips = std::min(argc > 1 ? std::atoi(argv[1]) : 9000, 9000);
  char pattern[] = "/tmp/qd-bench-XXXXXX";
  if (!::mkdtemp(pattern)) return 1;
  const std::string dir = pattern;

  qd::test::DaemonProcess daemon(dir, {{"TINDERBOX_RATE_LIMIT_REQUESTS", "10000"}});
  daemon.startAndWait();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // settled, idle
  const long idleKiB = residentKiB(daemon.pid());

  const std::string echoPath = dir + "/echo.sock";
  qd::IoThread echoIo;
  auto acceptor = std::make_shared<qd::bench::stream_protocol::acceptor>(
      echoIo.context(), qd::bench::stream_protocol::endpoint(echoPath));
  asio::co_spawn(echoIo.executor(), qd::bench::echoAccept(acceptor), asio::detached);

  std::printf("%d calls per client, request line of %zu bytes\n", trips, callLine(trips).size());
  std::printf("idle daemon resident memory: %.1f MB\n\n", static_cast<double>(idleKiB) / 1024.0);
  std::printf("%-8s %-22s %14s %9s %9s\n", "clients", "server", "calls/s", "p50 us", "p99 us");
  for (int clients : {1, 8}) {
    Result echo, ours;
    for (int round = 0; round < 3; ++round) {
      const Result e = qd::bench::measure(echoPath, clients, trips, callLine);
      const Result o = qd::bench::measure(daemon.socketPath(), clients, trips, callLine);
      if (e.perSecond > echo.perSecond) echo = e;
      if (o.perSecond > ours.perSecond) ours = o;
    }
    std::printf("%-8d %-22s %14.0f %9.1f %9.1f\n", clients, "bare echo (floor)", echo.perSecond, echo.p50us,
                echo.p99us);
    std::printf("%-8d %-22s %14.0f %9.1f %9.1f\n", clients, "daemon call_tool", ours.perSecond, ours.p50us,
                ours.p99us);
    std::printf("%-8d %-22s %14.2f\n\n", clients, "ratio daemon / floor", ours.perSecond / echo.perSecond);
  }
  std::printf("daemon resident memory after the runs: %.1f MB\n",
              static_cast<double>(residentKiB(daemon.pid())) / 1024.0);

  daemon.signal(SIGTERM);
  const std::optional<int> status = daemon.waitForExit();
  echoIo.stop();
  std::filesystem::remove_all(dir);
  return status == 0 ? 0 : 1;
}
