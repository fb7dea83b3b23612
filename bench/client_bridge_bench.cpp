// bench-deps: qd_mcp qd_config qd_runtime qd_utilities
// An AI client's view of the router: our MCPClient speaking MCP over standard streams to
// `quarvel-dorarov --client`, which carries each call over the daemon's socket to the
// daemon (started as its own process with TINDERBOX_RATE_LIMIT_REQUESTS=10000), beside the
// same client calling an MCP server directly over its standard streams. Two scenarios:
//   helper: the helper tool health_check through the bridge (default profile), beside the
//           "echo" tool of our fixture server called directly;
//   road:   server-everything's "echo" through `--client --profile tinderbox`, the daemon
//           and the daemon's note app (server-everything itself), beside the same server
//           called directly.
// Each prints sequential calls/s, p50 and p99 of both and their ratios (best of three
// alternating runs, each on a fresh process after a warm-up), then 200 calls started at
// once on one bridge: every one must be answered, and the ids written and the ids read on
// the client's stream must be the same 200, each once. Also the processor time per call of
// the bridge and of the daemon, to tell their work from the waiting between processes.
// Usage: client_bridge_bench <server-everything dist/index.js> [calls per run, at most 3000]
//        [helper|road]

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>

#include "daemon/mcp/mcp_client.h"
#include "daemon/mcp/stdio_transport.h"
#include "daemon/utilities/json.h"
#include "support/daemon_process.h"
#include "support/test_io.h"

namespace {

using Clock = std::chrono::steady_clock;
using qd::Json;
using Environment = std::map<std::string, std::string>;

struct Result {
  double perSecond = 0, p50us = 0, p99us = 0;
};

// The processor time a process has used so far (user and system), in microseconds.
double cpuMicros(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));  // after the command's name
  std::string field;
  double ticks = 0;
  for (int index = 3; fields >> field && index <= 15; ++index) {
    if (index >= 14) ticks += std::stod(field);  // utime, stime
  }
  return ticks * 1e6 / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// Passes everything through; while `recording`, notes the id of every request written and
// of every response read, so a burst can show that each answer came back on its own id.
class IdRecordingTransport final : public qd::MCPTransport {
 public:
  explicit IdRecordingTransport(std::shared_ptr<qd::MCPTransport> inner) : inner_(std::move(inner)) {}
  asio::awaitable<void> send(std::string message) override {
    if (recording) note(message, &written);
    co_await inner_->send(std::move(message));
  }
  asio::awaitable<void> start(qd::MessageHandler onMessage) override {
    // Named first: g++ 12 destroys a capturing lambda written inside co_await twice.
    qd::MessageHandler handler = [this, onMessage = std::move(onMessage)](std::string line) {
      if (recording) note(line, &read);
      onMessage(std::move(line));
    };
    co_await inner_->start(std::move(handler));
  }
  asio::awaitable<void> close() override { co_await inner_->close(); }
  void setInputEndedHandler(std::function<void()> handler) override { inner_->setInputEndedHandler(std::move(handler)); }
  void pauseReading() override { inner_->pauseReading(); }
  void resumeReading() override { inner_->resumeReading(); }

  bool recording = false;
  std::multiset<std::string> written, read;

 private:
  static void note(const std::string& line, std::multiset<std::string>* ids) {
    const Json message = qd::parseJson(line);
    if (message.contains("id")) ids->insert(qd::dumpJson(message["id"]));
  }
  std::shared_ptr<qd::MCPTransport> inner_;
};

// One MCP client on a program's standard streams, on the caller's io_context.
struct Session {
  Session(asio::io_context& io, const std::string& program, std::vector<std::string> arguments, Environment environment)
      : io(io) {
    stdio = std::make_shared<qd::StdioTransport>(io.get_executor(), program, std::move(arguments),
                                                 std::move(environment), std::chrono::seconds(5));
    transport = std::make_shared<IdRecordingTransport>(stdio);
    client = qd::MCPClient::create(io.get_executor(), transport, {"client-bridge-bench", "1"}, 60);
    qd::test::runAwaitable(io, [](std::shared_ptr<qd::MCPClient> c) -> asio::awaitable<void> {
      co_await c->start();
      co_await c->initialize({});
    }(client));
  }
  ~Session() { qd::test::runAwaitable(io, client->close()); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  asio::io_context& io;
  std::shared_ptr<qd::StdioTransport> stdio;
  std::shared_ptr<IdRecordingTransport> transport;
  std::shared_ptr<qd::MCPClient> client;
};

// What a call sends and what its answer must hold.
struct Call {
  std::string tool;
  std::function<Json(int)> arguments;
  std::function<bool(int, const std::string&)> answerFits;
};

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  std::exit(1);
}

void check(const Call& call, int index, const qd::CallToolResult& result) {
  const std::string text = result.content.empty() ? "" : result.content.front().text.value_or("");
  if (result.isError.value_or(false) || !call.answerFits(index, text)) {
    fail(call.tool + " answered " + qd::dumpJson(result.toJson()));
  }
}

asio::awaitable<std::vector<double>> sequential(std::shared_ptr<qd::MCPClient> client, Call call, int count) {
  std::vector<double> micros;
  micros.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    Json arguments = call.arguments(i);
    const auto start = Clock::now();
    const qd::CallToolResult result = co_await client->callTool(call.tool, std::move(arguments));
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    check(call, i, result);
  }
  co_return micros;
}

Result timedRun(asio::io_context& io, Session& session, const Call& call, int count) {
  qd::test::runAwaitable(io, sequential(session.client, call, 200));  // warm-up
  const auto begin = Clock::now();
  std::vector<double> micros = qd::test::runAwaitable(io, sequential(session.client, call, count));
  const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  std::sort(micros.begin(), micros.end());
  return {static_cast<double>(micros.size()) / seconds, micros[micros.size() / 2], micros[micros.size() * 99 / 100]};
}

// 200 calls started at once; the time until the last answer, in milliseconds.
double burst(asio::io_context& io, Session& session, const Call& call) {
  constexpr int count = 200;
  session.transport->written.clear();
  session.transport->read.clear();
  session.transport->recording = true;
  std::vector<std::shared_ptr<qd::test::StartedAwaitable<qd::CallToolResult>>> calls;
  const auto begin = Clock::now();
  for (int i = 0; i < count; ++i) {
    calls.push_back(qd::test::startAwaitable(io, session.client->callTool(call.tool, call.arguments(i))));
  }
  for (int i = 0; i < count; ++i) check(call, i, qd::test::finishAwaitable(io, calls[static_cast<std::size_t>(i)]));
  const double millis = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
  session.transport->recording = false;
  const auto& ids = session.transport->written;
  if (ids.size() != count || std::set<std::string>(ids.begin(), ids.end()).size() != count ||
      session.transport->read != ids) {
    fail("the burst's answers did not come back once each on their own ids");
  }
  return millis;
}

struct Side {
  std::string label;
  std::function<std::unique_ptr<Session>()> open;
  Call call;
};

// Also reports the processor time per call of the bridge and of the daemon (`daemonPid`)
// during the bridge's timed runs, to tell work from waiting.
void compare(asio::io_context& io, const Side& floor, const Side& road, int count, pid_t daemonPid) {
  Result best[2];
  double bridgeCpu = 0, daemonCpu = 0;
  for (int round = 0; round < 3; ++round) {
    for (int side = 0; side < 2; ++side) {
      const Side& s = side == 0 ? floor : road;
      auto session = s.open();
      const pid_t child = session->stdio->processPID().value_or(0);
      const double childBefore = cpuMicros(child), daemonBefore = cpuMicros(daemonPid);
      const Result r = timedRun(io, *session, s.call, count);
      if (side == 1) {
        bridgeCpu += cpuMicros(child) - childBefore;
        daemonCpu += cpuMicros(daemonPid) - daemonBefore;
      }
      if (r.perSecond > best[side].perSecond) best[side] = r;
    }
  }
  std::printf("%-46s %10s %9s %9s\n", "", "calls/s", "p50 us", "p99 us");
  for (int side = 0; side < 2; ++side) {
    std::printf("%-46s %10.0f %9.1f %9.1f\n", (side == 0 ? floor : road).label.c_str(), best[side].perSecond,
                best[side].p50us, best[side].p99us);
  }
  std::printf("%-46s %10.2f %9.2f %9.2f\n", "ratio bridge / direct", best[1].perSecond / best[0].perSecond,
              best[1].p50us / best[0].p50us, best[1].p99us / best[0].p99us);
  const double calls = 3.0 * (count + 200);  // the warm-up's calls included
  std::printf("processor time per call through the bridge: bridge %.1f us, daemon %.1f us\n", bridgeCpu / calls,
              daemonCpu / calls);
  double fastest = 1e18;
  for (int round = 0; round < 3; ++round) {
    auto session = road.open();
    fastest = std::min(fastest, burst(io, *session, road.call));
  }
  std::printf("200 calls at once through one bridge: last answer after %.1f ms (%.0f calls/s), every id once\n\n",
              fastest, 200.0 / (fastest / 1000.0));
}

void stop(qd::test::DaemonProcess& daemon) {
  daemon.signal(SIGTERM);
  if (daemon.waitForExit() != 0) fail("the daemon did not stop cleanly: " + daemon.stderrText());
}

Call echoCall(const char* argument) {
  const std::string key = argument;
  return {"echo", [key](int i) { return Json{{key, "call " + std::to_string(i)}}; },
          [](int i, const std::string& text) { return text.find("call " + std::to_string(i)) != std::string::npos; }};
}

void helperScenario(asio::io_context& io, const std::string& dir, int count) {
  std::filesystem::create_directories(dir + "/helper");
  qd::test::DaemonProcess daemon(dir + "/helper", {{"TINDERBOX_RATE_LIMIT_REQUESTS", "10000"}});
  daemon.startAndWait();
  const Environment environment = daemon.environment();
  const Side direct{"fixture server's echo, direct",
                    [&] { return std::make_unique<Session>(io, QD_FIXTURE_SERVER, std::vector<std::string>{}, environment); },
                    echoCall("text")};
  const Side bridge{"health_check via --client -> daemon",
                    [&] {
                      return std::make_unique<Session>(io, QD_DAEMON_EXECUTABLE, std::vector<std::string>{"--client"},
                                                       environment);
                    },
                    {"health_check", [](int) { return Json::object(); },
                     [](int, const std::string& text) { return !text.empty(); }}};
  std::printf("helper tool: %d sequential calls per run\n", count);
  compare(io, direct, bridge, count, daemon.pid());
  stop(daemon);
}

void roadScenario(asio::io_context& io, const std::string& dir, const std::string& everything, int count) {
  const std::string wrapper = dir + "/note-app";
  std::ofstream(wrapper) << "#!/bin/sh\nexec node " << everything << " stdio\n";
  ::chmod(wrapper.c_str(), 0700);
  std::filesystem::create_directories(dir + "/road");
  qd::test::DaemonProcess daemon(dir + "/road", {{"TINDERBOX_DISABLE", "0"},
                                                 {"TINDERBOX_MCP_PATH", wrapper},
                                                 {"TINDERBOX_RATE_LIMIT_REQUESTS", "10000"}});
  daemon.startAndWait();
  // The bridge offers the note app's tools once the daemon has connected to it.
  const std::string probe = R"({"method":"call_tool","params":{"name":"echo","arguments":{"message":"hi"}},"_requestId":0})";
  for (int attempt = 0;; ++attempt) {
    qd::test::SocketLineClient client(daemon.socketPath());
    const auto reply = client.request(probe);
    if (reply && reply->find("\"content\"") != std::string::npos) break;
    if (attempt > 600) fail("the note app never connected: " + daemon.stderrText());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const Environment environment = daemon.environment();
  const Side direct{"server-everything's echo, direct",
                    [&] { return std::make_unique<Session>(io, wrapper, std::vector<std::string>{}, environment); },
                    echoCall("message")};
  const Side bridge{"echo via --client -> daemon -> server-everything",
                    [&] {
                      return std::make_unique<Session>(
                          io, QD_DAEMON_EXECUTABLE, std::vector<std::string>{"--client", "--profile", "tinderbox"},
                          environment);
                    },
                    echoCall("message")};
  std::printf("whole road: %d sequential calls per run\n", count);
  compare(io, direct, bridge, count, daemon.pid());
  stop(daemon);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: client_bridge_bench <server-everything dist/index.js> [calls] [helper|road]\n");
    return 2;
  }
  const int count = std::clamp(argc > 2 ? std::atoi(argv[2]) : 2000, 100, 3000);
  const std::string only = argc > 3 ? argv[3] : "";
  char pattern[] = "/tmp/qd-bench-XXXXXX";
  if (!::mkdtemp(pattern)) return 1;
  const std::string dir = pattern;
  asio::io_context io;
  if (only.empty() || only == "helper") helperScenario(io, dir, count);
  if (only.empty() || only == "road") roadScenario(io, dir, argv[1], count);
  std::filesystem::remove_all(dir);
  return 0;
}
