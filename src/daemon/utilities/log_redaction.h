#pragma once

#include <string_view>

#include "daemon/utilities/json.h"

namespace qd {

// Masks credentials in a value before it is logged: the value under a sensitive key becomes
// "[REDACTED]" whatever it was, at any depth. Values are never inspected for content.
namespace LogRedaction {

inline constexpr std::string_view kReplacement = "[REDACTED]";

// A key is sensitive when its last word, or its last few words run together, spell one of
// the listed names without their "_" ("password", "token", "apikey", "secret", "privatekey",
// "secretkey", "passphrase", ...). Words are split at "_", "-" and blanks, after a lower-case
// letter or digit that an upper-case one follows, and before the last capital of a run that a
// lower-case letter follows: "client_secret", "X-Api-Key", "DBPassword", "AWSSecretKey" and
// "passPhrase" are sensitive; "max_tokens", "maxTokens", "TokenCount" and "monkey" are not.
bool isSensitiveKey(std::string_view key);

// A new value of the same shape; the input is not modified. Works with an explicit stack,
// so no nesting depth can exhaust the call stack.
Json redact(const Json& value);

}  // namespace LogRedaction
}  // namespace qd
