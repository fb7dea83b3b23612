// bench-deps: qd_config qd_runtime qd_utilities
// The whole road of a note-app call: a line client on the daemon's socket, the daemon, its
// supervised note app (the reference server "server-everything") and back, calling the
// server's echo tool; beside the floor measured in the same run: the same kind of blocking
// line client speaking JSON-RPC to the same server directly over its standard streams.
// Sequential calls give p50, p99 and calls/s for both, and their ratios. Then 200 calls
// written at once on one connection, each answered with its own id, and the time until the
// last answer. The daemon runs as its own process with TINDERBOX_RATE_LIMIT_REQUESTS=10000.
// Usage: note_app_road_bench <path of server-everything's dist/index.js> [calls, at most 9000]

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "daemon/runtime/child_process.h"
#include "daemon/utilities/atomic_file.h"
#include "daemon/utilities/json.h"
#include "socket_bench_support.h"
#include "support/daemon_process.h"

namespace {

using qd::bench::Clock;
using qd::bench::Result;

// Whole lines from a blocking descriptor.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}
  std::string next() {
    for (;;) {
      if (const auto end = buffer_.find('\n'); end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return line;
      }
      char chunk[65536];
      const ssize_t n = ::read(fd_, chunk, sizeof chunk);
      if (n <= 0) {
        std::fprintf(stderr, "the peer closed its output\n");
        std::exit(1);
      }
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

 private:
  int fd_;
  std::string buffer_;
};

void writeAll(int fd, const std::string& text) {
  std::size_t sent = 0;
  while (sent < text.size()) {
    const ssize_t n = ::write(fd, text.data() + sent, text.size() - sent);
    if (n <= 0) std::abort();
    sent += static_cast<std::size_t>(n);
  }
}

Result summarise(std::vector<double> micros, double seconds) {
  std::sort(micros.begin(), micros.end());
  return {static_cast<double>(micros.size()) / seconds, micros[micros.size() / 2], micros[micros.size() * 99 / 100]};
}

// The floor: JSON-RPC straight to the server. Its notifications are read past.
Result direct(const std::string& wrapper, int calls) {
  qd::SpawnOptions options = qd::spawnOptions(wrapper);
  options.stderrMode = qd::StdioMode::null;
  auto child = qd::ChildProcess::spawn(options);
  qd::UniqueFd in = child->takeStdin(), out = child->takeStdout();
  LineReader reader(out.get());
  const auto answerTo = [&](std::int64_t id) {
    for (;;) {
      const qd::Json message = qd::parseJson(reader.next());
      if (message.contains("id") && message["id"] == id) return;
    }
  };
  writeAll(in.get(), R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2024-11-05",)"
                     R"("capabilities":{},"clientInfo":{"name":"bench","version":"1"}}})" "\n");
  answerTo(0);
  writeAll(in.get(), R"({"jsonrpc":"2.0","method":"notifications/initialized"})" "\n");
  std::vector<double> micros;
  const auto begin = Clock::now();
  for (int i = 1; i <= calls; ++i) {
    const std::string line = R"({"jsonrpc":"2.0","id":)" + std::to_string(i) +
                             R"(,"method":"tools/call","params":{"name":"echo","arguments":{"message":"hi"}}})" "\n";
    const auto start = Clock::now();
    writeAll(in.get(), line);
    answerTo(i);
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  child->signalGroup(SIGTERM);
  child->reap();
  return summarise(std::move(micros), seconds);
}

std::string callLine(int id) {
  return R"({"method":"call_tool","params":{"name":"echo","arguments":{"message":"hi"}},"_requestId":)" +
         std::to_string(id) + "}\n";
}

// 200 calls written at once on one connection; every id must come back once.
double burst(const std::string& socketPath, int firstId) {
  constexpr int count = 200;
  qd::UniqueFd fd = qd::bench::connectTo(socketPath);
  std::string all;
  for (int i = 0; i < count; ++i) all += callLine(firstId + i);
  LineReader reader(fd.get());
  const auto begin = Clock::now();
  writeAll(fd.get(), all);
  std::set<std::int64_t> ids;
  for (int i = 0; i < count; ++i) {
    const qd::Json reply = qd::parseJson(reader.next());
    if (!reply.contains("content")) {
      std::fprintf(stderr, "a burst call failed: %s\n", qd::dumpJson(reply).c_str());
      std::exit(1);
    }
    ids.insert(reply["_requestId"].get<std::int64_t>());
  }
  if (ids.size() != count || *ids.begin() != firstId) {
    std::fprintf(stderr, "the burst's answers did not carry their own ids\n");
    std::exit(1);
  }
  return std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: note_app_road_bench <server-everything dist/index.js> [calls]\n");
    return 2;
  }
  const int calls = std::min(argc > 2 ? std::atoi(argv[2]) : 3000, 9000);
  char pattern[] = "/tmp/qd-bench-XXXXXX";
  if (!::mkdtemp(pattern)) return 1;
  const std::string dir = pattern;
  const std::string wrapper = dir + "/note-app";
  std::ofstream(wrapper) << "#!/bin/sh\nexec node " << argv[1] << " stdio\n";
  ::chmod(wrapper.c_str(), 0700);

  qd::test::DaemonProcess daemon(dir, {{"TINDERBOX_DISABLE", "0"},
                                       {"TINDERBOX_MCP_PATH", wrapper},
                                       {"TINDERBOX_RATE_LIMIT_REQUESTS", "10000"}});
  daemon.startAndWait();
  // Connected once the echo tool answers.
  for (int attempt = 0;; ++attempt) {
    qd::test::SocketLineClient probe(daemon.socketPath());
    const auto reply = probe.request(callLine(0).substr(0, callLine(0).size() - 1));
    if (reply && reply->find("\"content\"") != std::string::npos) break;
    if (attempt > 600) {
      std::fprintf(stderr, "the note app never connected: %s\n", daemon.stderrText().c_str());
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }

  std::printf("%d sequential echo calls per run, best of three alternating runs\n\n", calls);
  Result floor, road;
  for (int round = 0; round < 3; ++round) {
    const Result d = direct(wrapper, calls);
    const Result r = qd::bench::measure(daemon.socketPath(), 1, calls, callLine);
    if (d.perSecond > floor.perSecond) floor = d;
    if (r.perSecond > road.perSecond) road = r;
  }
  std::printf("%-34s %10s %9s %9s\n", "", "calls/s", "p50 us", "p99 us");
  std::printf("%-34s %10.0f %9.1f %9.1f\n", "direct to the server (floor)", floor.perSecond, floor.p50us, floor.p99us);
  std::printf("%-34s %10.0f %9.1f %9.1f\n", "socket -> daemon -> server", road.perSecond, road.p50us, road.p99us);
  std::printf("%-34s %10.2f %9.2f %9.2f\n\n", "ratio road / floor", road.perSecond / floor.perSecond,
              road.p50us / floor.p50us, road.p99us / floor.p99us);

  double best = 1e18;
  for (int round = 0; round < 3; ++round) best = std::min(best, burst(daemon.socketPath(), 1000 + round * 1000));
  std::printf("200 calls at once on one connection: last answer after %.1f ms (%.0f calls/s)\n", best,
              200.0 / (best / 1000.0));

  daemon.signal(SIGTERM);
  const std::optional<int> status = daemon.waitForExit();
  return status == 0 ? 0 : 1;
}
