#include "daemon/core/tool_provider_registry.h"

namespace qd {

std::vector<MCPTool> ToolProviderRegistry::discoverTools() const {
  std::vector<MCPTool> result;
  for (const auto& provider : providers) {
    if (provider->featureTier() > tierThreshold) continue;
    std::vector<MCPTool> tools = provider->tools();
    result.insert(result.end(), std::make_move_iterator(tools.begin()), std::make_move_iterator(tools.end()));
  }
  return result;
}

OperationsMap ToolProviderRegistry::buildOperationsMap() const {
  OperationsMap result;
  for (const auto& provider : providers) {
    for (auto& [toolName, operations] : provider->availableOperations()) result[toolName] = std::move(operations);
  }
  return result;
}

}  // namespace qd
