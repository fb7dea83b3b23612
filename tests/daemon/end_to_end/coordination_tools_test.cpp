// The coordination tools through the real daemon program: the task board, messages between
// two connections, a message to a name nobody holds, and the broadcast switch. Tier beta,
// no note app, tasks switched on and broadcasts off in tool-settings.json.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "socket_session.h"

namespace qd {
namespace {

// "20261210": today's date in UTC, as generated task ids carry it.
std::string utcDate() {
  const std::chrono::year_month_day date{std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now())};
  char digits[16];
  std::snprintf(digits, sizeof digits, "%04d%02u%02u", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
  return digits;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

class CoordinationToolsEndToEnd : public test::SocketSession {
 protected:
  void SetUp() override {
    startDaemon("beta", Json{{"helperToolEnabled", {{"tasks", true}}}, {"allowBroadcastNotifications", false}});
  }

  void registerAgent(test::SocketLineClient& client, const std::string& name) {
    EXPECT_EQ(text(call(client, "agents", {{"operation", "register"}, {"agentId", name}})), "Registered agent: " + name);
  }
};

TEST_F(CoordinationToolsEndToEnd, TaskBoardCreatesListsAndReportsWhatWaitsForTheAgent) {
  auto client = connect();
  registerAgent(*client, "carol");

  const std::string before = utcDate();
  const std::string created = text(call(*client, "tasks", {{"operation", "create"}, {"title", "Ship the Release!"}}));
  const std::string after = utcDate();
  const std::string prefix = "Task created: ";
  ASSERT_TRUE(created == prefix + "TASK-" + before + "-ship-the-release" ||
              created == prefix + "TASK-" + after + "-ship-the-release")
      << created;
  const std::string taskId = created.substr(prefix.size());

  const Json listed = parseJson(text(call(*client, "tasks", {{"operation", "list"}})));
  ASSERT_EQ(listed.size(), 1u) << listed;
  EXPECT_EQ(listed[0]["id"], taskId);
  EXPECT_EQ(listed[0]["title"], "Ship the Release!");
  EXPECT_EQ(listed[0]["status"], "queue");

  EXPECT_EQ(text(call(*client, "tasks", {{"operation", "heartbeat"}})), "HEARTBEAT_OK");
  EXPECT_EQ(text(call(*client, "tasks", {{"operation", "assign_to_me"}, {"taskId", taskId}})),
            "Task waiting on carol: " + taskId);
  const Json report = parseJson(text(call(*client, "tasks", {{"operation", "heartbeat"}})));
  EXPECT_EQ(report["waitingForMe"], Json::array({taskId})) << report;
  EXPECT_EQ(report["waitingForMeCount"], 1);
  EXPECT_EQ(report["stalledCount"], 0);
}

TEST_F(CoordinationToolsEndToEnd, MessagesGoFromOneConnectionToAnotherOnce) {
  auto alice = connect();
  auto bob = connect();
  registerAgent(*alice, "alice");
  registerAgent(*bob, "bob");

  EXPECT_EQ(text(call(*alice, "agents", {{"operation", "message"}, {"to", "bob"}, {"message", "lunch?"}})),
            "Message queued for bob. It will be delivered when that agent next checks messages.");
  const std::string mailbox = text(call(*bob, "agents", {{"operation", "check_messages"}}));
  EXPECT_TRUE(mailbox.starts_with(R"([["from": "alice", "data": ["message": "lunch?", "source": "agents_message"], )"))
      << mailbox;
  EXPECT_EQ(occurrences(mailbox, "\"from\": "), 1u) << mailbox;
  EXPECT_EQ(text(call(*bob, "agents", {{"operation", "check_messages"}})), "[]");

  // A notification to one agent passes while broadcasts are off; one to everybody does not,
  // and is refused before anything is queued.
  EXPECT_EQ(text(call(*alice, "notify", {{"agents", "bob"}, {"data", {{"build", "green"}}}})),
            "Notification sent to bob");
  EXPECT_EQ(error(call(*alice, "notify", {{"agents", "*"}, {"data", {{"build", "red"}}}})),
            "Broadcast notifications are disabled in settings");
  const std::string notified = text(call(*bob, "agents", {{"operation", "check_messages"}}));
  EXPECT_EQ(occurrences(notified, "\"from\": \"alice\""), 1u) << notified;
  EXPECT_NE(notified.find("\"build\": \"green\""), std::string::npos) << notified;
}

TEST_F(CoordinationToolsEndToEnd, AMessageToAnAgentNobodyHoldsFailsAndIsNotKept) {
  auto alice = connect();
  registerAgent(*alice, "alice");
  EXPECT_EQ(error(call(*alice, "agents", {{"operation", "message"}, {"to", "nobody"}, {"message", "hello?"}})),
            "Agent not registered: nobody");
  EXPECT_EQ(error(call(*alice, "notify", {{"agents", "nobody"}, {"data", {{"build", "green"}}}})),
            "Agent not registered: nobody");
  // An agent that takes the name afterwards finds nothing waiting.
  auto late = connect();
  registerAgent(*late, "nobody");
  EXPECT_EQ(text(call(*late, "agents", {{"operation", "check_messages"}})), "[]");
}

TEST_F(CoordinationToolsEndToEnd, AConnectionThatLeavesTakesItsAgentName) {
  {
    auto first = connect();
    registerAgent(*first, "dana");
  }
  // Registration lasts as long as the connection: once the first one is gone, a new
  // connection may take the name, and the departed agent is no longer listed.
  auto second = connect();
  Json agents;
  for (int attempt = 0; attempt < 500; ++attempt) {
    agents = parseJson(text(call(*second, "agents", {{"operation", "list"}})));
    if (agents["agents"].empty()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(agents["agents"], Json::array()) << agents;
  registerAgent(*second, "dana");
}

}  // namespace
}  // namespace qd
