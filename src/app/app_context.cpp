#include "app/app_context.h"

#include "app/installer/mcp_installer.h"
#include "app/service_unit.h"
#include "platform/user_folders.h"

namespace qd {

AppContext AppContext::current(AlertPresenter* alerts) {
  return AppContext{platform::Environment::current(), runningExecutableFolder(), alerts};
}

std::optional<std::filesystem::path> AppContext::resourcesFolder() const {
  if (!binFolder) return std::nullopt;
  return binFolder->parent_path() / "share" / "quarvel-dorarov";
}

std::optional<std::filesystem::path> AppContext::daemonExecutable() const {
  if (!binFolder) return std::nullopt;
  return *binFolder / Configuration::daemonExecutableName;
}

std::filesystem::path AppContext::installedUnitPath() const {
  return platform::configHomeDirectory(environment) / "systemd" / "user" / serviceUnitName;
}

}  // namespace qd
