#pragma once

#include <string_view>

#include "daemon/utilities/json.h"

namespace qd {

// Masks credentials in a value before it is logged: the value under a sensitive key becomes
// "[REDACTED]" whatever it was, at any depth. Values are never inspected for content.
namespace LogRedaction {

inline constexpr std::string_view kReplacement = "[REDACTED]";

// A key is sensitive when, lower-cased with "-", " " and a camelCase boundary ("accessToken")
// read as "_", it is one of the listed names ("password", "token", "api_key", "secret",
// "private_key", "secret_key", ...) or ends with "_" and one of them ("client_secret",
// "x-api-key", "aws_secret_access_key"). "max_tokens", "maxTokens" and "session_count" are
// not.
bool isSensitiveKey(std::string_view key);

// A new value of the same shape; the input is not modified. Works with an explicit stack,
// so no nesting depth can exhaust the call stack.
Json redact(const Json& value);

}  // namespace LogRedaction
}  // namespace qd
