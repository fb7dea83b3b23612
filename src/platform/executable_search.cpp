#include "platform/executable_search.h"

#include <unistd.h>

#include <string>
#include <system_error>

namespace qd::platform {

std::optional<std::filesystem::path> findExecutableOnPath(std::string_view name, const Environment& env) {
  if (name.empty() || name.find('/') != std::string_view::npos) return std::nullopt;
  const auto path = env.get("PATH");
  if (!path) return std::nullopt;
  std::string_view rest = *path;
  while (true) {
    const auto colon = rest.find(':');
    const std::string_view entry = rest.substr(0, colon);
    if (!entry.empty() && entry.front() == '/') {
      std::filesystem::path candidate = std::filesystem::path(entry) / name;
      std::error_code error;
      if (std::filesystem::is_regular_file(candidate, error) && ::access(candidate.c_str(), X_OK) == 0) {
        return candidate;
      }
    }
    if (colon == std::string_view::npos) return std::nullopt;
    rest.remove_prefix(colon + 1);
  }
}

}  // namespace qd::platform
