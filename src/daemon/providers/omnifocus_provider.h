#pragma once

#include <memory>
#include <string>

#include "daemon/core/tool_provider.h"
#include "daemon/providers/script_runner.h"

namespace qd {

// The "omnifocus" tool: adds, edits, removes and queries tasks and projects of OmniFocus
// and reads its perspectives, through AppleScript programs on the lane "omnifocus". Every
// call first runs the automation preflight, help included.
class OmniFocusProvider final : public ToolProvider {
 public:
  OmniFocusProvider(std::string providerID, FeatureTier tier, std::shared_ptr<ScriptRunner> runner)
      : providerID_(std::move(providerID)), tier_(tier), runner_(std::move(runner)) {}

  std::string providerID() const override { return providerID_; }
  std::vector<MCPTool> tools() const override;
  FeatureTier featureTier() const override { return tier_; }
  OperationsMap availableOperations() const override;
  bool canHandle(std::string_view toolName) const override { return toolName == "omnifocus"; }
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

  std::string providerID_;
  FeatureTier tier_;
  std::shared_ptr<ScriptRunner> runner_;
};

}  // namespace qd
