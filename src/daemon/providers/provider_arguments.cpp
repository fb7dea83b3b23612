#include "daemon/providers/provider_arguments.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "daemon/utilities/any_codable.h"

namespace qd {
namespace {

const Json* member(const Json& arguments, std::string_view key) {
  if (!arguments.is_object()) return nullptr;
  const auto it = arguments.find(key);
  return it == arguments.end() ? nullptr : &*it;
}

}  // namespace

std::optional<std::string> stringArgument(const Json& arguments, std::string_view key) {
  const Json* value = member(arguments, key);
  return value ? stringValue(*value) : std::nullopt;
}

std::optional<std::int64_t> integerArgument(const Json& arguments, std::string_view key) {
  const Json* value = member(arguments, key);
  return value ? intValue(*value) : std::nullopt;
}

std::optional<double> numberArgument(const Json& arguments, std::string_view key) {
  const Json* value = member(arguments, key);
  if (!value || !value->is_number()) return std::nullopt;
  return value->get<double>();
}

std::optional<bool> boolArgument(const Json& arguments, std::string_view key) {
  const Json* value = member(arguments, key);
  return value ? boolValue(*value) : std::nullopt;
}

std::optional<std::int64_t> truncatedNumberArgument(const Json& arguments, std::string_view key) {
  const auto raw = numberArgument(arguments, key);
  if (!raw) return std::nullopt;
  if (std::isnan(*raw)) return 0;
  // 2^63 is exactly representable; anything at or above it is out of range.
  if (*raw >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
  if (*raw <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(std::trunc(*raw));
}

std::optional<std::vector<std::string>> stringListArgument(const Json& arguments, std::string_view key) {
  const Json* value = member(arguments, key);
  if (!value || !value->is_array()) return std::nullopt;
  std::vector<std::string> out;
  for (const Json& element : *value) {
    if (!element.is_string()) return std::nullopt;
    out.push_back(element.get<std::string>());
  }
  return out;
}

int parseLimit(std::optional<double> value, int defaultValue, int max) {
  const double raw = value.value_or(defaultValue);
  // Compare as doubles before converting, so no value outside int's range is converted.
  if (std::isnan(raw) || raw < 1) return 1;
  if (raw >= max) return max;
  return std::max(1, static_cast<int>(std::trunc(raw)));
}

}  // namespace qd
