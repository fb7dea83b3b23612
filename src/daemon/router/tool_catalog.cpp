#include "daemon/router/tool_catalog.h"

#include <algorithm>
#include <array>
#include <map>

#include "daemon/runtime/text_trim.h"
#include "daemon/tinderbox/navigation_tools.h"

namespace qd {
namespace {

using Table = std::map<std::string, std::string, std::less<>>;

const Table& routerDescriptions() {
  static const Table table = {
      {"build_tinderbox_note_url", "Build a tinderbox:// URL for a document/path with optional view and selection."},
      {"open_tinderbox_url", "Open a tinderbox:// URL in Tinderbox (URL navigation, not app lifecycle control)."},
      {"navigate_to_note",
       "UI only: scroll Tinderbox window to a note. Use native tinderbox tools (get_notes, set_value, create_note, "
       "etc.) to read or write note content."},
      {"navigate_to_note_view",
       "UI only: scroll Tinderbox window to a note in a specific view. Use native tinderbox tools to read or write "
       "note content."},
      {"set_tinderbox_view",
       "UI only: change the view type shown in the Tinderbox window. Use native tinderbox tools to read or write note "
       "content."},
      {"select_tinderbox_note", "Select a note by Tinderbox path in a document."},
      {"note_exists", "Check whether a note path exists in a document."},
      {"open_tinderbox_document", "Open a .tbx document in Tinderbox (document-level action, not app lifecycle control)."},
      {"save_tinderbox_document", "Save a named document, or the front document if omitted."},
      {"close_tinderbox_document", "Close a named document, or the front document if omitted."},
      {"list_tinderbox_windows", "List open Tinderbox windows, optionally filtered by document."},
      {"export_document", "Export a Tinderbox document or optional note subtree."},
      {"export_note", "Export a specific note path using an optional template."},
      {"print_note", "Print a specific note path with optional template and printer settings."},
      {"restart_tinderbox", "Restart the Tinderbox app under router supervision."},
      {"open_tinderbox", "Open the Tinderbox app under router supervision."},
      {"quit_tinderbox", "Quit the Tinderbox app under router supervision."},
  };
  return table;
}

const Table& catalogDescriptions() {
  static const Table table = [] {
    Table rows = routerDescriptions();
    rows["navigate_to_note"] =
        "UI navigation only: move Tinderbox window focus to a note path in a document. Do not use for note "
        "edits/reads; use native tinderbox tools for content work.";
    rows["navigate_to_note_view"] =
        "UI navigation only: move Tinderbox window focus to a note path and explicit view. Do not use for note "
        "edits/reads.";
    rows["set_tinderbox_view"] =
        "UI navigation only: set Tinderbox view in current document/path context. Do not use for note edits/reads.";
    rows["copy_tinderbox_view"] = "Capture the current Tinderbox view as an image and return it to the model.";
    return rows;
  }();
  return table;
}

std::string describedBy(const Table& table, std::string_view operation) {
  if (auto it = table.find(operation); it != table.end()) return it->second;
  return "Tinderbox operation " + std::string(operation) + ".";
}

struct FixedProperty {
  const char* name;
  const char* type;
  const char* description;
};

ToolInputSchema fixedSchema(std::initializer_list<FixedProperty> properties, std::vector<std::string> required = {}) {
  ToolInputSchema schema;
  schema.type = "object";
  Json map = Json::object();
  for (const FixedProperty& p : properties) map[p.name] = Json{{"type", p.type}, {"description", p.description}};
  schema.properties = std::move(map);
  if (!required.empty()) schema.required = std::move(required);
  return schema;
}

std::optional<ToolInputSchema> fixedRouterOperationSchema(std::string_view operation) {
  if (operation == "export_document") {
    return fixedSchema({{"document", "string", "Document name"},
                        {"notePath", "string", "Optional note path (root if omitted)"},
                        {"template", "string", "Optional export template name"}},
                       {"document"});
  }
  if (operation == "export_note") {
    return fixedSchema({{"document", "string", "Document name"},
                        {"notePath", "string", "Note path to export"},
                        {"template", "string", "Optional template (required when exportChildren=true)"},
                        {"exportChildren", "boolean", "Export note hierarchy when supported by template"}},
                       {"document", "notePath"});
  }
  if (operation == "print_note") {
    return fixedSchema({{"document", "string", "Document name"},
                        {"notePath", "string", "Note path to print"},
                        {"template", "string", "Optional template name"},
                        {"exportChildren", "boolean", "Print with child export when template supports it"},
                        {"printer", "string", "Optional printer name"},
                        {"copies", "integer", "Optional print copies"}},
                       {"document", "notePath"});
  }
  if (operation == "restart_tinderbox") return fixedSchema({{"reason", "string", "Optional restart reason"}});
  if (operation == "open_tinderbox" || operation == "quit_tinderbox") return fixedSchema({});
  return std::nullopt;
}

std::vector<std::string> withoutHelp(std::vector<std::string> operations) {
  std::erase(operations, std::string("help"));
  return operations;
}

// The map's entry (even an empty one), else what the schema names.
std::optional<std::vector<std::string>> knownOperations(const MCPTool& tool, const OperationsMap& operations) {
  if (auto it = operations.find(tool.name); it != operations.end()) return it->second;
  return deriveOperationsFromSchema(tool);
}

bool isAsciiSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool isSeparator(char c) { return c == '\r' || c == '\n' || c == ';'; }

// Every run of white space and separators that holds at least one separator (a carriage
// return, line feed or semicolon) becomes one ",".
std::string separatorsToCommas(std::string_view text) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    if (!isAsciiSpace(text[i]) && text[i] != ';') {
      out += text[i++];
      continue;
    }
    std::size_t end = i;
    bool separated = false;
    while (end < text.size() && (isAsciiSpace(text[end]) || text[end] == ';')) separated |= isSeparator(text[end++]);
    if (separated) {
      out += ',';
    } else {
      out.append(text.substr(i, end - i));
    }
    i = end;
  }
  return out;
}

std::string asciiLowercased(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

Json parameterObjects(const ToolInputSchema& schema) {
  Json parameters = Json::array();
  if (!schema.properties || !schema.properties->is_object()) return parameters;
  const std::vector<std::string> required = schema.required.value_or(std::vector<std::string>{});
  for (const auto& [name, value] : schema.properties->items()) {
    Json parameter = Json::object();
    parameter["name"] = name;
    const bool isObject = value.is_object();
    auto type = isObject ? value.find("type") : value.end();
    parameter["type"] = isObject && type != value.end() && type->is_string() ? type->get<std::string>() : "unknown";
    auto description = isObject ? value.find("description") : value.end();
    parameter["description"] =
        isObject && description != value.end() && description->is_string() ? description->get<std::string>() : "";
    parameter["required"] = std::find(required.begin(), required.end(), name) != required.end();
    parameters.push_back(std::move(parameter));
  }
  return parameters;
}

}  // namespace

bool isRouterCoreTool(std::string_view name) { return name == "health_check" || name == "daemon_self_check"; }

bool isCatalogWrapperTool(std::string_view name) {
  return name == "tbx_nav" || name == "tbx_doc" || name == "tbx_export";
}

std::string routerOperationDescription(std::string_view operation) {
  return describedBy(routerDescriptions(), operation);
}

std::string catalogOperationDescription(std::string_view operation) {
  return describedBy(catalogDescriptions(), operation);
}

std::optional<ToolInputSchema> routerOperationSchema(std::string_view operation) {
  if (std::optional<MCPTool> tool = navigationTool(operation)) return std::move(tool->inputSchema);
  return fixedRouterOperationSchema(operation);
}

ToolInputSchema schemaWithoutOperation(const ToolInputSchema& schema) {
  ToolInputSchema out;
  out.type = schema.type;
  out.additionalProperties = schema.additionalProperties;
  Json properties = schema.properties && schema.properties->is_object() ? *schema.properties : Json::object();
  properties.erase("operation");
  out.properties = std::move(properties);
  if (schema.required) {
    std::vector<std::string> required = *schema.required;
    std::erase(required, std::string("operation"));
    if (!required.empty()) out.required = std::move(required);
  }
  return out;
}

MCPTool toolWithOperationRemoved(const MCPTool& tool, const std::string& externalName, std::string_view operation) {
  MCPTool external;
  external.name = externalName;
  external.description = routerOperationDescription(operation);
  std::optional<ToolInputSchema> fixed;
  if (isCatalogWrapperTool(tool.name)) fixed = routerOperationSchema(operation);
  external.inputSchema = fixed ? std::move(*fixed) : schemaWithoutOperation(tool.inputSchema);
  return external;
}

MCPTool catalogOperationProjection(std::string_view baseToolName, std::string_view operation,
                                   const std::string& externalName, const MCPTool& fallback) {
  (void)baseToolName;  // the projection depends on the operation and the fallback only
  MCPTool projected;
  projected.name = externalName;
  projected.description = catalogOperationDescription(operation);
  std::optional<ToolInputSchema> fixed = catalogSchemaForRouterOperation(operation);
  projected.inputSchema = fixed ? std::move(*fixed) : schemaWithoutOperation(fallback.inputSchema);
  return projected;
}

std::vector<MCPTool> catalogProjectedTools(const std::vector<MCPTool>& tools, const OperationsMap& operations) {
  std::vector<MCPTool> projected;
  for (const MCPTool& tool : tools) {
    std::vector<std::string> names = withoutHelp(knownOperations(tool, operations).value_or(std::vector<std::string>{}));
    if (!isCatalogWrapperTool(tool.name) || names.empty()) {
      projected.push_back(tool);
      continue;
    }
    for (const std::string& operation : names) {
      projected.push_back(catalogOperationProjection(tool.name, operation, tool.name + "_" + operation, tool));
    }
  }
  return projected;
}

std::optional<std::vector<std::string>> deriveOperationsFromSchema(const MCPTool& tool) {
  const std::optional<Json>& properties = tool.inputSchema.properties;
  if (!properties || !properties->is_object()) return std::nullopt;
  auto operation = properties->find("operation");
  if (operation == properties->end() || !operation->is_object()) return std::nullopt;
  if (auto values = operation->find("enum"); values != operation->end() && values->is_array() && !values->empty()) {
    const bool allStrings = std::all_of(values->begin(), values->end(), [](const Json& v) { return v.is_string(); });
    if (allStrings) return values->get<std::vector<std::string>>();
  }
  if (auto description = operation->find("description"); description != operation->end() && description->is_string()) {
    return parseOperationsFromDescription(description->get_ref<const std::string&>());
  }
  return std::nullopt;
}

std::optional<std::vector<std::string>> parseOperationsFromDescription(std::string_view description) {
  static constexpr std::array<std::string_view, 4> markers = {"operation:", "operations:", "operations include:",
                                                              "supported operations:"};
  // The markers are ASCII, so folding ASCII letters keeps every byte offset.
  const std::string folded = asciiLowercased(description);
  std::size_t bestStart = std::string::npos;
  std::size_t bestEnd = 0;
  for (std::string_view marker : markers) {
    const std::size_t at = folded.find(marker);
    if (at == std::string::npos || (bestStart != std::string::npos && at >= bestStart)) continue;
    bestStart = at;
    bestEnd = at + marker.size();
  }
  if (bestStart == std::string::npos) return std::nullopt;

  const std::string list = separatorsToCommas(description.substr(bestEnd));
  std::vector<std::string> kept;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    if (comma > start) {
      std::string token = normalizeOperationToken(std::string_view(list).substr(start, comma - start));
      if (!token.empty() && token.find(':') == std::string::npos) kept.push_back(std::move(token));
    }
    start = comma + 1;
  }
  if (kept.empty()) return std::nullopt;
  return kept;
}

std::string normalizeOperationToken(std::string_view token) {
  static constexpr std::string_view bullet = "\u2022";
  static constexpr std::string_view leading = "-*0123456789.) ";
  std::string text = trimWhitespaceAndNewlines(token);
  std::string_view rest = text;
  while (!rest.empty()) {
    if (rest.starts_with(bullet)) {
      rest.remove_prefix(bullet.size());
    } else if (leading.find(rest.front()) != std::string_view::npos) {
      rest.remove_prefix(1);
    } else {
      break;
    }
  }
  static constexpr std::string_view cut = ".;: \t\r\n";
  const std::size_t first = rest.find_first_not_of(cut);
  if (first == std::string_view::npos) return {};
  const std::size_t last = rest.find_last_not_of(cut);
  return std::string(rest.substr(first, last - first + 1));
}

std::string determineToolCapability(std::string_view toolName) {
  static constexpr std::array<std::string_view, 3> writePrefixes = {
      "tbx_doc_restart_tinderbox", "tbx_doc_open_tinderbox", "tbx_doc_quit_tinderbox"};
  static constexpr std::array<std::string_view, 5> readFragments = {"get_", "list_", "search_", "export_", "lookup_"};
  static constexpr std::array<std::string_view, 6> writeFragments = {"create_", "delete_", "add_",
                                                                     "remove_", "send_",   "notify"};
  auto contains = [toolName](std::string_view fragment) { return toolName.find(fragment) != std::string_view::npos; };
  if (isRouterCoreTool(toolName) || toolName.starts_with("time_")) return "read";
  for (std::string_view prefix : writePrefixes) {
    if (toolName.starts_with(prefix)) return "write";
  }
  if (std::any_of(readFragments.begin(), readFragments.end(), contains)) return "read";
  if (std::any_of(writeFragments.begin(), writeFragments.end(), contains)) return "write";
  return "readwrite";
}

std::optional<std::string> thirdPartyToolGroup(std::string_view toolName) {
  if (toolName == "bookends") return "Bookends";
  if (toolName == "omnifocus") return "OmniFocus";
  if (toolName == "devonthink") return "DEVONthink";
  if (toolName == "atbref") return "ATBRef";
  return std::nullopt;
}

std::string determineToolGroup(std::string_view toolName) {
  static const Table appleGroups = {
      {"contacts", "Apple Apps: Contacts"},   {"notes", "Apple Apps: Notes"}, {"messages", "Apple Apps: Messages"},
      {"mail", "Apple Apps: Mail"},           {"reminders", "Apple Apps: Reminders"},
      {"calendar", "Apple Apps: Calendar"},   {"maps", "Apple Apps: Maps"},
  };
  static constexpr std::array<std::string_view, 8> coordination = {
      "identify", "notify", "agents", "log_message", "tasks", "jobs", "workstreams", "sync_claude_hook"};
  if (isRouterCoreTool(toolName)) return "Router Core";
  if (toolName.starts_with("tbx_nav")) return "TBX Navigation";
  if (toolName.starts_with("tbx_doc")) return "TBX Document";
  if (toolName.starts_with("tbx_export")) return "TBX Export";
  if (std::find(coordination.begin(), coordination.end(), toolName) != coordination.end()) return "Agent Coordination";
  if (auto it = appleGroups.find(toolName); it != appleGroups.end()) return it->second;
  if (std::optional<std::string> group = thirdPartyToolGroup(toolName)) return *group;
  if (toolName.starts_with("time_")) return "Time";
  if (toolName.starts_with("tinderbox_")) return "Tinderbox Core";
  return "Tinderbox";
}

Json toolCatalogPayload(const std::vector<MCPTool>& tools, const OperationsMap& operations, std::int64_t unixSeconds) {
  Json entries = Json::array();
  for (const MCPTool& tool : catalogProjectedTools(tools, operations)) {
    const std::string capability = determineToolCapability(tool.name);
    Json entry = Json::object();
    entry["name"] = tool.name;
    entry["description"] = tool.description.value_or("");
    entry["parameters"] = parameterObjects(tool.inputSchema);
    entry["readOnly"] = capability == "read";
    entry["capability"] = capability;
    entry["group"] = determineToolGroup(tool.name);
    if (!isCatalogWrapperTool(tool.name)) {
      if (std::optional<std::vector<std::string>> known = knownOperations(tool, operations)) entry["operations"] = *known;
    }
    entries.push_back(std::move(entry));
  }
  Json payload = Json::object();
  payload["tools"] = std::move(entries);
  payload["timestamp"] = unixSeconds;
  return payload;
}

}  // namespace qd
