#include <gtest/gtest.h>

#include "coordination_fixture.h"
#include "daemon/work/agents_tool.h"

namespace qd {
namespace {

class MessagingToolsTest : public test::CoordinationTest {
 protected:
  void SetUp() override {
    queue.identifyAgent("client-a", "alice");
    queue.identifyAgent("client-b", "bob");
  }
  std::string agents(Json arguments, std::string clientId) {
    return replyText(run(handleAgentsUnifiedTool(context, std::move(clientId), std::move(arguments))));
  }
  std::string outcome(asio::awaitable<Json> task) {
    try {
      return replyText(run(std::move(task)));
    } catch (const Error& e) {
      return e.description();
    }
  }
};

TEST_F(MessagingToolsTest, MessageBetweenTwoAgents) {
  EXPECT_EQ(agents(Json{{"operation", "message"}, {"to", "bob"}, {"message", "hi\nthere"}, {"metadata", "text"}}, "client-a"),
            "Message queued for bob. It will be delivered when that agent next checks messages.");
  const std::string mailbox = agents(Json{{"operation", "check_messages"}}, "client-b");
  EXPECT_EQ(mailbox, "[[\"from\": \"alice\", \"data\": [\"message\": \"hi\\nthere\", \"source\": \"agents_message\"], "
                     "\"timestamp\": " + std::to_string(nowMs()) + "]]");
  EXPECT_EQ(agents(Json{{"operation", "check_messages"}}, "client-b"), "[]");

  EXPECT_EQ(app.argumentsOf("create_note").back()["container"], "/Quarvel Dorarov/Agent Logs/alice");
  EXPECT_EQ(app.argumentsOf("create_note").back()["name"], "Message Sent - bob");
  bool conversation = false;
  for (const auto& c : app.argumentsOf("create_note")) {
    conversation |= c["container"] == "/Quarvel Dorarov/Conversations/alice \u2192 bob" && c["name"] == "Message - hi there";
  }
  EXPECT_TRUE(conversation);

  agents(Json{{"operation", "message"}, {"to", "bob"}, {"message", "m"}, {"metadata", {{"k", 1}}}}, "client-a");
  EXPECT_NE(agents(Json{{"operation", "check_messages"}}, "client-b").find("\"metadata\": [\"k\": 1]"), std::string::npos);
}

TEST_F(MessagingToolsTest, ErrorsInTheirOrder) {
  setSettings([](ToolSettings& s) { s.allowBroadcastNotifications = false; });
  struct Case {
    const char* name;
    std::function<asio::awaitable<Json>()> call;
    std::string error;
  };
  auto notify = [this](Json arguments, std::string client) { return handleNotify(context, std::move(client), std::move(arguments)); };
  auto message = [this](Json arguments, std::string client) {
    arguments["operation"] = "message";
    return handleAgentsUnifiedTool(context, std::move(client), std::move(arguments));
  };
  const Case cases[] = {
      {"notify without agents", [&] { return notify(Json{{"data", Json::object()}}, "client-a"); },
       "Missing required parameter: agents"},
      {"broadcast before data", [&] { return notify(Json{{"agents", "*"}}, "client-a"); },
       "Broadcast notifications are disabled in settings"},
      {"broadcast all", [&] { return notify(Json{{"agents", "all"}, {"data", Json::object()}}, "client-a"); },
       "Broadcast notifications are disabled in settings"},
      {"data as a list", [&] { return notify(Json{{"agents", "bob"}, {"data", Json::array()}}, "client-a"); },
       "Missing required parameter: data"},
      {"notify unnamed", [&] { return notify(Json{{"agents", "bob"}, {"data", Json::object()}}, "client-x"); },
       "Agent not identified - call identify tool first"},
      {"message without to", [&] { return message(Json{{"message", "m"}}, "client-a"); }, "Missing required parameter: to"},
      {"message broadcast", [&] { return message(Json{{"to", "*"}}, "client-a"); },
       "Broadcast notifications are disabled in settings"},
      {"empty message", [&] { return message(Json{{"to", "bob"}, {"message", ""}}, "client-a"); },
       "Missing required parameter: message"},
      {"message unnamed", [&] { return message(Json{{"to", "bob"}, {"message", "m"}}, "client-x"); },
       "Agent not identified - call identify tool first"},
      {"check unnamed", [&] { return handleAgentsUnifiedTool(context, "client-x", Json{{"operation", "check_messages"}}); },
       "Agent not identified - call identify tool first"},
      {"too large", [&] { return notify(Json{{"agents", "bob"}, {"data", {{"p", std::string(100001, 'x')}}}}, "client-a"); },
       "Notification size (100009 bytes) exceeds maximum (100000 bytes)"},
      {"notify nobody", [&] { return notify(Json{{"agents", "nobody"}, {"data", {{"n", 1}}}}, "client-a"); },
       "Agent not registered: nobody"},
      {"message nobody", [&] { return message(Json{{"to", "nobody"}, {"message", "m"}}, "client-a"); },
       "Agent not registered: nobody"},
      {"names are exact", [&] { return message(Json{{"to", "Bob"}, {"message", "m"}}, "client-a"); },
       "Agent not registered: Bob"},
  };
  for (const Case& c : cases) EXPECT_EQ(outcome(c.call()), c.error) << c.name;
  EXPECT_EQ(agents(Json{{"operation", "check_messages"}}, "client-b"), "[]");
  // Nothing was kept for a name that registers later.
  queue.identifyAgent("client-n", "nobody");
  EXPECT_EQ(agents(Json{{"operation", "check_messages"}}, "client-n"), "[]");
  EXPECT_EQ(queue.getStatistics().queuedNotifications, 0);
  EXPECT_TRUE(app.calls.empty());
}

TEST_F(MessagingToolsTest, NotifyAndBroadcast) {
  queue.identifyAgent("client-c", "carol");
  EXPECT_EQ(outcome(handleNotify(context, "client-a", Json{{"agents", "*"}, {"data", {{"n", 1}}}})), "Notification sent to *");
  EXPECT_EQ(queue.checkWork("bob").size(), 1u);
  EXPECT_EQ(queue.checkWork("carol").size(), 1u);
  EXPECT_TRUE(queue.checkWork("alice").empty());
  const Json note = app.argumentsOf("create_note").back();
  EXPECT_EQ(note["name"], "Notification Sent");
  EXPECT_EQ(note["text"], "Recipients: *\nPayload: {\n  \"n\": 1\n}");
}

TEST_F(MessagingToolsTest, ListAndQuit) {
  const Json empty = Json::parse(agents(Json{{"operation", "list"}}, "client-x"));
  EXPECT_EQ(empty["activeAgents"], 2);
  EXPECT_EQ(agents(Json{{"operation", "quit"}}, "client-a"), "Goodbye");
  tracker.createJob({"J1", "alice", "shell", "run", {"x"}, std::nullopt, {}});
  tracker.createJob({"J2", "alice", "shell", "run", {}, std::nullopt, {}});
  tracker.setJobRunning("J1");
  tracker.createTask("T", "t", "waiting", {});
  const Json listed = Json::parse(agents(Json{{"operation", "list"}}, "client-x"));
  EXPECT_EQ(listed, (Json{{"agents", {"alice", "bob"}},
                          {"activeAgents", 2},
                          {"activeCliJobs",
                           {{{"id", "J1"}, {"agentId", "alice"}, {"runner", "shell"}, {"command", "run"}, {"arguments", {"x"}},
                             {"updatedAt", nowMs()}}}},
                          {"queuedJobs", 1},
                          {"waitingTasks", 1}}));
}

TEST_F(MessagingToolsTest, LogMessage) {
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(outcome(handleLogMessage(context, "client-a", Json{{"title", "T"}, {"message", "m"}, {"level", "error"}})),
              "Logged: T");
  }
  std::vector<std::string> names;
  for (const auto& c : app.argumentsOf("create_note")) {
    if (c["container"] == "/Quarvel Dorarov/Agent Logs/alice") names.push_back(c["name"]);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"T", "T (2)", "T (3)"}));

  EXPECT_EQ(outcome(handleLogMessage(context, "client-x", Json::object())), "Logged: Agent Update");
  EXPECT_EQ(app.argumentsOf("create_note").back(),
            (Json{{"name", "Agent Update"}, {"container", "/Quarvel Dorarov/Agent Logs/unknown-agent"}, {"text", ""}}));

  setSettings([](ToolSettings& s) { s.enableLogging = false; });
  app.calls.clear();
  EXPECT_EQ(outcome(handleLogMessage(context, "client-a", Json{{"title", 5}})), "Logged: Agent Update");
  EXPECT_TRUE(app.calls.empty());
}

}  // namespace
}  // namespace qd
