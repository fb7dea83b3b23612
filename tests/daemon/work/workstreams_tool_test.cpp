#include <gtest/gtest.h>

#include "coordination_fixture.h"
#include "daemon/work/workstreams_tool.h"

namespace qd {
namespace {

class WorkstreamsTool : public test::CoordinationTest {
 protected:
  std::string call(Json arguments) { return replyText(run(handleWorkstreamsUnifiedTool(context, std::move(arguments)))); }

  // "name|text" of each agent-log note for "workstreams".
  std::vector<std::string> logNotes() const {
    std::vector<std::string> out;
    for (const Json& c : app.argumentsOf("create_note")) {
      if (c["container"] == "/Quarvel Dorarov/Agent Logs/workstreams") {
        out.push_back(c["name"].get<std::string>() + "|" + c["text"].get<std::string>());
      }
    }
    return out;
  }
  std::size_t mirrorCreations() const {
    std::size_t n = 0;
    for (const Json& c : app.argumentsOf("create_note")) n += c["container"] == "/morvane/workstreams";
    return n;
  }
};

TEST_F(WorkstreamsTool, RoutingAndArgumentErrors) {
  struct Case {
    Json arguments;
    std::string error;
  } cases[] = {
      {Json::object(), "Missing required parameter: operation"},
      {Json{{"operation", "Start"}}, "Invalid parameter: Unknown workstreams operation: Start"},
      {Json{{"operation", " list"}}, "Invalid parameter: Unknown workstreams operation:  list"},
      {Json{{"operation", "start"}}, "Missing required parameter: id"},
      {Json{{"operation", "update"}, {"id", 4}}, "Missing required parameter: id"},
      {Json{{"operation", "complete"}, {"name", "x"}}, "Missing required parameter: id"},
  };
  for (const auto& c : cases) EXPECT_EQ(errorOf(handleWorkstreamsUnifiedTool(context, c.arguments)), c.error) << c.arguments.dump();
  EXPECT_TRUE(tracker.listWorkstreams().empty());
  EXPECT_TRUE(app.calls.empty());
  EXPECT_EQ(call(Json{{"operation", "list"}}), "[]");
}

TEST_F(WorkstreamsTool, TheLifeOfAWorkstream) {
  struct Step {
    Json arguments;
    std::string reply;
    std::string status;     // stored afterwards
    StringMap metadata;     // stored afterwards
    std::string logNote;    // the newest agent-log note, "name|text"
  } steps[] = {
      {Json{{"operation", "start"}, {"id", "ws"}, {"metadata", {{"a", "1"}}}}, "Workstream started: ws", "started",
       {{"a", "1"}}, "Workstream Started - ws|Name: ws\nStatus: started\nMetadata: {\n  \"a\": \"1\"\n}"},
      // One value that is not a string drops the whole map.
      {Json{{"operation", "update"}, {"id", "ws"}, {"metadata", {{"b", "2"}, {"n", 3}}}}, "Workstream updated: ws",
       "in_progress", {{"a", "1"}}, "Workstream Updated - ws|Status: in_progress\nMetadata: {}"},
      {Json{{"operation", "update"}, {"id", "ws"}, {"status", "blocked"}, {"metadata", {{"b", "2"}}}},
       "Workstream updated: ws", "blocked", {{"a", "1"}, {"b", "2"}},
       "Workstream Updated - ws (2)|Status: blocked\nMetadata: {\n  \"b\": \"2\"\n}"},
      {Json{{"operation", "complete"}, {"id", "ws"}, {"status", "x"}}, "Workstream completed: ws", "completed",
       {{"a", "1"}, {"b", "2"}}, "Workstream Completed - ws|Status: completed\nMetadata: {}"},
      // Started again: replaced whole, and the note title gains a counter.
      {Json{{"operation", "start"}, {"id", "ws"}, {"name", "Second"}}, "Workstream started: ws", "started", {},
       "Workstream Started - ws (2)|Name: Second\nStatus: started\nMetadata: {}"},
  };
  for (const auto& s : steps) {
    EXPECT_EQ(call(s.arguments), s.reply) << s.arguments.dump();
    const auto stored = tracker.workstream("ws");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->status, s.status) << s.arguments.dump();
    EXPECT_EQ(stored->metadata, s.metadata) << s.arguments.dump();
    EXPECT_EQ(app.attribute("/morvane/workstreams/ws", "MVNStatus"), s.status) << s.arguments.dump();
    ASSERT_FALSE(logNotes().empty());
    EXPECT_EQ(logNotes().back(), s.logNote);
  }
  EXPECT_EQ(tracker.workstream("ws")->name, "Second");
  EXPECT_EQ(app.attribute("/Quarvel Dorarov/Agent Logs/workstreams/Workstream Started - ws", "MVNAgent"), "workstreams");

  const Json listed = parseJson(call(Json{{"operation", "list"}}));
  EXPECT_EQ(listed, parseJson(R"([{"id": "ws", "name": "Second", "status": "started", "updatedAt": )" +
                              std::to_string(nowMs()) + R"(, "metadata": {}}])"));
}

TEST_F(WorkstreamsTool, AnUnknownIdIsAnsweredAndLoggedButNothingIsStoredOrMirrored) {
  EXPECT_EQ(call(Json{{"operation", "update"}, {"id", "nope"}}), "Workstream updated: nope");
  EXPECT_EQ(call(Json{{"operation", "complete"}, {"id", "nope"}}), "Workstream completed: nope");
  EXPECT_TRUE(tracker.listWorkstreams().empty());
  EXPECT_EQ(mirrorCreations(), 0u);
  EXPECT_EQ(logNotes().size(), 2u);
}

TEST_F(WorkstreamsTool, WithLoggingOffOnlyTheMirrorIsWritten) {
  setSettings([](ToolSettings& s) { s.enableLogging = false; });
  EXPECT_EQ(call(Json{{"operation", "start"}, {"id", ""}}), "Workstream started: ");  // an empty id is accepted
  EXPECT_EQ(call(Json{{"operation", "start"}, {"id", "w2"}}), "Workstream started: w2");
  EXPECT_TRUE(logNotes().empty());
  EXPECT_EQ(mirrorCreations(), 1u);  // the empty id slugs to nothing and is not mirrored
  EXPECT_EQ(tracker.workstream("")->name, "");
}

}  // namespace
}  // namespace qd
