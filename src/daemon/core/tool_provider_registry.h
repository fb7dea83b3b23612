#pragma once

#include <memory>
#include <vector>

#include "daemon/config/feature_tier.h"
#include "daemon/core/tool_provider.h"

namespace qd {

// The registered providers in their fixed order, with the tier above which providers are
// hidden. The daemon sets the threshold to the configured feature tier and appends the
// note-app provider during its start.
struct ToolProviderRegistry {
  std::vector<std::shared_ptr<ToolProvider>> providers;
  FeatureTier tierThreshold = FeatureTier::release;

  // The tools of every provider whose tier is at or below the threshold, in provider
  // order, each provider's tools read once. Nothing is sorted, filtered by name or
  // de-duplicated: the settings and availability filters belong to the callers.
  std::vector<MCPTool> discoverTools() const;

  // Every provider's operations, regardless of tier, in provider order; a later
  // provider's entry replaces an earlier one's under the same tool name.
  OperationsMap buildOperationsMap() const;
};

}  // namespace qd
