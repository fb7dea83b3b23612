// What the real daemon program writes to its note app: it supervises the fixture server in
// note-app mode (TINDERBOX_MCP_PATH), which records every call it receives in a file; the
// test drives the work tools over the socket and reads what the note app was asked to do.
// Tier beta, tasks switched on in tool-settings.json.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "socket_session.h"

namespace qd {
namespace {

class NoteAppJournalEndToEnd : public test::SocketSession {
 protected:
  void SetUp() override {
    startDaemon("beta", Json{{"helperToolEnabled", {{"tasks", true}}}},
                {{"TINDERBOX_DISABLE", "0"},
                 {"TINDERBOX_MCP_PATH", QD_FIXTURE_SERVER},
                 {"QD_FIXTURE_NOTE_APP", "1"},
                 {"QD_FIXTURE_CALL_LOG", callLog().string()}});
    client_ = connect();
    awaitNoteApp();
  }

  std::filesystem::path callLog() const { return home_.path() / "note-app-calls.jsonl"; }

  // The daemon connects to its note app in the background after it listens; the fixture's
  // "echo" answers through the socket once the connection is handed to the tools. Journal
  // writes before that would be skipped, as they are without a note app.
  void awaitNoteApp() {
    for (int attempt = 0; attempt < 3000; ++attempt) {
      if (text(call(*client_, "echo", {{"text", "ready"}})) == "ready") return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    FAIL() << "the note app never connected; daemon stderr: " << daemon_->stderrText();
  }

  // Every call the note app received so far, in order. A tool's reply comes after its
  // journal writes, so nothing needs to be waited for.
  std::vector<Json> noteAppCalls() const {
    std::vector<Json> calls;
    std::ifstream in(callLog());
    for (std::string line; std::getline(in, line);) calls.push_back(parseJson(line));
    return calls;
  }

  // The names of the notes created in `container`, in order.
  std::vector<std::string> createdIn(const std::string& container) const {
    std::vector<std::string> names;
    for (const Json& c : noteAppCalls()) {
      if (c["tool"] == "create_note" && c["arguments"].value("container", "") == container) {
        names.push_back(c["arguments"].value("name", ""));
      }
    }
    return names;
  }

  // The last value written to the attribute of the note at `path`.
  std::optional<std::string> attribute(const std::string& path, const std::string& name) const {
    std::optional<std::string> value;
    for (const Json& c : noteAppCalls()) {
      const Json& a = c["arguments"];
      if (c["tool"] == "set_value" && a.value("notes", "") == path && a.value("attribute", "") == name) {
        value = a.value("value", "");
      }
    }
    return value;
  }

  // Runs the daemon's program once more, with the daemon's environment, these arguments and
  // `input` as its standard input, to its end: its exit status, or none when it still runs
  // after a minute. Its output stays readable through oneShot_.
  std::optional<int> runProgram(const std::vector<std::string>& args, const std::string& input) {
    const std::filesystem::path folder = home_.path() / "one-shot";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "input", std::ios::binary) << input;
    oneShot_ = std::make_unique<test::DaemonProcess>(folder, daemon_->environment());
    oneShot_->start(args, folder / "input");
    return oneShot_->waitForExit();
  }

  std::unique_ptr<test::SocketLineClient> client_;
  std::unique_ptr<test::DaemonProcess> oneShot_;
};

TEST_F(NoteAppJournalEndToEnd, ATaskAndTheAgentsWorkAreMirroredAsNotes) {
  EXPECT_EQ(text(call(*client_, "agents", {{"operation", "register"}, {"agentId", "alice"}})),
            "Registered agent: alice");
  EXPECT_EQ(createdIn("/morvane/agents"), std::vector<std::string>{"alice"});
  EXPECT_EQ(attribute("/morvane/agents/alice", "MVNRole"), "general");

  const std::string created = text(call(*client_, "tasks", {{"operation", "create"}, {"title", "Ship it"}}));
  const std::string prefix = "Task created: TASK-";
  ASSERT_TRUE(created.starts_with(prefix) && created.ends_with("-ship-it")) << created;
  const std::string taskId = created.substr(std::string("Task created: ").size());

  // The mirror: one note below /morvane/tasks named by the id's slug, in status "queue".
  const std::vector<std::string> taskNotes = createdIn("/morvane/tasks");
  ASSERT_EQ(taskNotes.size(), 1u) << dumpJson(Json(noteAppCalls()));
  EXPECT_EQ(taskNotes[0], "task-" + taskId.substr(5));
  EXPECT_EQ(attribute("/morvane/tasks/" + taskNotes[0], "MVNStatus"), "queue");
  EXPECT_EQ(attribute("/morvane/tasks/" + taskNotes[0], "MVNTitle"), "Ship it");
  // The journal: the agent's log note about it.
  const std::string logContainer = "/Quarvel Dorarov/Agent Logs/alice";
  EXPECT_EQ(createdIn(logContainer), std::vector<std::string>{"Task Queued - " + taskId});
  EXPECT_EQ(attribute(logContainer + "/Task Queued - " + taskId, "MVNType"), "AgentLog");

  EXPECT_EQ(text(call(*client_, "tasks", {{"operation", "heartbeat"}})), "HEARTBEAT_OK");

  // One title logged three times: three notes, counted from the second.
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(text(call(*client_, "log_message", {{"title", "T"}, {"message", "step " + std::to_string(i)}})),
              "Logged: T");
  }
  EXPECT_EQ(createdIn(logContainer),
            (std::vector<std::string>{"Task Queued - " + taskId, "T", "T (2)", "T (3)"}));
}

TEST_F(NoteAppJournalEndToEnd, AClaudeHookEventIsJournaledAsTheTaskItStarted) {
  const Json payload{{"hook_event_name", "TaskCreate"},
                     {"session_id", "session-1"},
                     {"tool_input", {{"subject", "Write the guide"}, {"description", "for new users"}}},
                     {"tool_response", {{"task", {{"id", "7"}}}}}};
  EXPECT_EQ(text(call(*client_, "sync_claude_hook", {{"payloadJSON", dumpJson(payload)}})),
            "Hook synced: TaskCreate");

  const std::string claudeLogs = "/Quarvel Dorarov/Agent Logs/Claude";
  EXPECT_EQ(createdIn(claudeLogs), std::vector<std::string>{"Task Started - Write the guide"});
  EXPECT_EQ(attribute(claudeLogs + "/Task Started - Write the guide", "MVNHookEvent"), "TaskCreate");
  EXPECT_EQ(attribute(claudeLogs + "/Task Started - Write the guide", "MVNSessionID"), "session-1");
  EXPECT_EQ(createdIn("/Quarvel Dorarov/Tasks/7"), std::vector<std::string>{"Task Started"});
}

// What a Claude hook runs: the program's one-shot mode hands the event on its standard input
// to the running daemon, which journals it in the note app.
TEST_F(NoteAppJournalEndToEnd, TheSyncHookModeJournalsAnEventReadFromStandardInput) {
  const Json payload{{"hook_event_name", "TaskCreate"},
                     {"session_id", "session-2"},
                     {"tool_input", {{"subject", "Review the patch"}}},
                     {"tool_response", {{"task", {{"id", "9"}}}}}};
  EXPECT_EQ(runProgram({"--sync-hook"}, dumpJson(payload) + "\n"), 0) << oneShot_->stderrText();

  const std::string claudeLogs = "/Quarvel Dorarov/Agent Logs/Claude";
  EXPECT_EQ(createdIn(claudeLogs), std::vector<std::string>{"Task Started - Review the patch"})
      << dumpJson(Json(noteAppCalls()));
  EXPECT_EQ(attribute(claudeLogs + "/Task Started - Review the patch", "MVNSessionID"), "session-2");
}

}  // namespace
}  // namespace qd
