#pragma once

#include <memory>
#include <string>

#include "daemon/providers/scripted_provider.h"

namespace qd {

// The "mail" tool: lists unread and latest messages, searches subjects, lists mailboxes
// and accounts, and sends a message through the Mail application's AppleScript on the
// lane "mail". Every operation but help runs the automation preflight first.
class MailToolProvider final : public ScriptedToolProvider {
 public:
  MailToolProvider(std::string providerID, FeatureTier tier, std::shared_ptr<ScriptRunner> runner)
      : ScriptedToolProvider("mail", std::move(providerID), tier, std::move(runner)) {}

  std::vector<MCPTool> tools() const override;
  OperationsMap availableOperations() const override;
  asio::awaitable<std::optional<Json>> handle(std::string toolName, std::string clientId, Json arguments) override;

 private:
  asio::awaitable<Json> dispatch(std::string operation, Json arguments);
  asio::awaitable<std::string> runAppleScript(std::vector<std::string> lines);

};

}  // namespace qd
