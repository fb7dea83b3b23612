// Which tools a client sees on the socket and may call. The access policy and the
// catalog's per-client filter plug in here: list_tools goes through policyFilteredTools
// and externalToolBindings, every call through validateToolAccess as well.

#include <set>

#include "daemon/router/router.h"
#include "daemon/router/router_internal.h"

namespace qd {

std::vector<MCPTool> TinderboxDaemon::policyFilteredTools(const std::string& clientId) const {
  (void)clientId;  // the per-client and per-agent filter is the access policy's
  return discoveredTools_;
}

const std::vector<ExternalToolBinding>& TinderboxDaemon::exposedBindings(const std::string& clientId) const {
  (void)clientId;  // every client sees the whole catalog until the access policy filters it
  return exposedBindings_;
}

void TinderboxDaemon::validateToolAccess(const std::string& clientId, const std::string& toolName,
                                         const Json& arguments) const {
  // Everything offered passes until the access policy decides per category and agent.
  (void)clientId;
  (void)toolName;
  (void)arguments;
}

std::vector<ExternalToolBinding> TinderboxDaemon::externalToolBindings(const std::vector<MCPTool>& tools) const {
  const OperationsMap operations = providerRegistry_.buildOperationsMap();
  auto operationsOf = [&operations](const std::string& name) -> const std::vector<std::string>* {
    auto found = operations.find(name);
    return found == operations.end() || found->second.empty() ? nullptr : &found->second;
  };
  std::vector<ExternalToolBinding> bindings;
  std::set<std::string, std::less<>> bound;
  // Tools without operations first, under their own names; then one tool per operation
  // (other than "help"), named tool_operation, with the operation forced. The first of
  // two equal names wins.
  for (const MCPTool& tool : tools) {
    if (operationsOf(tool.name) || !bound.insert(tool.name).second) continue;
    bindings.push_back({tool, tool.name, std::nullopt});
  }
  for (const MCPTool& tool : tools) {
    const std::vector<std::string>* names = operationsOf(tool.name);
    if (!names) continue;
    for (const std::string& operation : *names) {
      if (operation == "help") continue;
      MCPTool external = tool;
      external.name = tool.name + "_" + operation;
      if (!bound.insert(external.name).second) continue;
      if (external.inputSchema.properties && external.inputSchema.properties->is_object()) {
        external.inputSchema.properties->erase("operation");
      }
      if (external.inputSchema.required) std::erase(*external.inputSchema.required, std::string("operation"));
      bindings.push_back({std::move(external), tool.name, operation});
    }
  }
  return bindings;
}

std::string TinderboxDaemon::resolveOperationName(const std::string& toolName, const Json& arguments) {
  // The grouped tools and daemon_self_check are timed and classed by their operation.
  if (toolName == "tbx_nav" || toolName == "tbx_doc" || toolName == "tbx_export" || toolName == "daemon_self_check") {
    std::optional<std::string> operation = router::stringMember(arguments, "operation");
    if (operation && !operation->empty()) return *operation;
  }
  return toolName;
}

}  // namespace qd
