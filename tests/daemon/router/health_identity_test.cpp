#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "daemon/router/debug_text.h"
#include "daemon_fixture.h"

namespace qd {
namespace {

TEST(DetermineHealthStatus, BoundsAreStrict) {
  struct Case {
    std::int64_t queueLength;
    std::optional<std::int64_t> avgLatencyMs;
    std::optional<double> errorRate;
    bool supervisor;
    bool pid;
    HealthStatus expected;
  };
  const Case cases[] = {
      {0, std::nullopt, std::nullopt, false, false, HealthStatus::unhealthy},
      {0, std::nullopt, std::nullopt, false, true, HealthStatus::unhealthy},
      {0, std::nullopt, std::nullopt, true, false, HealthStatus::degraded},
      {50, 5000, 0.1, true, true, HealthStatus::healthy},
      {51, std::nullopt, std::nullopt, true, true, HealthStatus::degraded},
      {0, 5001, std::nullopt, true, true, HealthStatus::degraded},
      {0, std::nullopt, 0.11, true, true, HealthStatus::degraded},
      {0, std::nullopt, std::nullopt, true, true, HealthStatus::healthy},
  };
  for (const Case& c : cases) {
    QueueStatus queue;
    queue.queueLength = c.queueLength;
    queue.avgLatencyMs = c.avgLatencyMs;
    queue.errorRate = c.errorRate;
    EXPECT_EQ(statusFrom(queue, c.supervisor, c.pid), c.expected) << c.queueLength << " " << c.supervisor;
  }
}

TEST(DebugText, RendersTheStatusToolsForm) {
  EXPECT_EQ(TinderboxDaemon::formatUptime(5), "0h 0m 5s");
  EXPECT_EQ(TinderboxDaemon::formatUptime(3725), "1h 2m 5s");
  EXPECT_EQ(TinderboxDaemon::formatUptime(59.9), "0h 0m 59s");
  EXPECT_EQ(TinderboxDaemon::formatUptime(90000), "25h 0m 0s");
  EXPECT_EQ(debug_text::number(12.0), "12.0");
  EXPECT_EQ(debug_text::number(0.25), "0.25");
  EXPECT_EQ(debug_text::optionalNumber(std::optional<double>()), "nil");
  EXPECT_EQ(debug_text::optionalNumber(std::optional<std::int64_t>(3)), "Optional(3)");
  EXPECT_EQ(debug_text::map({}), "[:]");
  EXPECT_EQ(debug_text::map({{"a", debug_text::quoted("x\"y")}, {"b", debug_text::boolean(true)}}),
            R"(["a": "x\"y", "b": true])");
}

using StatusToolsTest = test::DaemonFixture;

TEST_F(StatusToolsTest, WithoutTheNoteAppHealthIsUnhealthyAndSelfCheckNamesThePaths) {
  buildCatalog();
  const std::string health = text(call("health_check"));
  EXPECT_NE(health.find(R"("status": "unhealthy")"), std::string::npos) << health;
  EXPECT_NE(health.find(R"("tinderboxConnected": false)"), std::string::npos) << health;
  EXPECT_NE(health.find(R"("connectedClients": 0)"), std::string::npos) << health;
  EXPECT_NE(health.find(R"("minLatencyMs": nil)"), std::string::npos) << health;
  for (const char* operation : {"status", " status\n", "status\u00a0", ""}) {
    const std::string check = text(call("daemon_self_check", {{"operation", operation}}));
    EXPECT_NE(check.find(R"("isRunning": false)"), std::string::npos) << check;
    EXPECT_NE(check.find("\"socketPath\": \"" + configuration_.socketPath() + "\""), std::string::npos) << check;
    EXPECT_NE(check.find(R"("socketExists": false)"), std::string::npos) << check;
  }
}

class IdentifyTest : public test::DaemonFixture {
 protected:
  IdentifyTest() { buildCatalog(); }
  std::vector<std::string> authLog() const {
    std::ifstream in(daemon_->authLogPath());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
};

TEST_F(IdentifyTest, AnUnregisteredNameRegistersAnonymouslyAndIsLogged) {
  EXPECT_EQ(text(call("identify", {{"agentName", "scout"}})), "Registered as scout (anonymous)");
  EXPECT_EQ(daemon_->notificationQueue().getAgentName("client-0"), "scout");
  const std::vector<std::string> lines = authLog();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(
      lines[0], std::regex(R"(\[\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ\] \[INFO\] Agent 'scout' registered anonymously \(no authentication required\))")))
      << lines[0];
  EXPECT_EQ(error(call("identify", {{"agentName", 7}})), "Missing required parameter");
  EXPECT_EQ(error(call("identify", {{"agentName", "scout"}}, "client-1")), "Agent name 'scout' is already taken");
  EXPECT_EQ(error(call("identify", {{"agentName", "no spaces"}})).find("Invalid agent name"), 0u);
}

TEST_F(IdentifyTest, WrongSecretsCountTowardsALockoutThatSkipsAuthentication) {
  const std::string secret = daemon_->agentSecretsStore().createAgent("keeper").secret;
  EXPECT_EQ(error(call("identify", {{"agentName", "keeper"}})),
            "Agent 'keeper' is registered and requires authentication. Provide 'secret' parameter.");
  for (int attempt = 1; attempt <= 5; ++attempt) {
    EXPECT_EQ(error(call("identify", {{"agentName", "keeper"}, {"secret", "wrong"}})),
              "Authentication failed: Invalid secret for agent 'keeper'");
  }
  const std::string locked = error(call("identify", {{"agentName", "keeper"}, {"secret", secret}}));
  EXPECT_TRUE(std::regex_match(locked, std::regex(R"(Agent 'keeper' is rate limited\. Too many failed attempts\. Retry after (29|30) seconds\.)")))
      << locked;
  const std::vector<std::string> lines = authLog();
  ASSERT_EQ(lines.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_NE(lines[i].find("[WARN] Agent 'keeper' authentication failed (invalid secret). Failures: " +
                            std::to_string(i + 1) + "/5"),
              std::string::npos)
        << lines[i];
  }
}

TEST_F(IdentifyTest, TheRightSecretAuthenticatesAndClearsEarlierFailures) {
  const CreatedAgent created = daemon_->agentSecretsStore().createAgent("keeper");
  call("identify", {{"agentName", "keeper"}, {"secret", "wrong"}});
  call("identify", {{"agentName", "keeper"}, {"secret", "wrong"}});
  EXPECT_EQ(text(call("identify", {{"agentName", "keeper"}, {"secret", created.secret}})), "Authenticated as keeper");
  EXPECT_EQ(daemon_->authRateLimiter().getFailureCount("keeper"), 0);
  const std::vector<std::string> lines = authLog();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[2].find("[INFO] Agent 'keeper' authenticated successfully (ID: " + created.agent.id.uuidString() + ")"),
            std::string::npos)
      << lines[2];
}

}  // namespace
}  // namespace qd
