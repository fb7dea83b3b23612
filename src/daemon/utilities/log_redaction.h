#pragma once

#include <string_view>

#include "daemon/utilities/json.h"

namespace qd {

// Masks credentials in a value before it is logged: the value under a sensitive key
// ("password", "token", "api_key", ... compared ignoring case, whole key only) becomes
// "[REDACTED]" whatever it was, at any depth. Values are never inspected for content.
namespace LogRedaction {

inline constexpr std::string_view kReplacement = "[REDACTED]";

bool isSensitiveKey(std::string_view key);

// A new value of the same shape; the input is not modified. Works with an explicit stack,
// so no nesting depth can exhaust the call stack.
Json redact(const Json& value);

}  // namespace LogRedaction
}  // namespace qd
