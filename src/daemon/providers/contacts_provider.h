#pragma once

#include <string>

#include "daemon/core/tool_provider.h"
#include "platform/contact_store.h"

namespace qd {

// The "contacts" tool: names and phone numbers of the user's contacts in their sort order,
// filtered by a name when one is given. No "operation" argument. Replies are pretty JSON
// with sorted keys.
class ContactsToolProvider final : public ToolProvider {
 public:
  ContactsToolProvider(std::string providerID, FeatureTier tier, platform::ContactStoreFactory stores)
      : providerID_(std::move(providerID)), tier_(tier), stores_(std::move(stores)) {}

  std::string providerID() const override { return providerID_; }
  std::vector<MCPTool> tools() const override;
  FeatureTier featureTier() const override { return tier_; }
  OperationsMap availableOperations() const override { return {{"contacts", {"list", "search"}}}; }
  bool canHandle(std::string_view toolName) const override { return toolName == "contacts"; }
  asio::awaitable<std::optional<Json>> handle(std::string toolName, std::string clientId, Json arguments) override;

 private:
  asio::awaitable<void> ensureContactsAuthorization();

  std::string providerID_;
  FeatureTier tier_;
  platform::ContactStoreFactory stores_;
};

}  // namespace qd
