// The --client program as an AI client runs it, against the real daemon program: its
// standard input and output are pipes the test holds.

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "daemon/cli/tinderbox_client.h"
#include "daemon/runtime/child_process.h"
#include "daemon/runtime/process_signals.h"
#include "daemon/utilities/json.h"
#include "support/daemon_process.h"
#include "support/process_table.h"
#include "support/temp_dir.h"

namespace qd {
namespace {

using namespace std::chrono_literals;

class BridgeProcess {
 public:
  // `extraEnvironment` is added to the daemon's environment, and wins.
  explicit BridgeProcess(const test::DaemonProcess& daemon, std::map<std::string, std::string> extraEnvironment = {}) {
    ignoreSigpipe();
    SpawnOptions options = spawnOptions(test::DaemonProcess::executable().string(), {"--client"});
    options.environmentOverlay = daemon.environment();
    for (auto& [name, value] : extraEnvironment) (*options.environmentOverlay)[name] = value;
    child_ = ChildProcess::spawn(options);
    input_ = child_->takeStdin();
    output_ = child_->takeStdout();
    errors_ = child_->takeStderr();
  }

  pid_t pid() const { return child_->pid(); }

  void write(const std::string& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t n = ::write(input_.get(), bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      ASSERT_GT(n, 0) << "the bridge stopped reading: " << std::strerror(errno);
      done += static_cast<std::size_t>(n);
    }
  }
  // The next message the bridge writes; null when none comes within a generous time.
  Json read() {
    const std::optional<std::string> line = test::readLineFrom(output_.get(), buffered_, 60s);
    return line ? parseJson(*line) : Json();
  }
  void closeInput() { input_.reset(); }
  void kill() { ::kill(pid(), SIGKILL); }

  // Reads the bridge's standard error until a line holds `text`; false when none does within
  // a generous time. What was read stays for finish().
  bool waitForError(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      const std::optional<std::string> line = test::readLineFrom(errors_.get(), errorsBuffered_, left);
      if (!line) return false;
      errorsRead_ += *line + "\n";
      if (line->find(text) != std::string::npos) return true;
    }
  }

  // Its exit status and what it wrote to standard error, once it has ended.
  std::pair<ExitStatus, std::string> finish() {
    std::string errors = std::exchange(errorsRead_, {}) + std::exchange(errorsBuffered_, {});
    char chunk[4096];
    for (ssize_t n; (n = ::read(errors_.get(), chunk, sizeof chunk)) != 0;) {
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) break;
      errors.append(chunk, static_cast<std::size_t>(n));
    }
    return {child_->reap(), errors};
  }

 private:
  std::unique_ptr<ChildProcess> child_;
  UniqueFd input_, output_, errors_;
  std::string buffered_;
  std::string errorsRead_, errorsBuffered_;
};

std::string ping(int id) { return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"method":"ping"})" "\n"; }

class ClientModeProgram : public ::testing::Test {
 protected:
  test::TempDir home_{"bridge"};
  test::DaemonProcess daemon_{home_.path()};
};

std::string healthCheck(int id) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
         R"(,"method":"tools/call","params":{"name":"health_check","arguments":{}}})" "\n";
}

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

// The rate limit belongs to the bridge's process, not to its connection: the bridge
// connects again after the daemon closed it for the limit, and its calls still fail until
// the window (a minute) has passed. The daemon's log stays a line a second.
TEST(ClientModeProgramRateLimit, CallsPastTheDaemonsRateLimitFailAlsoOverTheBridgesNewConnections) {
  const auto start = std::chrono::steady_clock::now();
  test::TempDir home("bridge");
  test::DaemonProcess daemon(home.path(), {{"TINDERBOX_RATE_LIMIT_REQUESTS", "5"}});
  daemon.startAndWait();
  BridgeProcess bridge(daemon);
  // The tool list took one line of the five; ten calls at once trip the limit. They come
  // in one write, so the bridge sends all ten on its first connection.
  std::string burst;
  for (int id = 1; id <= 10; ++id) burst += healthCheck(id);
  bridge.write(burst);
  int failed = 0;
  for (int i = 0; i < 10; ++i) {
    const Json reply = bridge.read();
    ASSERT_TRUE(reply.contains("result")) << reply;
    if (reply["result"].value("isError", false)) {
      EXPECT_EQ(reply["result"]["content"][0]["text"], "Error: Connection to daemon closed");
      ++failed;
    }
  }
  EXPECT_EQ(failed, 6);  // the calls after the fifth line

  // Each of these connects again, and the daemon closes the new connection unanswered.
  for (int id = 11; id <= 40; ++id) {
    bridge.write(healthCheck(id));
    const Json next = bridge.read();
    EXPECT_EQ(next["id"], id);
    EXPECT_EQ(next["result"]["content"][0]["text"], "Error: Connection to daemon closed") << next;
  }
  bridge.closeInput();
  EXPECT_EQ(bridge.finish().first, (ExitStatus{false, 0}));

  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
  const std::string log = daemon.stderrText();
  EXPECT_EQ(occurrences(log, "Client connection error"), 0u) << log;
  const std::size_t warnings = occurrences(log, "Rate limit exceeded");
  EXPECT_GE(warnings, 1u);
  EXPECT_LE(warnings, static_cast<std::size_t>(seconds.count()) + 1) << log;
  EXPECT_NE(log.find("\"omitted\":"), std::string::npos) << log;
}

TEST_F(ClientModeProgram, AnEndlessLineIsAnsweredAsItGoesOverTheLimitAndTheBridgeStaysSmall) {
  daemon_.startAndWait();
  BridgeProcess bridge(daemon_);
  bridge.write(ping(1));
  ASSERT_EQ(bridge.read()["id"], 1);
  const long peakBeforeKiB = test::memoryKiB(bridge.pid(), "VmHWM");

  // A request as the SDKs write it, its "id" last, with an argument of 256 MiB.
  const Json refusal{{"code", -32600}, {"message", "Message too large (over 16 MiB)"}};
  const std::string chunk(1 << 20, 'x');
  bridge.write(R"({"jsonrpc":"2.0","method":"tools/call","params":{"name":"health_check","arguments":{"text":")");
  for (int mib = 0; mib < 17; ++mib) bridge.write(chunk);
  // Answered while the line goes on, though its id is not known yet.
  EXPECT_EQ(bridge.read(), (Json{{"jsonrpc", "2.0"}, {"error", refusal}}));
  for (int mib = 17; mib < 256; ++mib) bridge.write(chunk);
  bridge.write(R"("}},"id":2})" "\n");
  // Its end names the request: the refusal again, with the id, and the session goes on.
  EXPECT_EQ(bridge.read(), (Json{{"jsonrpc", "2.0"}, {"id", 2}, {"error", refusal}}));
  bridge.write(ping(3));
  EXPECT_EQ(bridge.read()["id"], 3);

  // What the line added to the bridge's peak is its buffer, within the 16 MiB limit, and
  // (under the sanitizers) the buffers it outgrew: under half the 256 MiB written.
  const long addedKiB = test::memoryKiB(bridge.pid(), "VmHWM") - peakBeforeKiB;
  EXPECT_LT(addedKiB, 128 * 1024) << "added to the peak, KiB";
  bridge.closeInput();
  EXPECT_EQ(bridge.finish().first, (ExitStatus{false, 0}));
}

// A health_check call whose line to the daemon, its line feed included, is `lineBytes`
// long when the bridge sends it with a one-digit request id.
std::string healthCheckOfLine(int id, std::size_t lineBytes) {
  const Json empty{{"method", "call_tool"},
                   {"_requestId", 1},
                   {"params", {{"name", "health_check"}, {"arguments", {{"text", ""}}}}}};
  const std::string text(lineBytes - dumpJson(empty).size() - 1, 'x');
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
         R"(,"method":"tools/call","params":{"name":"health_check","arguments":{"text":")" + text + "\"}}}\n";
}

// The daemon drops a connection when more than 1 MiB waits after one 64 KiB read, and
// that read may carry the start of the next line. Lines up to the bridge's bound, sent
// among other calls, are all answered; one byte more is refused, and so is any oversized
// call while the daemon is away, at once and without holding what it carried.
TEST_F(ClientModeProgram, RequestsUpToTheBoundAreAnsweredAmongOthersAndLongerOnesAreRefusedBeforeConnecting) {
  daemon_.startAndWait();
  // Under the address sanitizer freed memory is held back for a while; without that the
  // peak below shows what the bridge itself holds.
  BridgeProcess bridge(daemon_, {{"ASAN_OPTIONS", test::sanitizerOptionsWithoutQuarantine()}});
  const std::size_t bound = TinderboxClient::maxRequestLineBytes;
  const std::string refusal = "Error: Request too large for the daemon (over 1 MiB)";

  // Request ids 1 to 7 (list_tools took 0): three lines at the bound between calls of
  // 200 KB, written at once, so each goes out while another is in flight.
  std::string burst;
  for (int id = 1; id <= 7; ++id) burst += healthCheckOfLine(id, id % 2 == 0 ? bound : 200000);
  bridge.write(burst);
  for (int i = 0; i < 7; ++i) {
    const Json reply = bridge.read();
    ASSERT_TRUE(reply.contains("result")) << reply;
    EXPECT_FALSE(reply["result"].value("isError", false)) << reply["id"] << ": " << reply["result"];
  }
  bridge.write(healthCheckOfLine(8, bound + 1));
  const Json over = bridge.read();
  EXPECT_EQ(over["id"], 8);
  EXPECT_EQ(over["result"]["content"][0]["text"], refusal) << over;
  bridge.write(healthCheck(9));
  const Json after = bridge.read();
  EXPECT_EQ(after["id"], 9);
  EXPECT_FALSE(after["result"].value("isError", false)) << after;

  // The daemon goes away; 32 calls of 4 MiB each come while it is gone. Each is refused
  // before the bridge tries to connect (which would take the 30 s connection time-out and
  // answer "Failed to connect to daemon").
  daemon_.signal(SIGTERM);
  ASSERT_EQ(daemon_.waitForExit(), 0);
  const long peakBeforeKiB = test::memoryKiB(bridge.pid(), "VmHWM");
  const std::string big(4 << 20, 'x');
  for (int id = 10; id < 42; ++id) {
    bridge.write(R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
                 R"(,"method":"tools/call","params":{"name":"health_check","arguments":{"text":")" + big + "\"}}}\n");
  }
  for (int id = 10; id < 42; ++id) {
    const Json reply = bridge.read();
    ASSERT_TRUE(reply.contains("result")) << reply;
    EXPECT_EQ(reply["result"]["content"][0]["text"], refusal) << reply;
  }
  // Each call's text is let go when it is refused: its peak grows by a few calls' worth,
  // not by the 128 MiB written.
  const long addedKiB = test::memoryKiB(bridge.pid(), "VmHWM") - peakBeforeKiB;
  EXPECT_LT(addedKiB, 64 * 1024) << "added to the peak, KiB";
  bridge.closeInput();
  EXPECT_EQ(bridge.finish().first, (ExitStatus{false, 0}));
}

// Calls that come while the daemon is away wait for it. The bridge stops reading its input
// once the calls it holds come to 64 MiB of text, far short of its 256 messages, and reads
// on as they are answered: every call is answered once the daemon is back.
TEST_F(ClientModeProgram, CallsWaitingForTheDaemonPauseTheInputAtTheByteBoundAndAllAreAnsweredOnceItIsBack) {
  daemon_.startAndWait();
  BridgeProcess bridge(daemon_, {{"ASAN_OPTIONS", test::sanitizerOptionsWithoutQuarantine()},
                                 {"TINDERBOX_CONNECTION_TIMEOUT", "300000"}});
  bridge.write(ping(1));
  ASSERT_EQ(bridge.read()["id"], 1);
  daemon_.signal(SIGTERM);
  ASSERT_EQ(daemon_.waitForExit(), 0);
  // The bridge has seen its connection end, so every call below waits for the reconnect.
  ASSERT_TRUE(bridge.waitForError("Receive error"));
  const long peakBeforeKiB = test::memoryKiB(bridge.pid(), "VmHWM");

  // 72 calls of 0.94 MB each; the writes block while the bridge does not read.
  constexpr int calls = 72;
  const std::size_t lineBytes = TinderboxClient::maxRequestLineBytes - 1000;
  std::thread writer([&] {
    for (int id = 2; id < 2 + calls; ++id) bridge.write(healthCheckOfLine(id, lineBytes));
  });
  // A failed assertion leaves the writer blocked on a bridge that does not read.
  struct JoinWriter {
    std::thread& writer;
    BridgeProcess& bridge;
    ~JoinWriter() {
      if (!writer.joinable()) return;
      if (::testing::Test::HasFailure()) bridge.kill();
      writer.join();
    }
  } joinWriter{writer, bridge};
  EXPECT_TRUE(bridge.waitForError("Too much text in flight; pausing input"));
  // What the waiting calls hold is their lines to the daemon, up to the bound.
  const long addedKiB = test::memoryKiB(bridge.pid(), "VmHWM") - peakBeforeKiB;
  EXPECT_LT(addedKiB, 160 * 1024) << "added to the peak, KiB";

  daemon_.startAndWait();
  std::set<int> answered;
  for (int i = 0; i < calls; ++i) {
    const Json reply = bridge.read();
    ASSERT_TRUE(reply.contains("result")) << reply;
    EXPECT_FALSE(reply["result"].value("isError", false)) << reply["id"] << ": " << reply["result"];
    answered.insert(reply["id"].get<int>());
  }
  writer.join();
  EXPECT_EQ(answered.size(), static_cast<std::size_t>(calls));
  EXPECT_EQ(*answered.begin(), 2);
  EXPECT_EQ(*answered.rbegin(), 1 + calls);
  bridge.closeInput();
  EXPECT_EQ(bridge.finish().first, (ExitStatus{false, 0}));
}

TEST_F(ClientModeProgram, TheClientOverTheDaemonsConnectionLimitIsToldWhy) {
  daemon_.startAndWait();
  std::vector<std::unique_ptr<test::SocketLineClient>> connected;
  for (int i = 0; i < 100; ++i) {
    connected.push_back(std::make_unique<test::SocketLineClient>(daemon_.socketPath()));
    ASSERT_TRUE(connected.back()->request(R"({"method":"initialize","_requestId":0})")) << i;
  }
  test::SocketLineClient refused(daemon_.socketPath());
  EXPECT_EQ(refused.readLine(), R"json({"error":"Too many clients (max 100)"})json");
  EXPECT_EQ(refused.readLine(), std::nullopt);

  BridgeProcess bridge(daemon_);
  const auto [status, errors] = bridge.finish();
  EXPECT_EQ(status, (ExitStatus{false, 1}));
  EXPECT_NE(errors.find("Error: Daemon error: Too many clients (max 100)\n"), std::string::npos) << errors;
  EXPECT_TRUE(bridge.read().is_null());  // nothing on the MCP channel
}

}  // namespace
}  // namespace qd
