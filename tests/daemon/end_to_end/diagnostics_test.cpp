// The diagnostic helpers through the real daemon program while its note app holds a call
// that does not end: they only read the daemon's state, so they answer at once, whether
// the request queue is busy or full; other calls keep the queue's limit.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "socket_session.h"

namespace qd {
namespace {

using namespace std::chrono_literals;

class DiagnosticsEndToEnd : public test::SocketSession {
 protected:
  // A queue that holds one waiting call, and calls that may run for minutes.
  void SetUp() override {
    startDaemon("dev", Json::object(),
                {{"TINDERBOX_DISABLE", "0"},
                 {"TINDERBOX_MCP_PATH", QD_FIXTURE_SERVER},
                 {"QD_FIXTURE_NOTE_APP", "1"},
                 {"TINDERBOX_MAX_QUEUE_LENGTH", "1"},
                 {"TINDERBOX_REQUEST_TIMEOUT", "600000"}});
  }

  // Writes a call line without waiting for its answer.
  void send(test::SocketLineClient& client, const std::string& tool, const Json& arguments) {
    client.sendLine(dumpJson(Json{{"method", "call_tool"},
                                  {"params", {{"name", tool}, {"arguments", arguments}}},
                                  {"_requestId", ++requestId_}}));
  }

  // health_check's text; "<no answer>" when none comes within far less than the hung call's time.
  std::string healthText(test::SocketLineClient& client) {
    send(client, "health_check", Json::object());
    const std::optional<std::string> line = client.readLine(30s);
    return line ? text(parseJson(*line)) : "<no answer>";
  }

  // Asks health_check until its text holds `needle`; its last text.
  std::string healthOnceItShows(test::SocketLineClient& client, const std::string& needle) {
    std::string health;
    for (int attempt = 0; attempt < 600; ++attempt) {
      health = healthText(client);
      if (health == "<no answer>" || health.find(needle) != std::string::npos) break;
      std::this_thread::sleep_for(50ms);
    }
    return health;
  }

  bool lists(test::SocketLineClient& client, const std::string& name) {
    const std::optional<std::string> reply = client.request(dumpJson(Json{{"method", "list_tools"}}));
    for (const Json& tool : parseJson(reply.value_or("{}")).value("tools", Json::array())) {
      if (tool.value("name", "") == name) return true;
    }
    return false;
  }
};

TEST_F(DiagnosticsEndToEnd, HealthAndSelfCheckAnswerWhileANoteAppCallHangsAndTheQueueIsFull) {
  auto probe = connect();
  for (int attempt = 0; attempt < 600 && !lists(*probe, "slow"); ++attempt) std::this_thread::sleep_for(50ms);
  ASSERT_TRUE(lists(*probe, "slow")) << daemon_->stderrText();

  // One call runs and does not end; a second waits behind it and fills the queue.
  auto hung = connect();
  send(*hung, "slow", {{"ms", 600000}});
  std::string health = healthOnceItShows(*probe, "\"activeWrite\": true");
  ASSERT_NE(health.find("\"activeWrite\": true"), std::string::npos) << health << daemon_->stderrText();

  auto waiting = connect();
  send(*waiting, "slow", {{"ms", 1}});
  health = healthOnceItShows(*probe, "\"queueLength\": 1");
  ASSERT_NE(health.find("\"queueLength\": 1"), std::string::npos) << health;

  // Every other call keeps the queue's limit; the diagnostics still answer.
  EXPECT_EQ(error(call(*probe, "echo", {{"text", "x"}})), "Queue is full (max 1 requests)");
  EXPECT_NE(healthText(*probe).find("\"status\": "), std::string::npos);
  const std::string selfCheck = text(call(*probe, "daemon_self_check", {{"operation", "status"}}));
  EXPECT_NE(selfCheck.find("\"isRunning\": true"), std::string::npos) << selfCheck;
}

}  // namespace
}  // namespace qd
