#include "platform/environment.h"

#include <cstring>

extern char** environ;

namespace qd::platform {

Environment Environment::current() {
  std::map<std::string, std::string> values;
  for (char** entry = environ; entry && *entry; ++entry) {
    const char* eq = std::strchr(*entry, '=');
    if (!eq) continue;
    values.emplace(std::string(*entry, static_cast<std::size_t>(eq - *entry)), std::string(eq + 1));
  }
  return Environment(std::move(values));
}

std::optional<std::string> Environment::get(const std::string& name) const {
  auto it = values_.find(name);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

}  // namespace qd::platform
