#pragma once

// The tool catalog's pure parts: how a tool is classified by its name (capability and
// display group), where its operations come from (the providers' map, an "enum" in its
// schema, or a list in a description), how a grouped tool is split into one tool per
// operation with a schema and description of its own, and the payload the tray
// application shows. Nothing here holds state; the daemon supplies the tools, the
// operations map and the time.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "daemon/core/tool_provider.h"
#include "daemon/mcp/mcp_types.h"
#include "daemon/utilities/json.h"

namespace qd {

// "health_check", "daemon_self_check".
bool isRouterCoreTool(std::string_view name);
// "tbx_nav", "tbx_doc", "tbx_export": the grouped note-app tools.
bool isCatalogWrapperTool(std::string_view name);

// The description of a per-operation tool on the socket: its row of the router's table,
// else "Tinderbox operation <operation>.".
std::string routerOperationDescription(std::string_view operation);
// The same for the catalog, whose table words the navigation rows differently and adds
// copy_tinderbox_view.
std::string catalogOperationDescription(std::string_view operation);

// The input schema of a router operation: the navigation tool definition of that name,
// else the fixed schema of export_document, export_note, print_note, restart_tinderbox,
// open_tinderbox or quit_tinderbox; none for any other name.
std::optional<ToolInputSchema> routerOperationSchema(std::string_view operation);
inline std::optional<ToolInputSchema> catalogSchemaForRouterOperation(std::string_view operation) {
  return routerOperationSchema(operation);
}

// The schema with "operation" taken out of "properties" (an absent map becomes {}) and of
// "required" (absent when nothing is left), "$schema" dropped, "type" and
// "additionalProperties" kept.
ToolInputSchema schemaWithoutOperation(const ToolInputSchema& schema);

// The socket's tool for one operation of `tool`: for a grouped note-app tool whose
// operation has a router schema, that schema; otherwise the tool's own schema without
// "operation". Named `externalName`, described by routerOperationDescription (never the
// tool's own description).
MCPTool toolWithOperationRemoved(const MCPTool& tool, const std::string& externalName, std::string_view operation);

// The catalog's entry for one operation of a grouped tool: the router schema when there
// is one, else the fallback's schema without "operation"; described by
// catalogOperationDescription.
MCPTool catalogOperationProjection(std::string_view baseToolName, std::string_view operation,
                                   const std::string& externalName, const MCPTool& fallback);

// Each grouped note-app tool with operations (other than "help") becomes one tool per
// operation, named tool_operation; every other tool stays as it is.
std::vector<MCPTool> catalogProjectedTools(const std::vector<MCPTool>& tools, const OperationsMap& operations);

// The "operation" property's non-empty string "enum", else the list its description
// names; none when neither gives one.
std::optional<std::vector<std::string>> deriveOperationsFromSchema(const MCPTool& tool);
// The comma-, semicolon- or line-separated list after the earliest of "operation:",
// "operations:", "operations include:", "supported operations:" (any letter case), each
// item normalised; items holding ":" are dropped. None when nothing is left.
std::optional<std::vector<std::string>> parseOperationsFromDescription(std::string_view description);
// Trimmed, list bullets and numbering (and any leading digits) removed, and ".;: \t\r\n"
// cut from both ends.
std::string normalizeOperationToken(std::string_view token);

// "read", "write" or "readwrite" from the name alone.
std::string determineToolCapability(std::string_view toolName);
// The settings window's group of the tool ("Router Core", "TBX Navigation", ...).
std::string determineToolGroup(std::string_view toolName);
// "Bookends", "OmniFocus", "DEVONthink", "ATBRef" for those exact names; else none.
std::optional<std::string> thirdPartyToolGroup(std::string_view toolName);

// {"tools": [...], "timestamp": unixSeconds}: one entry per projected tool with its
// parameters, capability, "readOnly", group and, for a tool that is not a grouped
// note-app tool and whose operations are known, "operations".
Json toolCatalogPayload(const std::vector<MCPTool>& tools, const OperationsMap& operations, std::int64_t unixSeconds);

}  // namespace qd
