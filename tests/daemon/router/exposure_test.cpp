// What a client is offered and may call: exposed names and collisions, per-operation
// tools, the access policy by every name a write goes by, and one call through the
// daemon's own socket.

#include <gtest/gtest.h>

#include <algorithm>
#include <future>

#include <asio/co_spawn.hpp>
#include <asio/use_future.hpp>

#include "daemon/core/daemon_error.h"
#include "daemon/runtime/io_thread.h"
#include "daemon_fixture.h"
#include "support/daemon_process.h"

namespace qd {
namespace {

using Names = std::vector<std::string>;

MCPTool toolWithOperation(const std::string& name) {
  MCPTool tool;
  tool.name = name;
  tool.description = name + " does things";
  tool.inputSchema.type = "object";
  tool.inputSchema.properties = Json{{"operation", {{"type", "string"}}}, {"title", {{"type", "string"}, {"required", true}}}};
  tool.inputSchema.required = Names{"operation"};
  return tool;
}

// A provider whose tools declare operations, as the note app's and the applications'
// providers do; it records every call it answers.
class OperationsProvider : public ToolProvider {
 public:
  std::string providerID() const override { return "operations"; }
  std::vector<MCPTool> tools() const override {
    MCPTool plain = toolWithOperation("x_a");
    plain.inputSchema.properties->erase("operation");
    plain.inputSchema.required.reset();
    return {plain, toolWithOperation("x"), toolWithOperation("omnifocus"), toolWithOperation("tbx_doc"),
            toolWithOperation("tbx_export")};
  }
  FeatureTier featureTier() const override { return FeatureTier::release; }
  OperationsMap availableOperations() const override {
    return {{"x", {"help", "a", "b"}},
            {"omnifocus", {"add_task", "list_tasks"}},
            {"tbx_doc",
             {"close_tinderbox_document", "delete_note", "list_tinderbox_windows", "open_tinderbox",
              "open_tinderbox_document", "quit_tinderbox", "restart_tinderbox", "save_tinderbox_document"}},
            {"tbx_export", {"print_note"}}};
  }
  bool canHandle(std::string_view toolName) const override {
    return toolName == "x" || toolName == "x_a" || toolName == "omnifocus";
  }
  asio::awaitable<std::optional<Json>> handle(std::string toolName, std::string, Json arguments) override {
    calls.push_back({toolName, arguments});
    co_return Json{{"content", Json::array({Json{{"type", "text"}, {"text", "answered " + toolName}}})}};
  }
  std::vector<std::pair<std::string, Json>> calls;
};

class ExposureTest : public test::DaemonFixture {
 protected:
  ExposureTest() {
    daemon_->providerRegistry().providers.push_back(provider_);
    saveSettings([](ToolSettings& s) { s.helperToolEnabled["tbx_export"] = true; });  // off by default
  }

  Json listed(const std::string& clientId = "client-0") {
    return reply(R"({"method":"list_tools","_requestId":2})", clientId)["tools"];
  }
  Names listedNames(const std::string& clientId = "client-0") {
    Names names;
    for (const Json& tool : listed(clientId)) names.push_back(tool["name"]);
    return names;
  }
  bool isListed(const std::string& name, const std::string& clientId = "client-0") {
    const Names names = listedNames(clientId);
    return std::find(names.begin(), names.end(), name) != names.end();
  }
  void grant(const std::string& category, bool read, bool write) {
    saveSettings([&](ToolSettings& s) { s.defaultCategoryPolicy[category] = CategoryPolicy{read, write}; });
  }
  std::string accessError(const std::string& tool, const Json& arguments) {
    try {
      daemon_->validateToolAccess("client-0", tool, arguments);
    } catch (const DaemonError& e) {
      return e.description();
    }
    return "allowed";
  }

  std::shared_ptr<OperationsProvider> provider_ = std::make_shared<OperationsProvider>();
};

TEST_F(ExposureTest, PerOperationToolsReplaceGroupedOnesAndTheFirstNameWins) {
  const Json tools = listed();
  std::map<std::string, Json> byName;
  for (const Json& tool : tools) byName[tool["name"]] = tool;
  EXPECT_FALSE(byName.contains("x"));
  EXPECT_FALSE(byName.contains("x_help"));
  EXPECT_TRUE(byName.contains("x_b"));
  EXPECT_FALSE(byName.contains("omnifocus"));
  EXPECT_TRUE(byName.contains("omnifocus_add_task"));
  // The plain tool x_a came first: its own schema, not the per-operation one.
  EXPECT_EQ(byName["x_a"]["description"], "x_a does things");
  // Per-operation: "operation" gone, the lifted flag in "required", the router's description.
  EXPECT_EQ(byName["x_b"]["inputSchema"], Json::parse(R"({"type":"object","properties":{"title":{"type":"string"}},"required":["title"]})"));
  EXPECT_EQ(byName["x_b"]["description"], "Tinderbox operation b.");
  EXPECT_EQ(byName["tbx_export_print_note"]["inputSchema"]["required"], Json({"document", "notePath"}));
  EXPECT_EQ(byName["tbx_doc_open_tinderbox_document"]["inputSchema"]["required"], Json({"filePath"}));
  // Every name is offered once.
  Names names = listedNames();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());

  EXPECT_EQ(text(call("x_b", {{"title", "t"}, {"operation", "a"}})), "answered x");
  ASSERT_EQ(provider_->calls.size(), 1u);
  EXPECT_EQ(provider_->calls[0].second, (Json{{"title", "t"}, {"operation", "b"}}));  // forced, not the client's
  EXPECT_EQ(error(call("x")), "Invalid parameter: Unknown tool: x");
}

// A read-only grant for the note-app category: every write is hidden from the list and
// refused when called, whichever name it goes by.
TEST_F(ExposureTest, AReadOnlyGrantLetsNoWriteThroughUnderAnyName) {
  grant("tinderbox", true, false);
  struct Case {
    const char* exposed;
    bool offered;
  };
  const Case cases[] = {
      {"x_a", true},
      {"x_b", true},
      {"omnifocus_list_tasks", true},
      {"omnifocus_add_task", false},
      {"tbx_doc_list_tinderbox_windows", true},
      {"tbx_doc_open_tinderbox_document", false},
      {"tbx_doc_save_tinderbox_document", false},
      {"tbx_doc_close_tinderbox_document", false},
      {"tbx_doc_delete_note", false},
      {"tbx_doc_open_tinderbox", false},
      {"tbx_doc_restart_tinderbox", false},
      {"tbx_doc_quit_tinderbox", false},
      {"tbx_export_print_note", true},
  };
  const Names names = listedNames();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.exposed);
    EXPECT_EQ(std::find(names.begin(), names.end(), c.exposed) != names.end(), c.offered);
    if (!c.offered) {
      EXPECT_EQ(error(call(c.exposed)), std::string("Invalid parameter: Unknown tool: ") + c.exposed);
    }
  }
  // The check of one call judges the grouped name, the exposed name and the operation,
  // also for a grouped tool called whole with an operation in any letter case.
  const std::string denied = "Feature is disabled in settings: policy denied write for category tinderbox";
  EXPECT_EQ(accessError("tbx_doc", {{"operation", "save_tinderbox_document"}}), denied);
  EXPECT_EQ(accessError("tbx_doc", {{"operation", " quit_tinderbox "}}), denied);
  EXPECT_EQ(accessError("omnifocus", {{"operation", "Add_Task"}}), denied);
  EXPECT_EQ(accessError("omnifocus", {{"operation", "list_tasks"}}), "allowed");
  EXPECT_EQ(accessError("tbx_doc", {{"operation", "list_tinderbox_windows"}}), "allowed");
  // Apple tools keep their own category.
  grant("apple", true, false);
  EXPECT_EQ(accessError("mail", {{"operation", "send"}}),
            "Feature is disabled in settings: policy denied write for category apple");
  EXPECT_TRUE(provider_->calls.empty());
}

TEST_F(ExposureTest, ReadWriteToolsNeedOnlyReadAndHelperOperationsAreJudgedPerCall) {
  grant("tinderbox", false, true);
  EXPECT_FALSE(isListed("x_a"));  // readwrite counts as a read
  // A grouped tool is judged without an operation first: readwrite, so hidden whole.
  EXPECT_FALSE(isListed("omnifocus_add_task"));
  grant("tinderbox", true, false);
  EXPECT_EQ(text(call("x_a")), "answered x_a");

  saveSettings([](ToolSettings& s) { s.helperToolEnabled["jobs"] = true; });
  grant("router", true, false);
  EXPECT_EQ(accessError("jobs", {{"operation", "enqueue"}}),
            "Feature is disabled in settings: policy denied write for category router");
  EXPECT_EQ(accessError("jobs", {{"operation", "status"}}), "allowed");
  EXPECT_FALSE(isListed("notify"));
  EXPECT_TRUE(isListed("health_check"));
  saveSettings([](ToolSettings& s) { s.helperToolEnabled["health_check"] = false; });
  EXPECT_EQ(accessError("health_check", Json::object()), "Tool is disabled in settings: health_check");
}

TEST_F(ExposureTest, AnAgentsPolicyAppliesOnceTheClientIdentifies) {
  saveSettings([](ToolSettings& s) { s.agentCategoryPolicy["alice"]["tinderbox"] = CategoryPolicy{true, false}; });
  EXPECT_TRUE(isListed("omnifocus_add_task"));
  EXPECT_EQ(text(call("identify", {{"agentName", "alice"}})), "Registered as alice (anonymous)");
  EXPECT_FALSE(isListed("omnifocus_add_task"));
  EXPECT_TRUE(isListed("omnifocus_add_task", "client-1"));  // another client is not alice
  EXPECT_EQ(error(call("omnifocus_add_task")), "Invalid parameter: Unknown tool: omnifocus_add_task");
}

class ReleaseFallbackTest : public test::DaemonFixture {
 protected:
  ReleaseFallbackTest() : DaemonFixture("release") {}
};

// Before any catalog is built, the release tier offers no helper tool it would refuse.
TEST_F(ReleaseFallbackTest, TheEmptyCatalogFallbackHidesWhatTheTierHides) {
  ASSERT_TRUE(daemon_->discoveredTools().empty());
  const Json tools = reply(R"({"method":"list_tools"})")["tools"];
  ASSERT_FALSE(tools.empty());
  for (const Json& tool : tools) {
    SCOPED_TRACE(dumpJson(tool));
    EXPECT_FALSE(TinderboxDaemon::releaseHiddenHelperTools().contains(tool["name"].get<std::string>()));
  }
}

// The whole road once through the daemon's socket: started in-process, a provider with
// operations registered, a raw socket client lists and calls a per-operation tool.
TEST(ExposureEndToEnd, APerOperationToolIsListedAndReachesItsProviderWithTheOperation) {
  test::TempDir home("exposure-e2e");
  Configuration configuration(test::daemonEnvironment(home, "dev"));
  IoThread io;
  std::shared_ptr<TinderboxDaemon> daemon = TinderboxDaemon::create(io.executor(), configuration);
  auto provider = std::make_shared<OperationsProvider>();
  // Alone in the list: the daemon's own providers would answer "omnifocus" with other
  // operations.
  daemon->providerRegistry().providers = {provider};
  asio::co_spawn(io.executor(), daemon->start(), asio::use_future).get();

  {
    test::SocketLineClient client(configuration.socketPath());
    const Json listedReply = parseJson(client.request(R"({"method":"list_tools","_requestId":1})").value_or("null"));
    Names names;
    for (const Json& tool : listedReply["tools"]) names.push_back(tool["name"]);
    EXPECT_NE(std::find(names.begin(), names.end(), "omnifocus_list_tasks"), names.end());
    EXPECT_EQ(std::find(names.begin(), names.end(), "omnifocus"), names.end());
    const Json called = parseJson(
        client
            .request(R"({"method":"call_tool","_requestId":2,"params":{"name":"omnifocus_list_tasks","arguments":{"title":"a"}}})")
            .value_or("null"));
    EXPECT_EQ(called["_requestId"], 2);
    ASSERT_TRUE(called.contains("content")) << called;
    EXPECT_EQ(called["content"][0]["text"], "answered omnifocus");
  }
  asio::co_spawn(io.executor(), daemon->shutdown(), asio::use_future).get();
  // The provider is touched only on the io thread; read it once the daemon has stopped.
  std::promise<std::vector<std::pair<std::string, Json>>> seen;
  asio::post(io.executor(), [&] { seen.set_value(provider->calls); });
  const auto calls = seen.get_future().get();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].second, (Json{{"title", "a"}, {"operation", "list_tasks"}}));
  io.stop();
}

}  // namespace
}  // namespace qd
