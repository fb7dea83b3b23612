#pragma once

#include <memory>
#include <string>

#include "daemon/core/tool_provider.h"
#include "daemon/providers/script_runner.h"

namespace qd {

// The "mail" tool: lists unread and latest messages, searches subjects, lists mailboxes
// and accounts, and sends a message through the Mail application's AppleScript on the
// lane "mail". Every operation but help runs the automation preflight first.
class MailToolProvider final : public ToolProvider {
 public:
  MailToolProvider(std::string providerID, FeatureTier tier, std::shared_ptr<ScriptRunner> runner)
      : providerID_(std::move(providerID)), tier_(tier), runner_(std::move(runner)) {}

  std::string providerID() const override { return providerID_; }
  std::vector<MCPTool> tools() const override;
  FeatureTier featureTier() const override { return tier_; }
  OperationsMap availableOperations() const override;
  bool canHandle(std::string_view toolName) const override { return toolName == "mail"; }
  asio::awaitable<std::optional<Json>> handle(std::string toolName, std::string clientId, Json arguments) override;

 private:
  asio::awaitable<Json> dispatch(std::string operation, Json arguments);
  asio::awaitable<std::string> runAppleScript(std::vector<std::string> lines);

  std::string providerID_;
  FeatureTier tier_;
  std::shared_ptr<ScriptRunner> runner_;
};

}  // namespace qd
