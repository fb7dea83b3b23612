#include "app/app_context.h"

#include "app/installer/mcp_installer.h"
#include "app/service_unit.h"
#include "platform/user_folders.h"

namespace qd {

AppContext AppContext::current(AlertPresenter* alerts) {
  AppContext context{platform::Environment::current(), runningExecutableFolder(), alerts};
  // The process-wide configuration, which the admin client's default socket reads too:
  // the program reads its environment once.
  ConfigurationOnce& once = *context.configurationOnce;
  std::call_once(once.read, [&once] { once.value = &Configuration::shared(); });
  return context;
}

const Configuration& AppContext::configuration() const {
  ConfigurationOnce& once = *configurationOnce;
  std::call_once(once.read, [&once, this] { once.value = &once.owned.emplace(environment); });
  return *once.value;
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
