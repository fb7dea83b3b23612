#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>

#include "daemon/core/daemon_error.h"
#include "daemon/core/provider_error.h"
#include "daemon/messaging/notification_queue.h"
#include "daemon/router/json_normalizing.h"
#include "daemon/tinderbox/tinderbox_supervisor.h"
#include "daemon/tinderbox/tinderbox_tool_provider.h"
#include "daemon_fixture.h"
#include "support/stderr_capture.h"

namespace qd {
namespace {

// A provider whose tools fail or answer in the ways the error table and the JSON
// normalising must handle.
class FaultyProvider : public ToolProvider {
 public:
  std::string providerID() const override { return "faulty"; }
  std::vector<MCPTool> tools() const override {
    std::vector<MCPTool> tools;
    for (const char* name : {"provider_error", "runtime_error", "messaging_error", "parse_error", "odd_values",
                             "passes", "not_an_object", "note_app_call_failed", "supervisor_error"}) {
      MCPTool tool;
      tool.name = name;
      tool.inputSchema.type = "object";
      tools.push_back(tool);
    }
    return tools;
  }
  FeatureTier featureTier() const override { return FeatureTier::release; }
  OperationsMap availableOperations() const override { return {}; }
  bool canHandle(std::string_view toolName) const override {
    for (const MCPTool& tool : tools()) {
      if (tool.name == toolName) return true;
    }
    return false;
  }
  asio::awaitable<std::optional<Json>> handle(std::string toolName, std::string, Json arguments) override {
    lastArguments = arguments;
    if (toolName == "provider_error") throw ProviderError("com.example.calendar", 13, "Grant calendar access first.");
    if (toolName == "runtime_error") throw std::runtime_error("secret internals");
    if (toolName == "messaging_error") throw MessagingError::agentNameTaken("bob");
    if (toolName == "parse_error") (void)parseJson("{");
    if (toolName == "note_app_call_failed") throw tinderbox_errors::makeCallFailed("echo", "Connection closed");
    if (toolName == "supervisor_error") throw SupervisorError(SupervisorError::Kind::timeout);
    if (toolName == "passes") co_return std::nullopt;
    if (toolName == "not_an_object") co_return Json::array({1});
    co_return Json{{"content", Json::array()},
                   {"nothing", nullptr},
                   {"nan", std::numeric_limits<double>::quiet_NaN()},
                   {"list", Json::array({std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(), 1.5})}};
  }
  Json lastArguments;
};

class DispatchTest : public test::DaemonFixture {
 protected:
  DispatchTest() {
    daemon_->providerRegistry().providers.push_back(provider_);
    buildCatalog();
  }
  std::shared_ptr<FaultyProvider> provider_ = std::make_shared<FaultyProvider>();
};

TEST_F(DispatchTest, EnvelopeAndMethodErrorsAnswerTheProtocolsTexts) {
  struct Case {
    const char* line;
    Json expected;
  };
  const Case cases[] = {
      {R"([1,2])", {{"error", "Invalid JSON"}}},
      {R"(hello)", {{"error", "Internal error"}}},
      {"", {{"error", "Internal error"}}},
      {R"({"_requestId":3})", {{"error", "Missing method"}}},
      {R"({"method":7,"_requestId":3})", {{"error", "Missing method"}}},
      {R"({"method":"app_save_settings","_requestId":4})",
       {{"error", "Invalid parameter: app-admin methods require XPC admin channel"}, {"_requestId", 4}}},
      {R"({"method":"app_get_health"})", {{"error", "Invalid parameter: app-admin methods require XPC admin channel"}}},
      {R"({"method":"app_other","_requestId":6})", {{"error", "Unknown method: app_other"}, {"_requestId", 6}}},
      {R"({"method":"List_tools"})", {{"error", "Unknown method: List_tools"}}},
      {R"({"method":"\u00a0sync\u2003"})", {{"error", "Unknown method: sync"}}},
      {R"({"method":"call_tool","_requestId":5})", {{"error", "Missing required parameter"}, {"_requestId", 5}}},
      {R"({"method":"call_tool","params":"x","_requestId":2})", {{"error", "Missing required parameter"}, {"_requestId", 2}}},
      {R"({"method":"call_tool","params":{"name":3},"_requestId":2})",
       {{"error", "Missing required parameter"}, {"_requestId", 2}}},
      {R"({"method":"call_tool","params":{"name":"nope"},"_requestId":"5"})", {{"error", "Invalid parameter: Unknown tool: nope"}}},
      {R"({"method":"call_tool","params":{"name":"nope"},"_requestId":5.5})", {{"error", "Invalid parameter: Unknown tool: nope"}}},
      {R"({"method":"call_tool","params":{"name":"nope"},"_requestId":8})",
       {{"error", "Invalid parameter: Unknown tool: nope"}, {"_requestId", 8}}},
  };
  for (const Case& c : cases) EXPECT_EQ(reply(c.line), c.expected) << c.line;
}

TEST_F(DispatchTest, InitializeAnswersTheFixedObjectWithTheRequestId) {
  const Json expected = parseJson(
      R"({"protocolVersion":"2024-11-05","capabilities":{"tools":{}},"serverInfo":{"name":"quarvel-toolbox","version":"2.0.0"}})");
  Json withId = expected;
  withId["_requestId"] = 7;
  EXPECT_EQ(reply(R"({"method":"initialize","_requestId":7})"), withId);
  EXPECT_EQ(reply(R"({"method":"initialize","params":{"x":1}})"), expected);
  EXPECT_EQ(reply("{\"method\":\"initialize\"}\r"), expected);
}

TEST_F(DispatchTest, AMessageNestedDeeperThanTheParserAllowsIsAnInternalError) {
  const std::string deep = R"({"method":"initialize","x":)" + std::string(100000, '[') + std::string(100000, ']') + "}";
  EXPECT_EQ(reply(deep), Json({{"error", "Internal error"}}));
  // The same daemon goes on answering.
  EXPECT_EQ(reply(R"({"method":"initialize"})")["protocolVersion"], "2024-11-05");
}

TEST_F(DispatchTest, ListToolsAndCallToolAgreeOnTheNames) {
  Json listed = reply(R"({"method":"list_tools","_requestId":7})");
  EXPECT_EQ(listed["_requestId"], 7);
  std::vector<std::string> names;
  for (const Json& tool : listed["tools"]) names.push_back(tool["name"]);
  ASSERT_GE(names.size(), 2u);
  EXPECT_EQ(names[0], "health_check");
  EXPECT_EQ(names[1], "daemon_self_check");
  EXPECT_FALSE(reply(R"({"method":"list_tools"})").contains("_requestId"));
  for (const std::string& name : names) {
    if (name == "passes") continue;  // accepted, then answered by no provider
    EXPECT_NE(error(call(name)), "Invalid parameter: Unknown tool: " + name) << name;
  }
}

TEST_F(DispatchTest, ToolFailuresAnswerUserTextsAndHideInternals) {
  struct Case {
    const char* tool;
    const char* error;
  };
  const Case cases[] = {
      // Permission guidance reaches the user as the provider wrote it, without its domain.
      {"provider_error", "Grant calendar access first."},
      {"messaging_error", "Agent name 'bob' is already taken"},
      {"runtime_error", "Internal error"},
      {"parse_error", "Internal error"},
      {"passes", "Invalid parameter: Unknown tool: passes"},
      {"not_an_object", "Failed to build navigation URL"},
      // The note app's server failed the forwarded call: the operation and what went wrong.
      {"note_app_call_failed", "Operation 'echo' failed: Connection closed"},
      {"supervisor_error", "Tinderbox's MCP server did not start in time"},
  };
  test::StderrCapture stderrCapture;
  for (const Case& c : cases) {
    Json answer = call(c.tool);
    EXPECT_EQ(answer["_requestId"], 1) << c.tool;
    EXPECT_EQ(error(answer), c.error) << c.tool;
  }
  const std::string log = stderrCapture.text();
  const auto line = log.find("\"message\":\"Tinderbox call failed\"");
  ASSERT_NE(line, std::string::npos) << log;
  const Json logged = parseJson(log.substr(log.rfind('\n', line) + 1, log.find('\n', line) - log.rfind('\n', line) - 1));
  EXPECT_EQ(logged["level"], "WARN");
  EXPECT_EQ(logged["metadata"], (Json{{"clientId", "client-0"}, {"operation", "echo"}, {"detail", "Connection closed"}}));
}

TEST_F(DispatchTest, ResultsStayJsonNullsStayNullAndNonFiniteNumbersBecomeText) {
  Json answer = call("odd_values", Json{{"k", "v"}});
  EXPECT_EQ(answer["nothing"], nullptr);
  EXPECT_EQ(answer["nan"], "nan");
  EXPECT_EQ(answer["list"], Json::parse(R"(["inf","-inf",1.5])"));
  EXPECT_EQ(answer["_requestId"], 1);
  EXPECT_EQ(provider_->lastArguments, Json({{"k", "v"}}));
}

TEST_F(DispatchTest, AnUnpairedSurrogateEscapeReachesTheToolAsTheReplacementCharacter) {
  const Json answer = reply(R"({"method":"call_tool","params":{"name":"odd_values","arguments":{"k":"\uD83D"}},"_requestId":9})");
  EXPECT_EQ(answer["_requestId"], 9);
  EXPECT_EQ(provider_->lastArguments, Json({{"k", "\xEF\xBF\xBD"}}));
}

TEST_F(DispatchTest, NormalizingTurnsBinaryIntoBase64AndRefusesNonObjects) {
  Json result = normalizeJSONPayload(Json{{"_requestId", "theirs"}, {"bytes", Json::binary({0x66, 0x6f, 0x6f})}});
  EXPECT_EQ(result["bytes"], "Zm9v");
  EXPECT_THROW(normalizeJSONPayload(Json::array()), DaemonError);
}

TEST_F(DispatchTest, AFailedCallIsLoggedOnceAndARefusedOneIsNot) {
  saveSettings([](ToolSettings& s) { s.enableToolCallLogging = true; });
  call("provider_error", Json{{"password", "hunter2"}});
  call("no_such_tool");
  call("health_check");
  const std::string log = [&] {
    std::ifstream in(configuration_.appSupportDir() / "tool-calls.log");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }();
  std::vector<Json> lines;
  std::istringstream stream(log);
  for (std::string line; std::getline(stream, line);) lines.push_back(parseJson(line));
  ASSERT_EQ(lines.size(), 2u) << log;
  EXPECT_EQ(lines[0]["tool"], "provider_error");
  EXPECT_EQ(lines[0]["success"], false);
  EXPECT_EQ(lines[0]["error"], "Grant calendar access first.");
  EXPECT_EQ(log.find("hunter2"), std::string::npos);
  EXPECT_EQ(lines[1]["tool"], "health_check");
  EXPECT_EQ(lines[1]["success"], true);
}

}  // namespace
}  // namespace qd
