#pragma once

#include <memory>
#include <string>

#include "daemon/providers/scripted_provider.h"

namespace qd {

// The "omnifocus" tool: adds, edits, removes and queries tasks and projects of OmniFocus
// and reads its perspectives, through AppleScript programs on the lane "omnifocus". Every
// call first runs the automation preflight, help included.
class OmniFocusProvider final : public ScriptedToolProvider {
 public:
  OmniFocusProvider(std::string providerID, FeatureTier tier, std::shared_ptr<ScriptRunner> runner)
      : ScriptedToolProvider("omnifocus", std::move(providerID), tier, std::move(runner)) {}

  std::vector<MCPTool> tools() const override;
  OperationsMap availableOperations() const override;
  asio::awaitable<std::optional<Json>> handle(std::string toolName, std::string clientId, Json arguments) override;

  static const std::string& helpText();

 private:
  asio::awaitable<std::string> dispatch(std::string operation, Json arguments);
  asio::awaitable<std::string> addTask(Json arguments);
  asio::awaitable<std::string> addProject(Json arguments);
  asio::awaitable<std::string> removeItem(Json arguments);
  asio::awaitable<std::string> editItem(Json arguments);
  asio::awaitable<std::string> query(Json arguments);
  asio::awaitable<std::string> runAppleScript(std::vector<std::string> lines);

};

}  // namespace qd
