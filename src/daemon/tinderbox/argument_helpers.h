#pragma once

// Readers of loosely typed tool arguments shared by the coordination tools and the note
// writers. A null Json stands for "no value".

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "daemon/utilities/json.h"

namespace qd {

// A JSON object gives each member's plain text: a string as it stands, a number or Boolean
// as printed, anything else in its display form. Any other value: an empty map.
std::map<std::string, std::string> stringDictionary(const Json& value);

// A string that is not empty after trimming white space and line ends, trimmed; else none.
std::optional<std::string> nonEmptyString(const Json& value);

// An array gives its strings, and its numbers in decimal, in order; Booleans, null, arrays
// and objects are dropped (a Boolean is never "1"). Any other value: an empty list.
std::vector<std::string> stringArray(const Json& value);

// Lower-case ASCII letters, digits and "-", at least one.
bool isValidAgentID(std::string_view text);

}  // namespace qd
