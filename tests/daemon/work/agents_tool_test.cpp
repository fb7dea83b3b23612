#include "daemon/work/agents_tool.h"

#include <gtest/gtest.h>

#include "coordination_fixture.h"
#include "daemon/messaging/notification_queue.h"

namespace qd {
namespace {

class AgentsToolTest : public test::CoordinationTest {
 protected:
  std::string agents(Json arguments, std::string clientId = "client-0") {
    return replyText(run(handleAgentsUnifiedTool(context, std::move(clientId), std::move(arguments))));
  }
  std::string agentsError(Json arguments, std::string clientId = "client-0") {
    return errorOf(handleAgentsUnifiedTool(context, std::move(clientId), std::move(arguments)));
  }
  std::string whoami(const std::string& clientId) {
    return Json::parse(agents(Json{{"operation", "whoami"}}, clientId))["agentId"];
  }
};

TEST_F(AgentsToolTest, OperationRoutingAndFixedTexts) {
  const std::pair<Json, std::string> errors[] = {
      {Json::object(), "Missing required parameter: operation"},
      {Json{{"operation", "HELP"}}, "Invalid parameter: Unknown agents operation: HELP"},
      {Json{{"operation", " help"}}, "Invalid parameter: Unknown agents operation:  help"},
      {Json{{"operation", "start_task"}}, "Missing required parameter: taskId"},
      {Json{{"operation", "update_task"}, {"taskId", 3}}, "Missing required parameter: taskId"},
      {Json{{"operation", "complete_task"}}, "Missing required parameter: taskId"},
  };
  for (const auto& [arguments, message] : errors) EXPECT_EQ(agentsError(arguments), message) << arguments.dump();
  EXPECT_EQ(agents(Json{{"operation", "help"}}),
            "Operations: help, register, whoami, list, message, check_messages, quit, start_task, update_task, "
            "complete_task, list_tasks");
  EXPECT_EQ(agents(Json{{"operation", "bootstrap"}}),
            "Operation 'bootstrap' removed \u2014 use Claude Code for agent management.");
  EXPECT_EQ(tracker.taskCount(), 0u);
}

TEST_F(AgentsToolTest, Register) {
  struct Case {
    std::string client;
    Json arguments;
    std::string reply;  // or the error text
  };
  queue.identifyAgent("client-alice", "alice");
  const Case cases[] = {
      {"client-1", Json{{"operation", "register"}, {"agentId", "  Planner-1\n"}}, "Registered agent: planner-1"},
      {"client-2", Json{{"operation", "register"}, {"agentId", "a_b"}}, "Invalid parameter: agentId must match ^[a-z0-9-]+$"},
      {"client-2", Json{{"operation", "register"}, {"agentId", "   "}}, "Invalid parameter: agentId must match ^[a-z0-9-]+$"},
      {"client-3", Json{{"operation", "register"}, {"agentId", "planner-1"}}, "Agent name 'planner-1' is already taken"},
      {"client-alice", Json{{"operation", "register"}, {"agentId", "bob"}, {"role", "reviewer"}}, "Registered agent: bob"},
      {"client-alice", Json{{"operation", "register"}}, "Registered agent: alice"},
  };
  for (const Case& c : cases) {
    std::string outcome;
    try {
      outcome = replyText(run(handleAgentsUnifiedTool(context, c.client, c.arguments)));
    } catch (const Error& e) {
      outcome = e.description();
    }
    EXPECT_EQ(outcome, c.reply) << c.client << " " << c.arguments.dump();
  }
  EXPECT_EQ(whoami("client-1"), "planner-1");
  EXPECT_EQ(whoami("client-2"), "unknown-agent");
  EXPECT_EQ(whoami("client-alice"), "alice");  // registering as bob did not rename alice
  EXPECT_EQ(app.attribute("/morvane/agents/bob", "MVNRole"), "reviewer");
  EXPECT_EQ(app.attribute("/morvane/agents/planner-1", "MVNRole"), "general");
  EXPECT_EQ(app.attribute("/morvane/agents/bob", "MVNLastSeen"), std::to_string(nowMs()));
}

TEST_F(AgentsToolTest, RegisterWithoutAnIdUsesTheClock) {
  EXPECT_EQ(agents(Json{{"operation", "register"}, {"agentId", 7}}), "Registered agent: agent-" + std::to_string(nowMs()));
  EXPECT_EQ(whoami("client-0"), "agent-" + std::to_string(nowMs()));
  const Json who = Json::parse(agents(Json{{"operation", "whoami"}}, "client-x"));
  EXPECT_EQ(who, (Json{{"ok", true}, {"agentId", "unknown-agent"}, {"clientId", "client-x"}}));
}

TEST_F(AgentsToolTest, TaskReports) {
  queue.identifyAgent("client-0", "alice");
  EXPECT_EQ(agents(Json{{"operation", "list_tasks"}}), "[]");
  EXPECT_EQ(agents(Json{{"operation", "start_task"}, {"taskId", "T"}, {"metadata", {{"a", "1"}, {"b", 2}}}}),
            "Task started: T");
  const auto started = *tracker.task("T");
  EXPECT_EQ(started.title, "T");
  EXPECT_EQ(started.status, "active");
  EXPECT_TRUE(started.metadata.empty());  // one non-string value empties the map
  EXPECT_EQ(agents(Json{{"operation", "update_task"}, {"taskId", "T"}, {"metadata", {{"k", "v"}}}}), "Task updated: T");
  EXPECT_EQ(tracker.task("T")->status, "in_progress");
  EXPECT_EQ(agents(Json{{"operation", "complete_task"}, {"taskId", "T"}}), "Task completed: T");
  EXPECT_EQ(tracker.task("T")->status, "done");
  EXPECT_EQ(agents(Json{{"operation", "update_task"}, {"taskId", "ghost"}}), "Task updated: ghost");
  EXPECT_FALSE(tracker.task("ghost"));

  // No record note under /morvane/tasks; journal notes instead.
  for (const auto& c : app.argumentsOf("create_note")) EXPECT_NE(c["container"], "/morvane/tasks");
  const std::string events = "/Quarvel Dorarov/Tasks/T";
  EXPECT_EQ(app.attribute(events + "/Task Started", "MVNStatus"), "started");
  EXPECT_EQ(app.attribute(events + "/Task Completed", "MVNStatus"), "completed");
  EXPECT_EQ(app.argumentsOf("create_link").size(), 2u);
  std::vector<std::string> logs;
  for (const auto& c : app.argumentsOf("create_note")) {
    if (c["container"] == "/Quarvel Dorarov/Agent Logs/alice") logs.push_back(c["name"].get<std::string>() + "|" + c["text"].get<std::string>());
  }
  ASSERT_EQ(logs.size(), 4u);
  EXPECT_EQ(logs[0], "Task Started - T|Task ID: T\nTask: T\nStatus: started");
  EXPECT_EQ(logs[1], "Task Update - T|Task ID: T\nStatus: in_progress\nDetails: {\n  \"k\": \"v\"\n}");
  EXPECT_EQ(logs[2], "Task Completed - T|Task ID: T\nStatus: completed\nOutcome: {}");

  tracker.assignTask("T", "bob", "waiting", "why");
  const std::string listing = agents(Json{{"operation", "list_tasks"}});
  EXPECT_EQ(listing, "[[\"id\": \"T\", \"title\": \"T\", \"status\": \"waiting\", \"assignee\": Optional(\"bob\"), "
                     "\"updatedAt\": " + std::to_string(nowMs()) + ", \"metadata\": [\"k\": \"v\"], \"comments\": "
                     "[[\"who\": \"bob\", \"note\": \"why\", \"timestamp\": " + std::to_string(nowMs()) + "]]]]");
  tracker.createTask("U", "u", "queue", {});
  EXPECT_NE(agents(Json{{"operation", "list_tasks"}}).find("\"assignee\": nil, \"updatedAt\""), std::string::npos);
}

}  // namespace
}  // namespace qd
