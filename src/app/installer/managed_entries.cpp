#include "app/installer/managed_entries.h"

#include <algorithm>

namespace qd {

const std::vector<std::string>& managedEndpointNames() {
  static const std::vector<std::string> names = {"tinderbox", "router-core", "tbx-nav", "tbx-doc", "tbx-export"};
  return names;
}

const std::vector<std::string>& legacyEndpointNames() {
  static const std::vector<std::string> names = {"quarvel-toolbox"};
  return names;
}

const std::vector<std::string>& codexServerNames() {
  static const std::vector<std::string> names = [] {
    auto all = managedEndpointNames();
    all.insert(all.end(), legacyEndpointNames().begin(), legacyEndpointNames().end());
    return all;
  }();
  return names;
}

bool isManagedOrLegacyName(std::string_view name) {
  const auto& names = codexServerNames();
  return std::find(names.begin(), names.end(), name) != names.end();
}

bool isOurCommand(std::string_view command, std::string_view expectedCommand) {
  const std::string suffix = "/" + std::string(kDaemonExecutableName);
  return command == expectedCommand || command.ends_with(suffix);
}

}  // namespace qd
