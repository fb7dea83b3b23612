// Which tools a client sees on the socket, under which names, and what it may call. The
// same computation serves list_tools and the lookup of call_tool, so a client can call
// exactly the names it was shown; nothing is cached between requests. The tools are
// passed around by reference and only the offered ones are copied (cleaned), since a
// catalog of hundreds of tools is walked on every request.

#include <functional>
#include <set>

#include "daemon/core/daemon_error.h"
#include "daemon/router/access_policy.h"
#include "daemon/router/router.h"
#include "daemon/router/router_internal.h"
#include "daemon/router/schema_sanitizing.h"
#include "daemon/router/tool_catalog.h"
#include "daemon/utilities/tool_availability.h"

namespace qd {
namespace {

// A tool and, when the catalog has it already, its cleaned form.
struct ToolRef {
  const MCPTool& tool;
  const MCPTool* cleaned = nullptr;
};
using ToolRefs = std::vector<ToolRef>;

// Tools without operations first, under their own names (a name the note app's own
// operations list gets the "tinderbox_" prefix, helper tools never); then one tool per
// operation (other than "help"), named tool_operation, with the operation forced. The
// first of two equal names wins. Without `withSchemas` the bound tools carry their names
// only, which is all a call's lookup needs.
std::vector<ExternalToolBinding> bindExposedNames(const ToolRefs& tools, const OperationsMap& operations, bool withSchemas) {
  auto operationsOf = [&operations](const std::string& name) -> const std::vector<std::string>* {
    auto found = operations.find(name);
    return found == operations.end() || found->second.empty() ? nullptr : &found->second;
  };
  std::set<std::string, std::less<>> nativeNames;
  if (const std::vector<std::string>* native = operationsOf("tinderbox")) nativeNames.insert(native->begin(), native->end());
  auto named = [](std::string name) {
    MCPTool tool;
    tool.name = std::move(name);
    return tool;
  };

  std::vector<ExternalToolBinding> bindings;
  std::set<std::string, std::less<>> bound;
  for (const auto& [tool, cleaned] : tools) {
    if (operationsOf(tool.name)) continue;
    std::string name = tool.name;
    if (!router::isHelperToolName(name) && nativeNames.contains(name) && !name.starts_with("tinderbox_")) {
      name = "tinderbox_" + name;
    }
    if (!bound.insert(name).second) continue;
    MCPTool external;
    if (withSchemas) external = cleaned ? *cleaned : sanitizedToolSchemaForExternalClients(tool);
    external.name = std::move(name);
    bindings.push_back({std::move(external), tool.name, std::nullopt});
  }
  for (const auto& [tool, cleaned] : tools) {
    const std::vector<std::string>* names = operationsOf(tool.name);
    if (!names) continue;
    MCPTool cleanedHere;
    if (withSchemas && !cleaned) cleanedHere = sanitizedToolSchemaForExternalClients(tool);
    const MCPTool& clean = cleaned ? *cleaned : cleanedHere;
    for (const std::string& operation : *names) {
      if (operation == "help") continue;
      std::string external = tool.name + "_" + operation;
      if (!bound.insert(external).second) continue;
      MCPTool offered = withSchemas ? toolWithOperationRemoved(clean, external, operation) : named(external);
      bindings.push_back({std::move(offered), tool.name, operation});
    }
  }
  return bindings;
}

// Before the first catalog build: every helper tool this tier shows (a tool hidden in the
// release tier would only be refused when called), then the providers' tools.
std::vector<MCPTool> fallbackCandidates(FeatureTier tier, const ToolProviderRegistry& registry) {
  std::vector<MCPTool> candidates;
  for (MCPTool& tool : TinderboxDaemon::allHelperTools()) {
    if (tier == FeatureTier::release && TinderboxDaemon::releaseHiddenHelperTools().contains(tool.name)) continue;
    candidates.push_back(std::move(tool));
  }
  for (MCPTool& tool : registry.discoverTools()) candidates.push_back(std::move(tool));
  return candidates;
}

}  // namespace

std::vector<MCPTool> TinderboxDaemon::policyFilteredTools(const std::string& clientId) const {
  const ToolSettings& settings = toolSettingsStore_.currentRef();
  const std::optional<std::string> agentName = notificationQueue_.getAgentName(clientId);
  if (!discoveredTools_.empty()) return filterToolsByPolicy(discoveredTools_, settings, clientId, agentName);
  return filterToolsByPolicy(fallbackCandidates(configuration_.featureTier(), providerRegistry_), settings, clientId,
                             agentName);
}

std::vector<ExternalToolBinding> TinderboxDaemon::externalToolBindings(const std::vector<MCPTool>& tools) const {
  ToolRefs refs;
  for (const MCPTool& tool : tools) refs.push_back({tool});
  return bindExposedNames(refs, providerRegistry_.buildOperationsMap(), true);
}

std::vector<ExternalToolBinding> TinderboxDaemon::exposedBindings(const std::string& clientId, bool withSchemas) const {
  // The same steps as externalToolBindings(policyFilteredTools(clientId)), without copying
  // the tools the policy keeps.
  const ToolSettings& settings = toolSettingsStore_.currentRef();
  const std::optional<std::string> agentName = notificationQueue_.getAgentName(clientId);
  std::vector<MCPTool> fallback;
  if (discoveredTools_.empty()) fallback = fallbackCandidates(configuration_.featureTier(), providerRegistry_);
  const std::vector<MCPTool>& candidates = discoveredTools_.empty() ? fallback : discoveredTools_;
  // The catalog keeps each tool's cleaned form beside it (cleaning is a pure function of
  // the tool); the fallback is cleaned as it is bound.
  const bool catalogued = !discoveredTools_.empty() && cleanedTools_.size() == discoveredTools_.size();
  ToolRefs offered;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    if (!isOfferedByPolicy(candidates[i], settings, clientId, agentName)) continue;
    offered.push_back({candidates[i], catalogued ? &cleanedTools_[i] : nullptr});
  }
  return bindingsAllowedByPolicy(bindExposedNames(offered, providerRegistry_.buildOperationsMap(), withSchemas), settings, clientId,
                                 agentName);
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

std::string TinderboxDaemon::resolveOperationName(const std::string& toolName, const Json& arguments) {
  // The grouped tools and daemon_self_check are timed and classed by their operation.
  if (toolName == "tbx_nav" || toolName == "tbx_doc" || toolName == "tbx_export" || toolName == "daemon_self_check") {
    std::optional<std::string> operation = router::stringMember(arguments, "operation");
    if (operation && !operation->empty()) return *operation;
  }
  return toolName;
}

}  // namespace qd
