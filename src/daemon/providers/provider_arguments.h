#pragma once

// Reading a tool call's arguments by exact kind. A value of another kind counts as absent,
// exactly like a missing key: an integer is a JSON integer (10.0 is not one), a Boolean is
// never a number, text is never a number and a number never text.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "daemon/utilities/json.h"

namespace qd {

std::optional<std::string> stringArgument(const Json& arguments, std::string_view key);
// A JSON integer that fits a signed 64-bit integer.
std::optional<std::int64_t> integerArgument(const Json& arguments, std::string_view key);
// Any JSON number, integer or not, as a double.
std::optional<double> numberArgument(const Json& arguments, std::string_view key);
// A JSON Boolean.
std::optional<bool> boolArgument(const Json& arguments, std::string_view key);
// Any JSON number truncated toward zero; values beyond the signed 64-bit range (1e300,
// infinities) land on its bounds, and NaN counts as 0.
std::optional<std::int64_t> truncatedNumberArgument(const Json& arguments, std::string_view key);
// An array whose elements are all strings; an array holding anything else counts as absent.
std::optional<std::vector<std::string>> stringListArgument(const Json& arguments, std::string_view key);

// A result limit from a number argument: `value` or the default, truncated toward zero,
// then held to [1, max]. Values beyond any integer (1e300, infinities) land on the bounds
// instead of overflowing.
int parseLimit(std::optional<double> value, int defaultValue, int max);

}  // namespace qd
