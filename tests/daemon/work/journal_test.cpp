// The journal notes: task events, conversations and agent-log notes.

#include <gtest/gtest.h>

#include "coordination_fixture.h"
#include "daemon/tinderbox/journal_writers.h"
#include "daemon/tinderbox/note_time.h"
#include "daemon/work/agent_log_note.h"

namespace qd {
namespace {

class JournalTest : public test::CoordinationTest {
 protected:
  asio::awaitable<void> taskEvent(std::string title) {
    return autoLogTaskEvent(context, "alice", "T-1", std::move(title), "body", "started");
  }
  asio::awaitable<void> agentLog(std::string agent, std::string title) {
    return writeAgentLogNote(context, std::move(agent), std::move(title), "text");
  }
};

TEST_F(JournalTest, TaskEventsGetUniqueTitlesAndAFlowChain) {
  for (int i = 0; i < 3; ++i) run(taskEvent("T"));
  const auto created = app.argumentsOf("create_note");
  std::vector<Json> eventNotes;
  for (const auto& c : created) {
    if (c["container"] == "/Quarvel Dorarov/Tasks/T-1") eventNotes.push_back(c);
  }
  ASSERT_EQ(eventNotes.size(), 3u);
  EXPECT_EQ(eventNotes[0], (Json{{"name", "T"}, {"container", "/Quarvel Dorarov/Tasks/T-1"}, {"text", "Agent: alice\nbody"}}));
  EXPECT_EQ(eventNotes[1]["name"], "T (2)");
  EXPECT_EQ(eventNotes[2]["name"], "T (3)");
  const auto links = app.argumentsOf("create_link");
  ASSERT_EQ(links.size(), 2u);
  EXPECT_EQ(links[0], (Json{{"source", "/Quarvel Dorarov/Tasks/T-1/T"},
                            {"destination", "/Quarvel Dorarov/Tasks/T-1/T (2)"},
                            {"type", "task-flow"}}));
  EXPECT_EQ(links[1]["source"], "/Quarvel Dorarov/Tasks/T-1/T (2)");
  const std::string note = "/Quarvel Dorarov/Tasks/T-1/T (3)";
  EXPECT_EQ(app.attribute(note, "MVNType"), "TaskEvent");
  EXPECT_EQ(app.attribute(note, "MVNTaskID"), "T-1");
  EXPECT_EQ(app.attribute(note, "MVNStatus"), "started");
  EXPECT_EQ(app.attribute(note, "MVNLoggedAt"), iso8601Seconds(nowMs()));
}

TEST_F(JournalTest, NothingIsWrittenWithLoggingOffOrNoNoteApp) {
  setSettings([](ToolSettings& s) { s.enableLogging = false; });
  run(taskEvent("T"));
  run(logConversation(context, "a", "b", "hi"));
  run(agentLog("alice", "x"));
  EXPECT_TRUE(app.calls.empty());

  setSettings([](ToolSettings& s) { s.enableLogging = true; });
  app.connected = false;
  run(taskEvent("T"));
  run(agentLog("alice", "x"));
  EXPECT_TRUE(app.calls.empty());
  EXPECT_TRUE(journal.noteTitleCounters.empty());
}

TEST_F(JournalTest, ConversationNote) {
  run(logConversation(context, "alice", "bob", "two\nwords"));
  const std::string container = "/Quarvel Dorarov/Conversations/alice \u2192 bob";
  const Json last = app.argumentsOf("create_note").back();
  EXPECT_EQ(last, (Json{{"name", "Message - two words"}, {"container", container}, {"text", "two\nwords"}}));
  EXPECT_EQ(app.attribute(container + "/Message - two words", "MVNType"), "Conversation");
  EXPECT_EQ(app.attribute(container + "/Message - two words", "MVNAgent"), "alice");
}

TEST_F(JournalTest, ConversationPreview) {
  const std::string a72(72, 'a');
  const std::string a100(100, 'a');
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {" \n ", ""},
      {"  hi there \n", "hi there"},
      {a72, a72},
      {a72 + "b", std::string(71, 'a') + "\u2026"},
      {a100, std::string(71, 'a') + "\u2026"},
  };
  for (const auto& [message, preview] : cases) EXPECT_EQ(conversationPreview(message), preview) << message;
}

TEST_F(JournalTest, AgentLogNotesCountTitlesAndNestSlashedNames) {
  for (int i = 0; i < 3; ++i) run(agentLog("alice", "T"));
  const auto created = app.argumentsOf("create_note");
  std::vector<std::string> names;
  for (const auto& c : created) {
    if (c["container"] == "/Quarvel Dorarov/Agent Logs/alice") names.push_back(c["name"]);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"T", "T (2)", "T (3)"}));
  // Exactly the three attributes, without the hook sync's context values.
  const auto writes = app.argumentsOf("set_value");
  std::set<std::string> attributes;
  for (const auto& w : writes) attributes.insert(w["attribute"]);
  EXPECT_EQ(attributes, (std::set<std::string>{"MVNType", "MVNAgent", "MVNLoggedAt"}));

  app.calls.clear();
  run(agentLog("team/bob", "x"));
  EXPECT_TRUE(journal.createdLogContainers.contains("/Quarvel Dorarov/Agent Logs/team/bob"));
  EXPECT_EQ(app.argumentsOf("create_note").back()["container"], "/Quarvel Dorarov/Agent Logs/team/bob");
}

TEST_F(JournalTest, AgentLogContextValuesAreWrittenWhenGiven) {
  AgentLogContext details;
  details.sessionID = "s-1";
  run(writeAgentLogNote(context, "Claude", "Hook", "text", details));
  EXPECT_EQ(app.attribute("/Quarvel Dorarov/Agent Logs/Claude/Hook", "MVNSessionID"), "s-1");
  EXPECT_EQ(app.argumentsOf("set_value").size(), 4u);
}

}  // namespace
}  // namespace qd
