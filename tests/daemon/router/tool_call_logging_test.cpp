// The record of a finished call: the tool-calls.log line before the reply, the note in
// the note app after it, never delaying it.

#include <gtest/gtest.h>

#include <fstream>

#include "daemon/core/provider_error.h"
#include "daemon_fixture.h"
#include "support/fake_note_app.h"

namespace qd {
namespace {

class LongFailureProvider : public ToolProvider {
 public:
  std::string providerID() const override { return "long"; }
  std::vector<MCPTool> tools() const override {
    MCPTool tool;
    tool.name = "fails_long";
    tool.inputSchema.type = "object";
    return {tool};
  }
  FeatureTier featureTier() const override { return FeatureTier::release; }
  OperationsMap availableOperations() const override { return {}; }
  bool canHandle(std::string_view name) const override { return name == "fails_long"; }
  asio::awaitable<std::optional<Json>> handle(std::string, std::string, Json) override {
    throw ProviderError("example", 1, std::string(600, 'e'));
    co_return std::nullopt;
  }
};

class ToolCallLoggingTest : public test::DaemonFixture {
 protected:
  ToolCallLoggingTest() {
    daemon_->providerRegistry().providers.push_back(std::make_shared<LongFailureProvider>());
    daemon_->setNoteAppForTesting(&noteApp_);
    saveSettings([](ToolSettings& s) {
      s.enableToolCallLogging = true;
      s.logToolCallsToFile = true;
      s.logToolCallsToTinderbox = true;
      s.enableLogging = true;
    });
  }
  ~ToolCallLoggingTest() override { daemon_->setNoteAppForTesting(nullptr); }

  std::vector<Json> fileLines() {
    std::ifstream in(configuration_.appSupportDir() / "tool-calls.log");
    std::vector<Json> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(parseJson(line));
    return lines;
  }
  // The call notes, without the containers made for them.
  std::vector<Json> callNotes() const {
    std::vector<Json> notes;
    for (const Json& note : noteApp_.argumentsOf("create_note")) {
      if (note["container"] == "/Quarvel Dorarov/Agent Logs/Router Calls") notes.push_back(note);
    }
    return notes;
  }
  // Runs what the daemon started in the background until it has nothing left to do.
  void settle() {
    io_.restart();
    io_.poll();
  }

  test::FakeNoteApp noteApp_;
};

TEST_F(ToolCallLoggingTest, TheFileLineHasNineKeysRedactedArgumentsAndACutError) {
  EXPECT_TRUE(call("health_check", {{"password", "p"}, {"deep", {{"api_key", "k"}, {"keep", 1}}}}).contains("content"));
  EXPECT_EQ(error(call("fails_long")), std::string(600, 'e'));
  settle();
  const std::vector<Json> lines = fileLines();
  ASSERT_EQ(lines.size(), 2u);
  const Json& ok = lines[0];
  EXPECT_EQ(ok.size(), 9u);
  for (const char* key : {"timestamp", "clientId", "agent", "tool", "category", "durationMs", "success", "error", "arguments"}) {
    EXPECT_TRUE(ok.contains(key)) << key;
  }
  EXPECT_EQ(ok["agent"], "client-0");
  EXPECT_EQ(ok["category"], "router");
  EXPECT_TRUE(ok["error"].is_null());
  EXPECT_EQ(ok["arguments"], (Json{{"password", "[REDACTED]"}, {"deep", {{"api_key", "[REDACTED]"}, {"keep", 1}}}}));
  EXPECT_EQ(lines[1]["success"], false);
  EXPECT_EQ(lines[1]["error"], std::string(500, 'e'));

  // The notes say the same, the secrets redacted and the error cut as well.
  const std::vector<Json> notes = callNotes();
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0]["container"], "/Quarvel Dorarov/Agent Logs/Router Calls");
  EXPECT_EQ(notes[0]["name"], "Tool Call - health_check");
  const std::string text = notes[0]["text"];
  EXPECT_EQ(text.rfind("Agent: client-0\nTool: health_check\nCategory: router\nDuration: ", 0), 0u) << text;
  EXPECT_NE(text.find("ms\nSuccess: true\nError: none\nArguments: {\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"[REDACTED]\""), std::string::npos);
  EXPECT_EQ(text.find("\"p\""), std::string::npos);
  EXPECT_NE(std::string(notes[1]["text"]).find("Success: false\nError: " + std::string(500, 'e') + "\nArguments: {}"),
            std::string::npos);
  const std::string notePath = "/Quarvel Dorarov/Agent Logs/Router Calls/Tool Call - health_check";
  EXPECT_EQ(noteApp_.attribute(notePath, "MVNType"), "AgentLog");
  EXPECT_EQ(noteApp_.attribute(notePath, "MVNAgent"), "Router Calls");
  EXPECT_EQ(noteApp_.attribute(notePath, "MVNLoggedAt").size(), 20u);
}

TEST_F(ToolCallLoggingTest, AHungNoteAppNeverDelaysTheReply) {
  noteApp_.holdCalls = true;
  // The reply comes although every note-app call hangs; its file line is already there.
  EXPECT_TRUE(call("health_check").contains("content"));
  EXPECT_EQ(fileLines().size(), 1u);
  settle();
  EXPECT_GE(noteApp_.heldCount(), 1u);
  EXPECT_TRUE(callNotes().empty());
  EXPECT_TRUE(call("health_check").contains("content"));

  noteApp_.releaseHeld();
  settle();
  const std::vector<Json> notes = callNotes();
  ASSERT_FALSE(notes.empty());
  EXPECT_EQ(notes.back()["name"], "Tool Call - health_check (2)");
}

TEST_F(ToolCallLoggingTest, SwitchesDecideWhatIsWritten) {
  saveSettings([](ToolSettings& s) { s.enableToolCallLogging = false; });
  call("health_check");
  settle();
  EXPECT_TRUE(fileLines().empty());
  EXPECT_TRUE(noteApp_.calls.empty());

  saveSettings([](ToolSettings& s) {
    s.enableToolCallLogging = true;
    s.enableLogging = false;
  });
  call("health_check");
  settle();
  EXPECT_EQ(fileLines().size(), 1u);
  EXPECT_TRUE(noteApp_.calls.empty());

  saveSettings([](ToolSettings& s) { s.enableLogging = true; });
  noteApp_.connected = false;
  call("health_check");
  settle();
  EXPECT_EQ(fileLines().size(), 2u);
  EXPECT_TRUE(noteApp_.calls.empty());

  noteApp_.connected = true;
  saveSettings([](ToolSettings& s) { s.logToolCallsToFile = false; });
  call("health_check");
  settle();
  EXPECT_EQ(fileLines().size(), 2u);
  EXPECT_EQ(callNotes().size(), 1u);
}

}  // namespace
}  // namespace qd
