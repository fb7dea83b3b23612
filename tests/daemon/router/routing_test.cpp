#include <gtest/gtest.h>

#include "daemon_fixture.h"

namespace qd {
namespace {

using RoutingTest = test::DaemonFixture;

TEST_F(RoutingTest, HelperRoutersReachTheirHandlers) {
  saveSettings([](ToolSettings& s) {
    for (const char* name : {"tasks", "workstreams", "jobs"}) s.helperToolEnabled[name] = true;
  });
  struct Case {
    const char* tool;
    Json arguments;
    const char* text;   // a success's text, or
    const char* error;  // the error reply
  };
  const Case cases[] = {
      {"agents", {{"operation", "help"}},
       "Operations: help, register, whoami, list, message, check_messages, quit, start_task, update_task, "
       "complete_task, list_tasks",
       nullptr},
      {"agents", {{"operation", "bootstrap"}},
       "Operation 'bootstrap' removed \u2014 use Claude Code for agent management.", nullptr},
      {"agents", {{"operation", "create_subagent"}},
       "Operation 'create_subagent' removed \u2014 use Claude Code for agent management.", nullptr},
      {"agents", {{"operation", " help"}}, nullptr, "Invalid parameter: Unknown agents operation:  help"},
      {"agents", {{"operation", ""}}, nullptr, "Invalid parameter: Unknown agents operation: "},
      {"agents", {{"operation", 3}}, nullptr, "Missing required parameter"},
      {"workstreams", {{"operation", "help"}}, nullptr, "Invalid parameter: Unknown workstreams operation: help"},
      {"workstreams", Json::object(), nullptr, "Missing required parameter"},
      // The coordination tools reach their handlers beneath the daemon.
      {"tasks", {{"operation", "list"}}, "[]", nullptr},
      {"agents", {{"operation", "check_messages"}}, nullptr, "Agent not identified - call identify tool first"},
      {"log_message", {{"title", "T"}}, "Logged: T", nullptr},
      {"jobs", {{"operation", "list"}}, "[]", nullptr},
      {"workstreams", {{"operation", "list"}}, "[]", nullptr},
      {"daemon_self_check", {{"operation", "Status"}}, nullptr,
       "Invalid parameter: Unknown daemon_self_check operation: Status"},
  };
  for (const Case& c : cases) {
    Json answer = call(c.tool, c.arguments);
    if (c.text) {
      EXPECT_EQ(text(answer), c.text) << c.tool << " " << c.arguments;
      EXPECT_FALSE(answer.contains("isError"));
    } else {
      EXPECT_EQ(error(answer), c.error) << c.tool << " " << c.arguments;
    }
  }
}

TEST_F(RoutingTest, GroupedNoteAppToolsCheckTheirOperationsBeforeRouting) {
  struct Case {
    const char* tool;
    Json operation;
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"tbx_nav", " help ",
       "tbx_nav operations:\nbuild_tinderbox_note_url, copy_tinderbox_view, navigate_to_note, navigate_to_note_view, "
       "note_exists, open_tinderbox_url, select_tinderbox_note, set_tinderbox_view",
       nullptr},
      {"tbx_doc", "help",
       "tbx_doc operations:\nclose_tinderbox_document, delete_note, list_tinderbox_windows, open_tinderbox, "
       "open_tinderbox_document, quit_tinderbox, restart_tinderbox, save_tinderbox_document",
       nullptr},
      {"tbx_export", "help", "tbx_export operations:\nexport_document, export_note, print_note", nullptr},
      // Unicode spaces count as white space too (a no-break space pasted with the name).
      {"tbx_export", "\u3000help\u00a0", "tbx_export operations:\nexport_document, export_note, print_note", nullptr},
      {"tbx_nav", "\u00a0\u2028", nullptr, "Missing required parameter: operation"},
      {"tbx_doc", "note_exists", nullptr, "Invalid parameter: Unknown tbx_doc operation: note_exists"},
      {"tbx_nav", "restart_tinderbox", nullptr, "Invalid parameter: Unknown tbx_nav operation: restart_tinderbox"},
      {"tbx_nav", "   ", nullptr, "Missing required parameter: operation"},
      {"tbx_nav", 4, nullptr, "Missing required parameter: operation"},
      {"tbx_nav", "note_exists", nullptr, "Missing required parameter: document"},
      {"tbx_doc", "quit_tinderbox", "Stop denied: no Tinderbox supervisor active (Tinderbox connection is disabled)",
       nullptr},
      {"tbx_doc", "quit_tinderbox\u2003",
       "Stop denied: no Tinderbox supervisor active (Tinderbox connection is disabled)", nullptr},
  };
  for (const Case& c : cases) {
    Json arguments{{"operation", c.operation}};
    try {
      std::optional<Json> answer = test::runAwaitable(io_, daemon_->handleProviderTool("client-0", c.tool, arguments));
      ASSERT_TRUE(answer) << c.tool;
      EXPECT_EQ(text(*answer), c.text ? c.text : "<expected an error>") << c.tool << " " << c.operation;
    } catch (const Error& e) {
      EXPECT_EQ(e.description(), c.error ? c.error : "<expected a text>") << c.tool << " " << c.operation;
    }
  }
}

TEST_F(RoutingTest, SettingsGuardHelperToolsToolSwitchFirstThenFeature) {
  saveSettings([](ToolSettings& s) {
    s.enableMessaging = false;
    s.helperToolEnabled["workstreams"] = false;
  });
  EXPECT_EQ(error(call("agents", {{"operation", "help"}})), "Feature is disabled in settings: messaging");
  // Switched off: not offered, so not even known to the client.
  EXPECT_EQ(error(call("workstreams", {{"operation", "list"}})), "Invalid parameter: Unknown tool: workstreams");
  std::optional<Json> direct;
  try {
    direct = test::runAwaitable(io_, daemon_->handleHelperTool("client-0", "workstreams", Json{{"operation", "x"}}));
    ADD_FAILURE() << "a switched-off helper tool answered";
  } catch (const Error& e) {
    EXPECT_EQ(e.description(), "Tool is disabled in settings: workstreams");
  }
  saveSettings([](ToolSettings& s) {
    s.enableMessaging = true;
    s.enableAgentCoordination = false;
  });
  EXPECT_EQ(error(call("agents", {{"operation", "help"}})), "Feature is disabled in settings: agent coordination");
  // A name no router knows is not a helper tool: the providers are asked next.
  EXPECT_FALSE(test::runAwaitable(io_, daemon_->handleHelperTool("client-0", "other", Json::object())));
}

class ReleaseTierTest : public test::DaemonFixture {
 protected:
  ReleaseTierTest() : DaemonFixture("release") {}
};

TEST_F(ReleaseTierTest, ReleaseOffersOnlyTheStatusToolsAndPrintingWhenEnabled) {
  buildCatalog();
  auto names = [this] {
    std::vector<std::string> out;
    for (const MCPTool& tool : daemon_->createHelperTools()) out.push_back(tool.name);
    return out;
  };
  EXPECT_EQ(names(), (std::vector<std::string>{"health_check", "daemon_self_check"}));
  saveSettings([](ToolSettings& s) { s.helperToolEnabled["print_document"] = true; });
  EXPECT_EQ(names(), (std::vector<std::string>{"health_check", "daemon_self_check", "print_document"}));
  EXPECT_EQ(error(call("identify", {{"agentName", "a"}})), "Invalid parameter: Unknown tool: identify");
}

TEST_F(RoutingTest, DevTierWithEverySwitchOnOffersAllElevenInOrder) {
  saveSettings([](ToolSettings& s) {
    for (auto& [name, enabled] : s.helperToolEnabled) enabled = true;
  });
  std::vector<std::string> names;
  for (const MCPTool& tool : daemon_->createHelperTools()) names.push_back(tool.name);
  EXPECT_EQ(names, (std::vector<std::string>{"health_check", "daemon_self_check", "identify", "notify", "agents",
                                             "sync_claude_hook", "log_message", "tasks", "workstreams", "jobs",
                                             "print_document"}));
  saveSettings([](ToolSettings& s) { s.requireExplicitToolEnable = true; s.helperToolEnabled = {{"identify", true}}; });
  names.clear();
  for (const MCPTool& tool : daemon_->createHelperTools()) names.push_back(tool.name);
  EXPECT_EQ(names, (std::vector<std::string>{"identify"}));
}

TEST(HelperToolDefinitions, SchemasSerialiseAsClientsSeeThem) {
  const std::vector<MCPTool> tools = TinderboxDaemon::allHelperTools();
  ASSERT_EQ(tools.size(), 11u);
  EXPECT_EQ(tools[0].toJson()["inputSchema"], Json::parse(R"({"type":"object","properties":{}})"));
  const Json jobs = tools[9].toJson();
  EXPECT_EQ(jobs["inputSchema"]["properties"]["arguments"], Json::parse(R"({"type":"array","description":"Command arguments"})"));
  EXPECT_EQ(jobs["inputSchema"]["required"], Json::parse(R"(["operation"])"));
  EXPECT_EQ(tools[10].description, "Send a file to a macOS printer. Tier: dev \u2014 enable in settings before use.");
}

}  // namespace
}  // namespace qd
