#pragma once

#include <memory>
#include <string>

#include "daemon/providers/scripted_provider.h"

namespace qd {

// The "devonthink" tool: reads and changes DEVONthink 3 records through JavaScript for
// Automation programs on the lane "devonthink" (20 s). Replies are the JSON text the
// program prints, or the provider's own JSON for missing arguments and operations it does
// not run. Every call first runs the automation preflight, help included.
class DevonThinkProvider final : public ScriptedToolProvider {
 public:
  DevonThinkProvider(std::string providerID, FeatureTier tier, std::shared_ptr<ScriptRunner> runner)
      : ScriptedToolProvider("devonthink", std::move(providerID), tier, std::move(runner)) {}

  std::vector<MCPTool> tools() const override;
  OperationsMap availableOperations() const override;
  asio::awaitable<std::optional<Json>> handle(std::string toolName, std::string clientId, Json arguments) override;

  static const std::string& helpText();

 private:
  asio::awaitable<std::string> dispatch(std::string operation, Json arguments);
  asio::awaitable<std::string> runJXA(std::string script);

};

}  // namespace qd
