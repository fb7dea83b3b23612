#include "daemon/router/tool_catalog.h"

#include <gtest/gtest.h>

#include "daemon/router/router.h"
#include "daemon/tinderbox/navigation_tools.h"

namespace qd {
namespace {

using Names = std::vector<std::string>;

MCPTool grouped(const std::string& name, Json properties = Json{{"operation", {{"type", "string"}}}},
                std::optional<Names> required = Names{"operation"}) {
  MCPTool tool;
  tool.name = name;
  tool.description = "the grouped tool's own description";
  tool.inputSchema.schema = "http://json-schema.org/draft-07/schema#";
  tool.inputSchema.type = "object";
  tool.inputSchema.properties = std::move(properties);
  tool.inputSchema.required = std::move(required);
  return tool;
}

TEST(OperationsParser, FindsTheListAfterTheEarliestMarker) {
  struct Case {
    const char* description;
    std::optional<Names> expected;
  };
  const Case cases[] = {
      {"Operation: help, create, list", Names{"help", "create", "list"}},
      {"Supported operations:\n1) add\n2) list; help", Names{"add", "list", "help"}},
      {"SUPPORTED OPERATIONS: a, b", Names{"a", "b"}},
      {"Does things. Operations include: x;y", Names{"x", "y"}},
      {"ends with operation: see docs", Names{"see docs"}},
      {"operation: a: b, c: d", std::nullopt},
      {"no marker here", std::nullopt},
      {"operation:", std::nullopt},
      {"Operation: \u2022 first, - second, * third, 12third.", Names{"first", "second", "third", "third"}},
      {"Operations: a , a ,, b", Names{"a", "a", "b"}},
      {"Operation: status (default)", Names{"status (default)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    EXPECT_EQ(parseOperationsFromDescription(c.description), c.expected);
  }
  EXPECT_EQ(normalizeOperationToken("  3. save;\t"), "save");
  EXPECT_EQ(normalizeOperationToken("\u2022\u2022 1) open_url:"), "open_url");
  EXPECT_EQ(normalizeOperationToken("...."), "");
}

TEST(OperationsParser, SchemaEnumWinsOverTheDescription) {
  EXPECT_EQ(deriveOperationsFromSchema(grouped("t", Json{{"operation", {{"enum", {"a", "b"}}, {"description", "Operation: c"}}}})),
            (Names{"a", "b"}));
  EXPECT_EQ(deriveOperationsFromSchema(grouped("t", Json{{"operation", {{"enum", Json::array()}, {"description", "Operation: c"}}}})),
            (Names{"c"}));
  EXPECT_EQ(deriveOperationsFromSchema(grouped("t", Json{{"operation", "Operation: c"}})), std::nullopt);
  EXPECT_EQ(deriveOperationsFromSchema(grouped("t", Json::object())), std::nullopt);
  // The helper tools' own operation descriptions are read this way.
  for (const MCPTool& tool : TinderboxDaemon::allHelperTools()) {
    if (tool.name == "tasks") {
      EXPECT_EQ(deriveOperationsFromSchema(tool)->size(), 11u);
    }
  }
}

TEST(CatalogRules, CapabilityAndGroupFromTheName) {
  struct Case {
    const char* name;
    const char* capability;
    const char* group;
  };
  const Case cases[] = {
      {"health_check", "read", "Router Core"},
      {"daemon_self_check", "read", "Router Core"},
      {"time_now", "read", "Time"},
      {"create_note", "write", "Tinderbox"},
      {"tinderbox_get_notes", "read", "Tinderbox Core"},
      {"agents", "readwrite", "Agent Coordination"},
      {"notify", "write", "Agent Coordination"},
      {"tbx_doc_open_tinderbox_document", "write", "TBX Document"},
      {"tbx_doc_save_tinderbox_document", "readwrite", "TBX Document"},
      {"tbx_doc_list_tinderbox_windows", "read", "TBX Document"},
      {"tbx_doc_quit_tinderbox", "write", "TBX Document"},
      {"tbx_doc_delete_note", "write", "TBX Document"},
      {"tbx_export_print_note", "read", "TBX Export"},
      {"tbx_nav_navigate_to_note", "readwrite", "TBX Navigation"},
      {"mail", "readwrite", "Apple Apps: Mail"},
      {"omnifocus", "readwrite", "OmniFocus"},
      {"devonthink", "readwrite", "DEVONthink"},
      {"atbref", "readwrite", "ATBRef"},
      {"bookends", "readwrite", "Bookends"},
      {"bookends_search", "readwrite", "Tinderbox"},
      {"print_document", "readwrite", "Tinderbox"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(determineToolCapability(c.name), c.capability);
    EXPECT_EQ(determineToolGroup(c.name), c.group);
  }
}

TEST(CatalogProjection, GroupedToolsSplitPerOperationWithTheirOwnSchemas) {
  const OperationsMap operations{
      {"tbx_nav", {"build_tinderbox_note_url", "help", "open_tinderbox_url"}},
      {"tbx_export", {"print_note"}},
      {"tbx_doc", {"delete_note"}},
      {"omnifocus", {"add_task", "help"}},
  };
  const std::vector<MCPTool> tools{grouped("tbx_nav"), grouped("tbx_export"), grouped("tbx_doc"), grouped("omnifocus")};
  const std::vector<MCPTool> projected = catalogProjectedTools(tools, operations);
  Names names;
  for (const MCPTool& tool : projected) names.push_back(tool.name);
  EXPECT_EQ(names, (Names{"tbx_nav_build_tinderbox_note_url", "tbx_nav_open_tinderbox_url", "tbx_export_print_note",
                          "tbx_doc_delete_note", "omnifocus"}));
  // The navigation definition's schema, the catalog's description.
  EXPECT_EQ(projected[0].inputSchema, navigationTool("build_tinderbox_note_url")->inputSchema);
  EXPECT_EQ(projected[0].description, "Build a tinderbox:// URL for a document/path with optional view and selection.");
  EXPECT_EQ(projected[2].inputSchema.required, (Names{"document", "notePath"}));
  EXPECT_EQ(projected[2].inputSchema.properties->size(), 6u);
  // No router schema: the grouped tool's own, without "operation" and "$schema".
  EXPECT_EQ(projected[3].description, "Tinderbox operation delete_note.");
  EXPECT_EQ(*projected[3].inputSchema.properties, Json::object());
  EXPECT_FALSE(projected[3].inputSchema.required.has_value());
  EXPECT_FALSE(projected[3].inputSchema.schema.has_value());
  EXPECT_EQ(projected[4], tools[3]);

  // The socket's per-operation tool uses the router's description table, which words
  // navigation differently from the catalog's.
  const MCPTool socketTool = toolWithOperationRemoved(grouped("tbx_nav"), "tbx_nav_navigate_to_note", "navigate_to_note");
  EXPECT_TRUE(socketTool.description->starts_with("UI only: scroll Tinderbox window to a note."));
  EXPECT_EQ(socketTool.inputSchema, navigationTool("navigate_to_note")->inputSchema);
  EXPECT_TRUE(catalogOperationDescription("navigate_to_note").starts_with("UI navigation only: move Tinderbox window"));
  // Only the grouped note-app tools take the router's schemas.
  const MCPTool app = toolWithOperationRemoved(grouped("omnifocus", Json{{"operation", {{"type", "string"}}}, {"name", {{"type", "string"}}}},
                                                       Names{"operation", "name"}),
                                               "omnifocus_print_note", "print_note");
  EXPECT_EQ(*app.inputSchema.properties, (Json{{"name", {{"type", "string"}}}}));
  EXPECT_EQ(app.inputSchema.required, Names{"name"});
  EXPECT_EQ(app.description, "Print a specific note path with optional template and printer settings.");
}

TEST(CatalogPayload, EntriesCarryParametersCapabilityGroupAndKnownOperations) {
  MCPTool loose;
  loose.name = "loose_tool";
  loose.inputSchema.type = "object";
  loose.inputSchema.properties = Json{{"odd", 5}, {"typed", {{"type", "integer"}, {"description", "n"}}}};
  loose.inputSchema.required = Names{"typed"};
  MCPTool bare;
  bare.name = "list_things";
  bare.inputSchema.type = "object";
  const OperationsMap operations{{"tbx_nav", {"note_exists"}}, {"omnifocus", {"help", "add_task"}}, {"empty", {}}};
  MCPTool empty = grouped("empty");
  const Json payload = toolCatalogPayload({grouped("tbx_nav"), grouped("omnifocus"), empty, loose, bare}, operations, 1700000000);
  EXPECT_EQ(payload["timestamp"], 1700000000);
  const Json& entries = payload["tools"];
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[0]["name"], "tbx_nav_note_exists");
  EXPECT_FALSE(entries[0].contains("operations"));
  EXPECT_EQ(entries[1]["operations"], Json({"help", "add_task"}));
  EXPECT_EQ(entries[2]["operations"], Json::array());  // a provider's empty list is still known
  EXPECT_EQ(entries[3]["parameters"],
            Json::parse(R"([{"name":"odd","type":"unknown","description":"","required":false},
                            {"name":"typed","type":"integer","description":"n","required":true}])"));
  EXPECT_EQ(entries[3]["capability"], "readwrite");
  EXPECT_EQ(entries[3]["readOnly"], false);
  EXPECT_EQ(entries[4]["parameters"], Json::array());
  EXPECT_EQ(entries[4]["readOnly"], true);
  EXPECT_EQ(entries[4]["description"], "");
  EXPECT_FALSE(entries[4].contains("operations"));
}

TEST(NavigationTools, TwelveStringOnlyDefinitionsInTheirThreeLists) {
  EXPECT_EQ(navigationUrlTools().size(), 6u);
  EXPECT_EQ(navigationDocumentTools().size(), 4u);
  EXPECT_EQ(navigationSelectionTools().size(), 2u);
  for (auto list : {navigationUrlTools, navigationDocumentTools, navigationSelectionTools}) {
    for (const MCPTool& tool : list()) {
      SCOPED_TRACE(tool.name);
      EXPECT_FALSE(tool.inputSchema.schema || tool.inputSchema.additionalProperties);
      for (const auto& [key, property] : tool.inputSchema.properties->items()) EXPECT_EQ(property["type"], "string");
    }
  }
  EXPECT_EQ(navigationTool("navigate_to_note_view")->inputSchema.required, (Names{"document", "path", "view"}));
  EXPECT_FALSE(navigationTool("copy_tinderbox_view")->inputSchema.required.has_value());
  EXPECT_EQ((*navigationTool("close_tinderbox_document")->inputSchema.properties)["saving"]["description"], "yes|no|ask");
  EXPECT_FALSE(navigationTool("print_note").has_value());
}

}  // namespace
}  // namespace qd
