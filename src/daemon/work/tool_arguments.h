#pragma once

// Typed reads of a coordination tool's argument object: a value of another kind than the
// one asked for counts as absent.

#include <cstdint>
#include <optional>
#include <string>

#include "daemon/utilities/json.h"
#include "daemon/work/tracked_records.h"

namespace qd {

// The member, or null when the arguments hold none (or are not an object).
const Json& argument(const Json& arguments, const char* key);
std::optional<std::string> stringArgument(const Json& arguments, const char* key);
// A JSON integer only: 24.0, "24" and true are absent.
std::optional<std::int64_t> integerArgument(const Json& arguments, const char* key);
// The string, else DaemonError.missingParameter(key).
std::string requiredStringArgument(const Json& arguments, const char* key);
// An object whose values are all strings; any other value, or one non-string member,
// gives an empty map.
StringMap allStringsObjectArgument(const Json& arguments, const char* key);

// The agent name the notification queue holds for the client, or "unknown-agent".
inline constexpr const char* kUnknownAgent = "unknown-agent";

}  // namespace qd
