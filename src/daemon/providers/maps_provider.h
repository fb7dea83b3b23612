#pragma once

#include <memory>
#include <string>

#include "daemon/providers/scripted_provider.h"

namespace qd {

// The "maps" tool: after the automation preflight it tells the client what to look up in
// Maps (search, directions); the planned guide and pin operations answer that they are not
// implemented yet. It runs no script of its own.
class MapsToolProvider final : public ScriptedToolProvider {
 public:
  MapsToolProvider(std::string providerID, FeatureTier tier, std::shared_ptr<ScriptRunner> runner)
      : ScriptedToolProvider("maps", std::move(providerID), tier, std::move(runner)) {}

  std::vector<MCPTool> tools() const override;
  OperationsMap availableOperations() const override;
  asio::awaitable<std::optional<Json>> handle(std::string toolName, std::string clientId, Json arguments) override;

 private:
};

}  // namespace qd
