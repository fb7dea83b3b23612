#pragma once

// What an agent may call under the tool settings' category policies. A call's category is
// its internal tool's application category; whether it writes is judged from every name
// the call goes by, so a write never passes a read-only grant under a grouped name, an
// exposed per-operation name or its operation alone.

#include <optional>
#include <string>
#include <vector>

#include "daemon/config/tool_settings.h"
#include "daemon/core/daemon_records.h"
#include "daemon/mcp/mcp_types.h"
#include "daemon/utilities/json.h"

namespace qd {

// "write" when any of these is "write": the tool's capability with the call's arguments,
// the capability of the exposed name (the tool, "_" and the call's "operation") and of the
// operation alone, both without arguments; and tbx_doc's document and application actions
// (open, save and close a document, delete_note, open, restart and quit the application)
// always write. Otherwise "read" or "readwrite", which need only read permission.
std::string callCapability(const std::string& internalName, const Json& arguments);

// The policy's verdict on a call: none when allowed, else "write" or "read", the
// permission that is missing.
std::optional<std::string> deniedPermission(const ToolSettings& settings, const std::string& clientId,
                                            const std::optional<std::string>& agentName,
                                            const std::string& internalName, const Json& arguments);

// Whether the tool is switched on, its application is installed, and its category policy
// allows a call without arguments.
bool isOfferedByPolicy(const MCPTool& tool, const ToolSettings& settings, const std::string& clientId,
                       const std::optional<std::string>& agentName);

// The tools, in order, that are switched on, whose application is installed, and whose
// category policy allows a call without arguments.
std::vector<MCPTool> filterToolsByPolicy(const std::vector<MCPTool>& tools, const ToolSettings& settings,
                                         const std::string& clientId, const std::optional<std::string>& agentName);

// The bindings, in order, whose call (with the forced operation, if any) the policy allows.
std::vector<ExternalToolBinding> bindingsAllowedByPolicy(std::vector<ExternalToolBinding> bindings,
                                                         const ToolSettings& settings, const std::string& clientId,
                                                         const std::optional<std::string>& agentName);

}  // namespace qd
