// Which tools a client sees on the socket, under which names, and what it may call. The
// same computation serves list_tools and the lookup of call_tool, so a client can call
// exactly the names it was shown; nothing is cached between the two.

#include <set>

#include "daemon/core/daemon_error.h"
#include "daemon/router/access_policy.h"
#include "daemon/router/router.h"
#include "daemon/router/router_internal.h"
#include "daemon/router/schema_sanitizing.h"
#include "daemon/router/tool_catalog.h"
#include "daemon/utilities/tool_availability.h"

namespace qd {

std::vector<MCPTool> TinderboxDaemon::policyFilteredTools(const std::string& clientId) const {
  const ToolSettings& settings = toolSettingsStore_.currentRef();
  const std::optional<std::string> agentName = notificationQueue_.getAgentName(clientId);
  if (!discoveredTools_.empty()) return filterToolsByPolicy(discoveredTools_, settings, clientId, agentName);
  // Before the first catalog build: every helper tool this tier shows (a tool hidden in the
  // release tier would only be refused when called), then the providers' tools.
  std::vector<MCPTool> candidates;
  const bool release = configuration_.featureTier() == FeatureTier::release;
  for (MCPTool& tool : allHelperTools()) {
    if (release && releaseHiddenHelperTools().contains(tool.name)) continue;
    candidates.push_back(std::move(tool));
  }
  for (MCPTool& tool : providerRegistry_.discoverTools()) candidates.push_back(std::move(tool));
  return filterToolsByPolicy(candidates, settings, clientId, agentName);
}

std::vector<ExternalToolBinding> TinderboxDaemon::exposedBindings(const std::string& clientId) const {
  return bindingsAllowedByPolicy(externalToolBindings(policyFilteredTools(clientId)), toolSettingsStore_.currentRef(),
                                 clientId, notificationQueue_.getAgentName(clientId));
}

void TinderboxDaemon::validateToolAccess(const std::string& clientId, const std::string& toolName,
                                         const Json& arguments) const {
  const ToolSettings& settings = toolSettingsStore_.currentRef();
  if (!settings.isEnabled(toolName)) throw DaemonError::toolDisabled(toolName);
  const std::optional<std::string> agentName = notificationQueue_.getAgentName(clientId);
  if (std::optional<std::string> missing = deniedPermission(settings, clientId, agentName, toolName, arguments)) {
    throw DaemonError::featureDisabled("policy denied " + *missing + " for category " +
                                       ToolAvailability::appCategory(toolName));
  }
}

std::vector<ExternalToolBinding> TinderboxDaemon::externalToolBindings(const std::vector<MCPTool>& tools) const {
  const OperationsMap operations = providerRegistry_.buildOperationsMap();
  auto operationsOf = [&operations](const std::string& name) -> const std::vector<std::string>* {
    auto found = operations.find(name);
    return found == operations.end() || found->second.empty() ? nullptr : &found->second;
  };
  std::set<std::string, std::less<>> nativeNames;
  if (const std::vector<std::string>* native = operationsOf("tinderbox")) nativeNames.insert(native->begin(), native->end());

  std::vector<ExternalToolBinding> bindings;
  std::set<std::string, std::less<>> bound;
  // Tools without operations first, under their own names (a name the note app's own
  // operations list gets the "tinderbox_" prefix, helper tools never); then one tool per
  // operation (other than "help"), named tool_operation, with the operation forced. The
  // first of two equal names wins.
  for (const MCPTool& tool : tools) {
    if (operationsOf(tool.name)) continue;
    std::string name = tool.name;
    if (!router::isHelperToolName(name) && nativeNames.contains(name) && !name.starts_with("tinderbox_")) {
      name = "tinderbox_" + name;
    }
    if (!bound.insert(name).second) continue;
    MCPTool clean = sanitizedToolSchemaForExternalClients(tool);
    clean.name = std::move(name);
    bindings.push_back({std::move(clean), tool.name, std::nullopt});
  }
  for (const MCPTool& tool : tools) {
    const std::vector<std::string>* names = operationsOf(tool.name);
    if (!names) continue;
    const MCPTool clean = sanitizedToolSchemaForExternalClients(tool);
    for (const std::string& operation : *names) {
      if (operation == "help") continue;
      std::string external = tool.name + "_" + operation;
      if (!bound.insert(external).second) continue;
      bindings.push_back({toolWithOperationRemoved(clean, external, operation), tool.name, operation});
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
