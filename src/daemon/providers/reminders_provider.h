#pragma once

#include <memory>
#include <string>

#include "daemon/providers/scripted_provider.h"

namespace qd {

// The "reminders" tool: lists, searches and creates reminders of the Reminders application
// and brings it to the front when reminders match, through short AppleScript programs on
// the lane "reminders". Every operation but help runs the automation preflight first.
class RemindersToolProvider final : public ScriptedToolProvider {
 public:
  RemindersToolProvider(std::string providerID, FeatureTier tier, std::shared_ptr<ScriptRunner> runner)
      : ScriptedToolProvider("reminders", std::move(providerID), tier, std::move(runner)) {}

  std::vector<MCPTool> tools() const override;
  OperationsMap availableOperations() const override;
  asio::awaitable<std::optional<Json>> handle(std::string toolName, std::string clientId, Json arguments) override;

 private:
  asio::awaitable<Json> dispatch(std::string operation, Json arguments);
  asio::awaitable<Json> handleOpen(std::string searchText);
  asio::awaitable<std::string> runAppleScript(std::vector<std::string> lines);

};

}  // namespace qd
