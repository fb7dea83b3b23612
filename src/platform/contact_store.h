#pragma once

// The user's contacts, as the contacts tool needs them: the authorization state and its
// request, and the unified contacts in the user's sort order with their formatted name,
// organization and phone numbers. One store serves one call. On Linux there is no
// address book the system may read on the user's behalf, so the Linux store answers
// "restricted".

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/calendar_store.h"  // StoreError, AccessAnswer, AccessCompletion

namespace qd::platform {

enum class ContactsAuthorization { notDetermined, restricted, denied, authorized, limited, unknown };

struct Contact {
  std::string formattedName;  // the full name as the user's settings format it; may be empty
  std::string organizationName;
  std::vector<std::string> phoneNumbers;
};

class ContactStore {
 public:
  virtual ~ContactStore() = default;
  virtual ContactsAuthorization authorizationStatus() = 0;
  virtual void requestAccess(AccessCompletion completion) = 0;
  // Visits the contacts in the user's sort order until `visit` returns false. An error of
  // the enumeration is returned.
  virtual std::optional<StoreError> enumerateContacts(const std::function<bool(const Contact&)>& visit) = 0;
};

using ContactStoreFactory = std::function<std::unique_ptr<ContactStore>()>;

// The Linux store: authorization "restricted", no contacts.
std::unique_ptr<ContactStore> makeSystemContactStore();

}  // namespace qd::platform
