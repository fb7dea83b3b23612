#include "daemon/tinderbox/navigation_tools.h"

#include <utility>

namespace qd {
namespace {

using Property = std::pair<const char*, const char*>;  // name, description

// Every property of a navigation tool is a string.
MCPTool definition(const char* name, const char* description, std::vector<Property> properties,
                   std::vector<std::string> required = {}) {
  MCPTool tool;
  tool.name = name;
  tool.description = description;
  tool.inputSchema.type = "object";
  Json map = Json::object();
  for (const auto& [key, text] : properties) map[key] = Json{{"type", "string"}, {"description", text}};
  tool.inputSchema.properties = std::move(map);
  if (!required.empty()) tool.inputSchema.required = std::move(required);
  return tool;
}

constexpr const char* kDocumentWithoutTbx = "Document name without .tbx";
constexpr const char* kNotePathOrRoot = "Tinderbox note path (use '/' for document root)";
constexpr const char* kOptionalView = "Optional view";
constexpr const char* kOptionalSelect = "Optional note ID(s)";

std::vector<MCPTool> urlBuildingTools() {
  return {
      definition("build_tinderbox_note_url",
                 "Build a tinderbox:// URL for a document/path, with optional view and select.",
                 {{"document", kDocumentWithoutTbx},
                  {"path", "Tinderbox note path"},
                  {"view", kOptionalView},
                  {"select", kOptionalSelect}},
                 {"document", "path"}),
      definition("open_tinderbox_url", "Open a tinderbox:// URL in Tinderbox (URL navigation, not app lifecycle control).",
                 {{"url", "Full tinderbox:// URL"}}, {"url"}),
  };
}

MCPTool copyTinderboxViewTool() {
  return definition("copy_tinderbox_view", "Capture the current Tinderbox view as an image and return it to the model.",
                    {{"document", "Optional document name without .tbx"},
                     {"path", "Optional Tinderbox note path to navigate before capture"},
                     {"view", "Optional view type such as map"},
                     {"select", kOptionalSelect}});
}

// navigate_to_note_view and set_tinderbox_view share their properties.
MCPTool viewNavigationTool(const char* name, const char* description) {
  return definition(name, description,
                    {{"document", kDocumentWithoutTbx},
                     {"path", kNotePathOrRoot},
                     {"view", "View type"},
                     {"select", kOptionalSelect}},
                    {"document", "path", "view"});
}

}  // namespace

std::vector<MCPTool> navigationUrlTools() {
  std::vector<MCPTool> tools = urlBuildingTools();
  tools.push_back(definition("navigate_to_note",
                             "UI navigation only: move the user's Tinderbox window to a note via URL schema. Do not "
                             "use this to edit note content; use native tinderbox tools instead.",
                             {{"document", kDocumentWithoutTbx},
                              {"path", kNotePathOrRoot},
                              {"view", kOptionalView},
                              {"select", kOptionalSelect}},
                             {"document", "path"}));
  tools.push_back(viewNavigationTool("navigate_to_note_view",
                                     "UI navigation only: move the user's Tinderbox window to a note/view. Do not use "
                                     "this to edit note content; use native tinderbox tools instead."));
  tools.push_back(viewNavigationTool("set_tinderbox_view",
                                     "UI navigation only: set Tinderbox view in the current navigation context. Do not "
                                     "use this to edit note content; use native tinderbox tools instead."));
  tools.push_back(copyTinderboxViewTool());
  return tools;
}

std::vector<MCPTool> navigationDocumentTools() {
  return {
      definition("open_tinderbox_document",
                 "Open a .tbx document in Tinderbox (document-level action, not app lifecycle control).",
                 {{"filePath", "Path to .tbx document"}}, {"filePath"}),
      definition("save_tinderbox_document", "Save a named document, or front document if omitted.",
                 {{"document", "Optional document name"}}),
      definition("close_tinderbox_document", "Close a named document, or front document if omitted.",
                 {{"document", "Optional document name"}, {"saving", "yes|no|ask"}}),
      definition("list_tinderbox_windows", "List open Tinderbox windows (optional document filter).",
                 {{"document", "Optional document name filter"}}),
  };
}

std::vector<MCPTool> navigationSelectionTools() {
  return {
      definition("select_tinderbox_note", "Select a note in a document by Tinderbox path.",
                 {{"document", "Document name"}, {"notePath", "Tinderbox note path"}}, {"document", "notePath"}),
      definition("note_exists", "Check whether a note exists in a document by path.",
                 {{"document", "Document name"}, {"notePath", "Tinderbox note path"}}, {"document", "notePath"}),
  };
}

std::optional<MCPTool> navigationTool(std::string_view name) {
  for (auto list : {navigationUrlTools, navigationDocumentTools, navigationSelectionTools}) {
    for (MCPTool& tool : list()) {
      if (tool.name == name) return std::move(tool);
    }
  }
  return std::nullopt;
}

}  // namespace qd
