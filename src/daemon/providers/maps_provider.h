#pragma once

#include <memory>
#include <string>

#include "daemon/core/tool_provider.h"
#include "daemon/providers/script_runner.h"

namespace qd {

// The "maps" tool: after the automation preflight it tells the client what to look up in
// Maps (search, directions); the planned guide and pin operations answer that they are not
// implemented yet. It runs no script of its own.
class MapsToolProvider final : public ToolProvider {
 public:
  MapsToolProvider(std::string providerID, FeatureTier tier, std::shared_ptr<ScriptRunner> runner)
      : providerID_(std::move(providerID)), tier_(tier), runner_(std::move(runner)) {}

  std::string providerID() const override { return providerID_; }
  std::vector<MCPTool> tools() const override;
  FeatureTier featureTier() const override { return tier_; }
  OperationsMap availableOperations() const override;
  bool canHandle(std::string_view toolName) const override { return toolName == "maps"; }
  asio::awaitable<std::optional<Json>> handle(std::string toolName, std::string clientId, Json arguments) override;

 private:
  std::string providerID_;
  FeatureTier tier_;
  std::shared_ptr<ScriptRunner> runner_;
};

}  // namespace qd
