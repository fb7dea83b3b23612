#include "daemon/work/tasks_tool.h"

#include <gtest/gtest.h>

#include "coordination_fixture.h"

namespace qd {
namespace {

class TasksToolTest : public test::CoordinationTest {
 protected:
  Json call(Json arguments, std::string clientId = "client-0") {
    return run(handleTasksTool(context, std::move(clientId), std::move(arguments)));
  }
  std::string text(Json arguments, std::string clientId = "client-0") {
    return replyText(call(std::move(arguments), std::move(clientId)));
  }
  std::string error(Json arguments) { return errorOf(handleTasksTool(context, "client-0", std::move(arguments))); }

  // Names of the agent-log notes written so far, in their container.
  std::vector<std::string> agentLogNames(const std::string& agent) {
    std::vector<std::string> out;
    for (const auto& c : app.argumentsOf("create_note")) {
      if (c["container"] == "/Quarvel Dorarov/Agent Logs/" + agent) out.push_back(c["name"]);
    }
    return out;
  }
};

TEST_F(TasksToolTest, Errors) {
  const std::pair<Json, std::string> cases[] = {
      {Json::object(), "Missing required parameter: operation"},
      {Json{{"operation", 3}}, "Missing required parameter: operation"},
      {Json{{"operation", " Frobnicate\n"}}, "Invalid parameter: Unknown tasks operation: frobnicate"},
      {Json{{"operation", "create"}, {"taskId", "T"}}, "Missing required parameter: title"},
      {Json{{"operation", "create"}, {"title", 5}}, "Missing required parameter: title"},
      {Json{{"operation", "move_to_active"}}, "Missing required parameter: taskId"},
      {Json{{"operation", "assign_to_me"}, {"taskId", 1}}, "Missing required parameter: taskId"},
      {Json{{"operation", "complete"}}, "Missing required parameter: taskId"},
      {Json{{"operation", "update"}}, "Missing required parameter: taskId"},
      {Json{{"operation", "add_comment"}, {"taskId", "T"}}, "Missing required parameter: status"},
      {Json{{"operation", "add_comment"}, {"taskId", "T"}, {"note", 4}}, "Missing required parameter: status"},
  };
  for (const auto& [arguments, message] : cases) EXPECT_EQ(error(arguments), message) << arguments.dump();
  EXPECT_EQ(tracker.taskCount(), 0u);
  EXPECT_TRUE(app.calls.empty());
}

TEST_F(TasksToolTest, RepliesOfTheWritingOperations) {
  queue.identifyAgent("client-0", "alice");
  const std::pair<Json, std::string> cases[] = {
      {Json{{"operation", "HELP"}},
       "Operations: create, move_to_active, assign_to_me, complete, add_comment, update, list, list_waiting_for_me, "
       "stalled, heartbeat"},
      {Json{{"operation", " Create\n"}, {"taskId", "T1"}, {"title", "One"}}, "Task created: T1"},
      {Json{{"operation", "move_to_active"}, {"taskId", "T1"}}, "Task active: T1"},
      {Json{{"operation", "assign_to_me"}, {"taskId", "T1"}}, "Task waiting on alice: T1"},
      {Json{{"operation", "add_comment"}, {"taskId", "T1"}, {"status", "s"}, {"note", "n"}}, "Comment added: T1"},
      {Json{{"operation", "update"}, {"taskId", "T1"}}, "Task updated: T1"},
      {Json{{"operation", "complete"}, {"taskId", "T1"}}, "Task done: T1"},
      // An unknown id is answered as success and creates nothing.
      {Json{{"operation", "update"}, {"taskId", "ghost"}}, "Task updated: ghost"},
      {Json{{"operation", "complete"}, {"taskId", ""}}, "Task done: "},
  };
  for (const auto& [arguments, reply] : cases) EXPECT_EQ(text(arguments), reply) << arguments.dump();
  const auto task = *tracker.task("T1");
  EXPECT_EQ(task.status, "done");
  EXPECT_EQ(task.assignee, "alice");
  ASSERT_EQ(task.comments.size(), 1u);
  EXPECT_EQ(task.comments[0].note, "s");  // "status" wins over "note"
  EXPECT_FALSE(tracker.task("ghost"));
  EXPECT_EQ(tracker.taskCount(), 1u);
  EXPECT_EQ(agentLogNames("alice"),
            (std::vector<std::string>{"Task Queued - T1", "Task Active - T1", "Task Waiting - T1", "Task Updated - T1",
                                      "Task Done - T1", "Task Updated - ghost", "Task Done - "}));
  // The record's note lives under /morvane/tasks; "ghost" was never mirrored.
  EXPECT_EQ(app.attribute("/morvane/tasks/t1", "MVNStatus"), "done");
  EXPECT_EQ(app.attribute("/morvane/tasks/ghost", "MVNStatus"), "");
}

TEST_F(TasksToolTest, LogTexts) {
  text(Json{{"operation", "create"}, {"taskId", "T"}, {"title", "Ti"}, {"metadata", {{"n", 2}}}});
  text(Json{{"operation", "assign_to_me"}, {"taskId", "T"}});
  text(Json{{"operation", "assign_to_me"}, {"taskId", "T"}, {"reason", "review"}});
  text(Json{{"operation", "update"}, {"taskId", "T"}, {"status", "blocked"}});
  std::vector<std::string> texts;
  for (const auto& c : app.argumentsOf("create_note")) {
    if (c["container"] == "/Quarvel Dorarov/Agent Logs/unknown-agent") texts.push_back(c["text"]);
  }
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_EQ(texts[0], "Title: Ti\nStatus: queue\nMetadata: {\n  \"n\": \"2\"\n}");
  EXPECT_EQ(texts[1], "Assigned to: unknown-agent\nReason: none");
  EXPECT_EQ(texts[2], "Assigned to: unknown-agent\nReason: review");
  EXPECT_EQ(texts[3], "Status: blocked\nMetadata: {}");
  EXPECT_EQ(tracker.task("T")->comments.size(), 1u);
  EXPECT_EQ(tracker.task("T")->status, "blocked");
}

TEST_F(TasksToolTest, CreateWithoutAStringIdGeneratesOne) {
  const std::string expectedPrefix = "Task created: TASK-";
  for (const Json& id : {Json(), Json(42)}) {
    Json arguments{{"operation", "create"}, {"title", "Write the release notes"}};
    if (!id.is_null()) arguments["taskId"] = id;
    const std::string reply = text(arguments);
    ASSERT_EQ(reply.rfind(expectedPrefix, 0), 0u) << reply;
    const std::string taskId = reply.substr(std::string("Task created: ").size());
    EXPECT_EQ(taskId.size(), std::string("TASK-20261210-write-the-release-notes").size());
    EXPECT_TRUE(taskId.ends_with("-write-the-release-notes"));
    EXPECT_TRUE(tracker.task(taskId));
  }
}

TEST_F(TasksToolTest, CreatingTwiceReplacesAndCountsTheLogTitle) {
  queue.identifyAgent("client-0", "alice");
  text(Json{{"operation", "create"}, {"taskId", "T"}, {"title", "a"}, {"metadata", {{"x", "1"}}}});
  text(Json{{"operation", "assign_to_me"}, {"taskId", "T"}, {"reason", "r"}});
  text(Json{{"operation", "create"}, {"taskId", "T"}, {"title", "b"}});
  const auto task = *tracker.task("T");
  EXPECT_EQ(task.status, "queue");
  EXPECT_FALSE(task.assignee);
  EXPECT_TRUE(task.comments.empty());
  EXPECT_TRUE(task.metadata.empty());
  EXPECT_EQ(agentLogNames("alice"), (std::vector<std::string>{"Task Queued - T", "Task Waiting - T", "Task Queued - T (2)"}));
}

TEST_F(TasksToolTest, ListsAndHeartbeat) {
  EXPECT_EQ(text(Json{{"operation", "list"}}), "[]");
  EXPECT_EQ(text(Json{{"operation", "heartbeat"}}), "HEARTBEAT_OK");

  text(Json{{"operation", "create"}, {"taskId", "old"}, {"title", "o"}});
  text(Json{{"operation", "move_to_active"}, {"taskId", "old"}});
  clock.advance(std::chrono::hours(2));
  text(Json{{"operation", "create"}, {"taskId", "mine"}, {"title", "m"}});
  text(Json{{"operation", "assign_to_me"}, {"taskId", "mine"}});

  const Json listed = Json::parse(text(Json{{"operation", "list"}}));
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0]["id"], "mine");
  EXPECT_EQ(listed[0]["assignee"], "unknown-agent");
  EXPECT_TRUE(listed[1]["assignee"].is_null());
  EXPECT_TRUE(listed[1]["updatedAt"].is_number_integer());
  EXPECT_EQ(std::vector<std::string>({"id", "title", "status", "assignee", "updatedAt", "metadata", "comments"}),
            [&] {
              std::vector<std::string> keys;
              for (auto it = listed[0].begin(); it != listed[0].end(); ++it) keys.push_back(it.key());
              return keys;
            }());

  EXPECT_EQ(Json::parse(text(Json{{"operation", "list_waiting_for_me"}}))[0]["id"], "mine");
  EXPECT_EQ(text(Json{{"operation", "list_waiting_for_me"}}, "client-9"), text(Json{{"operation", "list_waiting_for_me"}}));
  queue.identifyAgent("client-1", "bob");
  EXPECT_EQ(text(Json{{"operation", "list_waiting_for_me"}}, "client-1"), "[]");

  // stalledHours must be a JSON integer; anything else means 24.
  const std::pair<Json, std::size_t> stalledCases[] = {
      {Json(), 0}, {Json(1), 1}, {Json(0), 1}, {Json(-5), 1}, {Json(1.0), 0}, {Json("1"), 0}, {Json(true), 0}, {Json(3), 0},
  };
  for (const auto& [hours, count] : stalledCases) {
    Json arguments{{"operation", "stalled"}};
    if (!hours.is_null()) arguments["stalledHours"] = hours;
    EXPECT_EQ(Json::parse(text(arguments)).size(), count) << hours.dump();
  }

  const Json report = Json::parse(text(Json{{"operation", "heartbeat"}, {"stalledHours", 1}}));
  EXPECT_EQ(report, (Json{{"stalledCount", 1}, {"stalled", {"old"}}, {"waitingForMeCount", 1}, {"waitingForMe", {"mine"}}}));
  const Json onlyStalled = Json::parse(text(Json{{"operation", "heartbeat"}, {"stalledHours", 1}}, "client-1"));
  EXPECT_EQ(onlyStalled["waitingForMe"], Json::array());
  EXPECT_EQ(onlyStalled["waitingForMeCount"], 0);
}

// An id without letters or digits names no note: the task is tracked and answered, but
// nothing is written to the tasks container itself.
TEST_F(TasksToolTest, IdsThatSlugToNothingAreTrackedButNotMirrored) {
  for (const char* id : {"", "!!!", "--"}) {
    EXPECT_EQ(text(Json{{"operation", "create"}, {"taskId", id}, {"title", "t"}}), std::string("Task created: ") + id);
    EXPECT_TRUE(tracker.task(id)) << id;
  }
  for (const auto& c : app.argumentsOf("create_note")) EXPECT_NE(c["name"], "") << c.dump();
  for (const auto& c : app.argumentsOf("set_value")) {
    EXPECT_FALSE(c["notes"].get<std::string>().starts_with("/morvane/tasks")) << c.dump();
  }
  EXPECT_EQ(agentLogNames("unknown-agent").size(), 3u);
}

TEST_F(TasksToolTest, ReplyIsTheSameWithoutTheNoteApp) {
  app.connected = false;
  EXPECT_EQ(text(Json{{"operation", "create"}, {"taskId", "T"}, {"title", "t"}}), "Task created: T");
  EXPECT_TRUE(app.calls.empty());
  app.connected = true;
  app.failures = {{"create_note", test::FakeNoteApp::Failure::thrown}, {"set_value", test::FakeNoteApp::Failure::thrown}};
  EXPECT_EQ(text(Json{{"operation", "update"}, {"taskId", "T"}}), "Task updated: T");
}

}  // namespace
}  // namespace qd
