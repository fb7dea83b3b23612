#include <gtest/gtest.h>

#include "coordination_fixture.h"
#include "daemon/runtime/text_trim.h"
#include "daemon/work/claude_hook_sync.h"
#include "daemon/work/reply_rendering.h"

namespace qd {
namespace {

constexpr const char* kClaudeLogs = "/Quarvel Dorarov/Agent Logs/Claude";

class ClaudeHookSync : public test::CoordinationTest {
 protected:
  std::string sync(const Json& payload) { return syncText(dumpJson(payload)); }
  std::string syncText(const std::string& text) {
    return replyText(run(handleSyncClaudeHook(context, Json{{"payloadJSON", text}})));
  }
  // The one note created in the container, as {name, text}; null when there is none.
  Json noteIn(const std::string& container) const {
    Json found;
    for (const Json& c : app.argumentsOf("create_note")) {
      if (c["container"] == container && c.contains("text")) found = c;
    }
    return found;
  }
};

TEST_F(ClaudeHookSync, EventsBecomeNotes) {
  const std::string ms = std::to_string(nowMs());
  struct Case {
    Json payload;
    std::string title;                            // of the Claude note
    std::string text;                             // "" : the pretty payload
    std::map<std::string, std::string> attributes;  // of the Claude note; "" means not written
    std::string otherContainer;                   // a task-event or conversation note, when one is due
  } cases[] = {
      {Json{{"hook_event_name", " TaskCreate\n"},
            {"session_id", "s1"},
            {"transcript_path", "/t/a.jsonl"},
            {"tool_input", {{"subject", "Write docs"}, {"description", "all of them"}}},
            {"tool_response", {{"task", {{"id", "7"}, {"subject", "ignored"}}}}}},
       "Task Started - Write docs", "Task ID: 7\nTask: Write docs\nStatus: started\nDetails: all of them",
       {{"MVNSource", "ClaudeHook:TaskCreate"}, {"MVNHookEvent", "TaskCreate"}, {"MVNSessionID", "s1"},
        {"MVNSourcePath", "/t/a.jsonl"}, {"MVNAgent", "Claude"}, {"MVNType", "AgentLog"}, {"MVNTeam", ""}},
       "/Quarvel Dorarov/Tasks/7"},
      {Json{{"hook_event_name", "TaskCreate"}, {"tool_input", 5}},
       "Task Started - claude-task-" + ms, "Task ID: claude-task-" + ms + "\nTask: claude-task-" + ms +
           "\nStatus: started\nDetails: ",
       {}, "/Quarvel Dorarov/Tasks/claude-task-" + ms},
      {Json{{"hook_event_name", "TaskUpdate"}, {"tool_input", {{"taskId", "T2"}, {"details", "half"}}}},
       "Task Update - T2", "Task ID: T2\nStatus: in_progress\nDetails: half", {}, "/Quarvel Dorarov/Tasks/T2"},
      {Json{{"hook_event_name", "TaskCompleted"}, {"tool_input", {{"id", 9}}}},
       "Task Completed - unknown-task", "Task ID: unknown-task\nStatus: completed\nOutcome: Completed", {},
       "/Quarvel Dorarov/Tasks/unknown-task"},
      {Json{{"hook_event_name", "TeamCreate"}, {"team_name", "blue"}},
       "Team Created - blue", "Team: blue\nDescription: Auto-synced from Claude TeamCreate hook\nSource: ClaudeHook:TeamCreate",
       {{"MVNTeam", "blue"}}, ""},
      {Json{{"hook_event_name", "SendMessage"}, {"tool_input", {{"to", "bob"}}}},
       "Message Sent - bob", "Message sent", {}, "/Quarvel Dorarov/Conversations/Claude \u2192 bob"},
      {Json{{"hook_event_name", "SubagentStop"}, {"agent_transcript_path", "/t/sub.jsonl"}},
       "Subagent Stopped - subagent", "", {{"MVNTeammate", "subagent"}, {"MVNSourcePath", "/t/sub.jsonl"}}, ""},
      {Json{{"hook_event_name", "SubagentStart"}, {"agent_type", "explorer"}},
       "Subagent Started - explorer", "", {{"MVNTeammate", "explorer"}}, ""},
      {Json{{"hook_event_name", "TeammateIdle"}, {"teammate_name", "ann"}, {"agent_type", "x"}},
       "Teammate Idle - ann", "", {{"MVNTeammate", "ann"}}, ""},
      // Names are matched exactly: a lower-case one is an unknown event, logged whole.
      {Json{{"hook_event_name", "taskcreate"}, {"teammate_name", "ann"}},
       "Hook Event - taskcreate", "", {{"MVNTeammate", "ann"}, {"MVNHookEvent", "taskcreate"}}, ""},
  };
  for (const auto& c : cases) {
    app.calls.clear();
    const std::string event = trimWhitespaceAndNewlines(c.payload["hook_event_name"].get<std::string>());
    EXPECT_EQ(sync(c.payload), "Hook synced: " + event);
    const Json note = noteIn(kClaudeLogs);
    ASSERT_FALSE(note.is_null()) << c.title;
    EXPECT_EQ(note["name"], c.title);
    EXPECT_EQ(note["text"], c.text.empty() ? prettyJsonText(c.payload) : c.text) << c.title;
    for (const auto& [attribute, value] : c.attributes) {
      EXPECT_EQ(app.attribute(std::string(kClaudeLogs) + "/" + c.title, attribute), value) << c.title << " " << attribute;
    }
    if (!c.otherContainer.empty()) {
      EXPECT_FALSE(noteIn(c.otherContainer).is_null()) << c.title;
    }
    // The other note comes first.
    const auto creations = app.argumentsOf("create_note");
    EXPECT_EQ(creations.back()["container"], kClaudeLogs) << c.title;
  }
  EXPECT_TRUE(tracker.listTasks().empty());
}

TEST_F(ClaudeHookSync, BadPayloadsAndIgnoredEvents) {
  struct Case {
    Json arguments;
    std::string error;
  } cases[] = {
      {Json::object(), "Missing required parameter: payloadJSON"},
      {Json{{"payloadJSON", Json{{"hook_event_name", "TaskCreate"}}}}, "Missing required parameter: payloadJSON"},
      {Json{{"payloadJSON", "[1, 2]"}}, "Missing required parameter: payloadJSON"},
      {Json{{"payloadJSON", "\"text\""}}, "Missing required parameter: payloadJSON"},
  };
  for (const auto& c : cases) EXPECT_EQ(errorOf(handleSyncClaudeHook(context, c.arguments)), c.error) << c.arguments.dump();
  // A syntax error is the parser's own error, which the daemon answers as an internal error.
  EXPECT_THROW(run(handleSyncClaudeHook(context, Json{{"payloadJSON", "{\"hook_event_name\": "}})), JsonParseError);
  EXPECT_THROW(run(handleSyncClaudeHook(context, Json{{"payloadJSON", std::string(100000, '[')}})), JsonParseError);

  for (const Json& event : {Json(), Json(" \n "), Json(3)}) {
    Json payload{{"session_id", "s"}};
    if (!event.is_null()) payload["hook_event_name"] = event;
    EXPECT_EQ(sync(payload), "Ignored hook payload without hook_event_name");
  }
  EXPECT_TRUE(app.calls.empty());
}

TEST_F(ClaudeHookSync, WithoutLoggingNothingIsWrittenAndTheReplyStands) {
  setSettings([](ToolSettings& s) { s.enableLogging = false; });
  EXPECT_EQ(sync(Json{{"hook_event_name", "SendMessage"}, {"tool_input", {{"to", "bob"}, {"message", "hi"}}}}),
            "Hook synced: SendMessage");
  app.connected = false;
  setSettings([](ToolSettings& s) { s.enableLogging = true; });
  EXPECT_EQ(sync(Json{{"hook_event_name", "TaskCreate"}}), "Hook synced: TaskCreate");
  EXPECT_TRUE(app.calls.empty());
}

}  // namespace
}  // namespace qd
