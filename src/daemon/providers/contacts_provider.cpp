#include "daemon/providers/contacts_provider.h"

#include "daemon/providers/access_request.h"
#include "daemon/providers/apple_script.h"
#include "daemon/providers/provider_arguments.h"
#include "daemon/runtime/text_trim.h"
#include "daemon/utilities/unicode_text.h"

namespace qd {
namespace {

using platform::ContactsAuthorization;

constexpr const char* kDomain = "ContactsToolProvider";
constexpr const char* kDenied = "Contacts access denied. Enable access in System Settings > Privacy & Security > Contacts.";

// The contacts in the store's order: named (the formatted name, else the organization),
// matching the lower-cased query in name or organization when there is one, at most limit.
Json fetchContacts(platform::ContactStore& store, const std::optional<std::string>& query, int limit) {
  Json records = Json::array();
  const std::string needle = query ? unicode::lowercased(*query) : "";
  const auto error = store.enumerateContacts([&](const platform::Contact& contact) {
    std::string name = trimWhitespaceAndNewlines(contact.formattedName);
    if (name.empty()) name = contact.organizationName;
    if (name.empty()) return true;
    if (!needle.empty() &&
        unicode::lowercased(name + " " + contact.organizationName).find(needle) == std::string::npos) {
      return true;
    }
    records.push_back(Json{{"name", name}, {"phones", contact.phoneNumbers}});
    return records.size() < static_cast<std::size_t>(limit);
  });
  if (error) throw providerError(*error);
  return records;
}

}  // namespace

std::vector<MCPTool> ContactsToolProvider::tools() const {
  MCPTool tool;
  tool.name = "contacts";
  tool.description = "Search and retrieve contacts from Apple Contacts app.";
  tool.inputSchema.type = "object";
  Json properties = Json::object();
  properties["name"] = {{"type", "string"}};
  properties["limit"] = {{"type", "number"}, {"description", "Maximum contacts to return (default: 25, max: 200)"}};
  tool.inputSchema.properties = std::move(properties);
  return {tool};
}

asio::awaitable<std::optional<Json>> ContactsToolProvider::handle(std::string toolName, std::string, Json arguments) {
  if (toolName != "contacts") co_return std::nullopt;
  const int limit = parseLimit(numberArgument(arguments, "limit"), 25, 200);
  std::optional<std::string> query;
  if (const auto name = stringArgument(arguments, "name")) query = trimWhitespaceAndNewlines(*name);
  co_await ensureContactsAuthorization();
  const auto store = stores_();
  const Json records = fetchContacts(*store, query, limit);
  const Json reply{{"contacts", records}, {"limit", limit}, {"returned", records.size()}};
  co_return AppleScriptHelpers::textResult(dumpJson(withSortedKeys(reply), 2));
}

asio::awaitable<void> ContactsToolProvider::ensureContactsAuthorization() {
  const auto store = stores_();
  switch (store->authorizationStatus()) {
    case ContactsAuthorization::authorized:
    case ContactsAuthorization::limited: co_return;
    case ContactsAuthorization::notDetermined: {
      // The request goes to a store of its own, as the status did.
      std::shared_ptr<platform::ContactStore> asked = stores_();
      std::function<void(platform::AccessCompletion)> ask = [asked](platform::AccessCompletion completion) {
        asked->requestAccess(std::move(completion));
      };
      const platform::AccessAnswer answer = co_await awaitAccessAnswer(std::move(ask));
      if (answer.error) throw providerError(*answer.error);
      if (!answer.granted) throw ProviderError(kDomain, 2, kDenied);
      co_return;
    }
    case ContactsAuthorization::restricted:
    case ContactsAuthorization::denied: throw ProviderError(kDomain, 3, kDenied);
    case ContactsAuthorization::unknown: break;
  }
  throw ProviderError(kDomain, 4, "Unknown Contacts authorization status.");
}

}  // namespace qd
