// bench-deps: qd_config qd_utilities
// The daemon's resident memory after many finished jobs that each printed 1 MiB: jobs
// queued through the real daemon's socket ("jobs" enqueue, spread over 8 agents so 8 run
// at once), awaited through "jobs status", and then the daemon's VmRSS beside its idle
// figure from the same run, with the size of the one-line "jobs list" answer.
// Usage: finished_jobs_memory_bench [jobs] (default 1000)

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "daemon/utilities/atomic_file.h"
#include "daemon/utilities/json.h"
#include "support/daemon_process.h"

namespace {

// VmRSS or VmHWM of the process, in MB.
double memoryMB(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) == 0) return static_cast<double>(std::stol(line.substr(field.size() + 1))) / 1024.0;
  }
  return -1;
}

class JobsClient {
 public:
  explicit JobsClient(const std::string& socketPath) : socket_(socketPath) {}

  // The reply line to one "jobs" call (empty when none came).
  std::string call(const qd::Json& arguments) {
    const qd::Json request{{"method", "call_tool"},
                           {"params", {{"name", "jobs"}, {"arguments", arguments}}},
                           {"_requestId", ++id_}};
    return socket_.request(qd::dumpJson(request)).value_or("");
  }
  // The text of a reply's first content item.
  static std::string text(const std::string& line) {
    const qd::Json reply = qd::parseJson(line);
    return reply.contains("content") ? reply["content"][0]["text"].get<std::string>() : line;
  }

 private:
  qd::test::SocketLineClient socket_;
  long id_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const int jobs = argc > 1 ? std::atoi(argv[1]) : 1000;
  char pattern[] = "/tmp/qd-bench-XXXXXX";
  if (!::mkdtemp(pattern)) return 1;
  const std::string dir = pattern;

  qd::test::DaemonProcess daemon(dir, {{"TINDERBOX_FEATURE_TIER", "beta"}, {"TINDERBOX_RATE_LIMIT_REQUESTS", "10000"}});
  const qd::Json settings{{"helperToolEnabled", {{"jobs", true}}}, {"maxConcurrentJobs", 8}};
  qd::writeFileAtomically(daemon.configuration().appSupportDir() / "tool-settings.json", qd::dumpJson(settings),
                          qd::AtomicWriteOptions{}.creatingFolder());
  daemon.startAndWait();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // settled, idle
  const double idle = memoryMB(daemon.pid(), "VmRSS");

  JobsClient client(daemon.socketPath());
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < jobs; ++i) {
    client.call({{"operation", "enqueue"},
                 {"command", "/bin/sh"},
                 {"arguments", {"-c", "head -c 1048576 /dev/zero | tr '\\0' x"}},
                 {"agentId", "bench-" + std::to_string(i % 8)}});
  }
  qd::Json status;
  for (;;) {
    status = qd::parseJson(JobsClient::text(client.call({{"operation", "status"}})));
    if (status["done"].get<long>() + status["failed"].get<long>() >= jobs) break;
    if (status["running"] == 0 && status["queued"] == 0) break;  // fewer records kept than jobs run
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const double after = memoryMB(daemon.pid(), "VmRSS");
  const double peak = memoryMB(daemon.pid(), "VmHWM");

  std::printf("%d jobs of 1 MiB output each, 8 at a time, finished in %.1f s (done %ld, failed %ld)\n", jobs, seconds,
              status["done"].get<long>(), status["failed"].get<long>());
  std::printf("idle daemon resident memory:            %8.1f MB\n", idle);
  std::printf("resident memory after the jobs:         %8.1f MB\n", after);
  std::printf("peak resident memory (VmHWM):           %8.1f MB\n", peak);
  std::printf("ratio after / idle:                     %8.1f\n", after / idle);
  std::fflush(stdout);

  const std::string list = client.call({{"operation", "list"}});
  if (list.empty()) {
    std::printf("jobs list: no answer within a minute\n");
  } else {
    const qd::Json listed = qd::parseJson(JobsClient::text(list));
    long whole = 0;
    for (const qd::Json& job : listed) {
      if (job["result"].is_string() && job["result"].get<std::string>().size() == (1u << 20)) ++whole;
    }
    std::printf("jobs list: %zu records, %ld with their whole output, one line of %.1f MB\n", listed.size(), whole,
                static_cast<double>(list.size()) / (1024.0 * 1024.0));
  }

  daemon.signal(SIGTERM);
  const std::optional<int> exit = daemon.waitForExit();
  std::filesystem::remove_all(dir);
  return exit == 0 ? 0 : 1;
}
