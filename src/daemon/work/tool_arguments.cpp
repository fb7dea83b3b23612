#include "daemon/work/tool_arguments.h"

#include "daemon/core/daemon_error.h"
#include "daemon/utilities/any_codable.h"

namespace qd {

const Json& argument(const Json& arguments, const char* key) {
  static const Json none;
  if (!arguments.is_object()) return none;
  auto it = arguments.find(key);
  return it == arguments.end() ? none : *it;
}

std::optional<std::string> stringArgument(const Json& arguments, const char* key) {
  return stringValue(argument(arguments, key));
}

std::optional<std::int64_t> integerArgument(const Json& arguments, const char* key) {
  return intValue(argument(arguments, key));
}

std::string requiredStringArgument(const Json& arguments, const char* key) {
  auto value = stringArgument(arguments, key);
  if (!value) throw DaemonError::missingParameter(key);
  return std::move(*value);
}

StringMap allStringsObjectArgument(const Json& arguments, const char* key) {
  const Json& value = argument(arguments, key);
  if (!value.is_object()) return {};
  StringMap out;
  for (auto it = value.begin(); it != value.end(); ++it) {
    if (!it->is_string()) return {};
    out[it.key()] = it->get<std::string>();
  }
  return out;
}

}  // namespace qd
