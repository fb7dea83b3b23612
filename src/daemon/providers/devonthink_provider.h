#pragma once

#include <memory>
#include <string>

#include "daemon/core/tool_provider.h"
#include "daemon/providers/script_runner.h"

namespace qd {

// The "devonthink" tool: reads and changes DEVONthink 3 records through JavaScript for
// Automation programs on the lane "devonthink" (20 s). Replies are the JSON text the
// program prints, or the provider's own JSON for missing arguments and operations it does
// not run. Every call first runs the automation preflight, help included.
class DevonThinkProvider final : public ToolProvider {
 public:
  DevonThinkProvider(std::string providerID, FeatureTier tier, std::shared_ptr<ScriptRunner> runner)
      : providerID_(std::move(providerID)), tier_(tier), runner_(std::move(runner)) {}

  std::string providerID() const override { return providerID_; }
  std::vector<MCPTool> tools() const override;
  FeatureTier featureTier() const override { return tier_; }
  OperationsMap availableOperations() const override;
  bool canHandle(std::string_view toolName) const override { return toolName == "devonthink"; }
  asio::awaitable<std::optional<Json>> handle(std::string toolName, std::string clientId, Json arguments) override;

  static const std::string& helpText();

 private:
  asio::awaitable<std::string> dispatch(std::string operation, Json arguments);
  asio::awaitable<std::string> runJXA(std::string script);

  std::string providerID_;
  FeatureTier tier_;
  std::shared_ptr<ScriptRunner> runner_;
};

}  // namespace qd
