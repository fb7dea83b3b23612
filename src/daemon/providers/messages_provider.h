#pragma once

#include <memory>
#include <optional>
#include <string>

#include "daemon/core/tool_provider.h"
#include "daemon/providers/script_runner.h"
#include "daemon/runtime/blocking_pool.h"
#include "platform/environment.h"

namespace qd {

// The "messages" tool: sends a text through the Messages application (AppleScript on the
// lane "messages") and reads a conversation or the unread incoming messages straight from
// its database (SQLite on the blocking pool, one query at a time on the lane
// "messages-db"), so a send and a read may run side by side.
class MessagesToolProvider final : public ToolProvider {
 public:
  // `environment`: where the home folder is read; absent, the process environment at
  // each call. `pool` must outlive the provider.
  MessagesToolProvider(std::string providerID, FeatureTier tier, std::shared_ptr<ScriptRunner> runner,
                       BlockingPool& pool, std::optional<platform::Environment> environment = std::nullopt)
      : providerID_(std::move(providerID)),
        tier_(tier),
        runner_(std::move(runner)),
        pool_(pool),
        environment_(std::move(environment)) {}

  std::string providerID() const override { return providerID_; }
  std::vector<MCPTool> tools() const override;
  FeatureTier featureTier() const override { return tier_; }
  OperationsMap availableOperations() const override;
  bool canHandle(std::string_view toolName) const override { return toolName == "messages"; }
  asio::awaitable<std::optional<Json>> handle(std::string toolName, std::string clientId, Json arguments) override;

 private:
  asio::awaitable<Json> dispatch(std::string operation, Json arguments);
  asio::awaitable<Json> handleSend(Json arguments);
  // Throws ProviderError {"PermissionGuidance", 2, guidance} when the database is missing
  // or unreadable.
  void ensureMessagesDatabaseAccess() const;
  asio::awaitable<Json> readRecords(std::string query);
  platform::Environment environment() const;

  std::string providerID_;
  FeatureTier tier_;
  std::shared_ptr<ScriptRunner> runner_;
  BlockingPool& pool_;
  std::optional<platform::Environment> environment_;
};

}  // namespace qd
