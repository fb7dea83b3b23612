#pragma once

#include <memory>
#include <string>

#include "daemon/providers/scripted_provider.h"

namespace qd {

// The "notes" tool: lists, searches and creates notes of the Notes application through
// AppleScript on the lane "notes". List and search run the automation preflight first;
// create runs its script directly, so a refusal shows as the script's own failure.
class NotesToolProvider final : public ScriptedToolProvider {
 public:
  NotesToolProvider(std::string providerID, FeatureTier tier, std::shared_ptr<ScriptRunner> runner)
      : ScriptedToolProvider("notes", std::move(providerID), tier, std::move(runner)) {}

  std::vector<MCPTool> tools() const override;
  OperationsMap availableOperations() const override;
  asio::awaitable<std::optional<Json>> handle(std::string toolName, std::string clientId, Json arguments) override;

 private:
  asio::awaitable<Json> dispatch(std::string operation, Json arguments);
  asio::awaitable<std::string> runAppleScript(std::vector<std::string> lines);

};

}  // namespace qd
