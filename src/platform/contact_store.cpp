#include "platform/contact_store.h"

namespace qd::platform {
namespace {

class RestrictedContactStore final : public ContactStore {
 public:
  ContactsAuthorization authorizationStatus() override { return ContactsAuthorization::restricted; }
  void requestAccess(AccessCompletion completion) override { completion(AccessAnswer{}); }
  std::optional<StoreError> enumerateContacts(const std::function<bool(const Contact&)>&) override {
    return std::nullopt;
  }
};

}  // namespace

std::unique_ptr<ContactStore> makeSystemContactStore() { return std::make_unique<RestrictedContactStore>(); }

}  // namespace qd::platform
