#pragma once

#include <memory>
#include <optional>
#include <string>

#include "daemon/providers/scripted_provider.h"
#include "daemon/runtime/blocking_pool.h"
#include "platform/environment.h"

namespace qd {

// The "messages" tool: sends a text through the Messages application (AppleScript on the
// lane "messages") and reads a conversation or the unread incoming messages straight from
// its database (SQLite on the blocking pool, one query at a time on the lane
// "messages-db"), so a send and a read may run side by side.
class MessagesToolProvider final : public ScriptedToolProvider {
 public:
  // `environment`: where the home folder is read; absent, the process environment at
  // each call. `pool` must outlive the provider.
  MessagesToolProvider(std::string providerID, FeatureTier tier, std::shared_ptr<ScriptRunner> runner,
                       BlockingPool& pool, std::optional<platform::Environment> environment = std::nullopt)
      : ScriptedToolProvider("messages", std::move(providerID), tier, std::move(runner)),
        pool_(pool),
        environment_(std::move(environment)) {}

  std::vector<MCPTool> tools() const override;
  OperationsMap availableOperations() const override;
  asio::awaitable<std::optional<Json>> handle(std::string toolName, std::string clientId, Json arguments) override;

 private:
  asio::awaitable<Json> dispatch(std::string operation, Json arguments);
  asio::awaitable<Json> handleSend(Json arguments);
  // Throws ProviderError {"PermissionGuidance", 2, guidance} when the database is missing
  // or unreadable.
  void ensureMessagesDatabaseAccess() const;
  asio::awaitable<Json> readRecords(std::string query);
  platform::Environment environment() const;

  BlockingPool& pool_;
  std::optional<platform::Environment> environment_;
};

}  // namespace qd
