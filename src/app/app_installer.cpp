#include "app/app_installer.h"

#include <unistd.h>

#include <iostream>

#include "daemon/utilities/atomic_file.h"
#include "platform/user_folders.h"

namespace qd {
namespace {

constexpr const char* kMissingResources = "Error: Could not find installation resources";


}  // namespace

bool AppInstaller::isInstalled() const {
  std::error_code error;
  return std::filesystem::exists(context_.installedUnitPath(), error);
}

void AppInstaller::showError(const std::string& message) {
  const Alert alert{Alert::Style::warning, "Installation Failed", message};
  if (context_.alerts) {
    context_.alerts->present(alert);
  } else {
    std::cerr << alert.title << ": " << alert.informativeText << "\n";
  }
}

std::optional<LaunchCommand> AppInstaller::resolveLaunchCommand() {
  const auto resources = context_.resourcesFolder();
  const auto daemon = context_.daemonExecutable();
  if (!resources || !daemon) return std::nullopt;
  if (::access(daemon->c_str(), X_OK) != 0) {
    showError("The daemon executable QuarvelDorarovDaemon was not found beside the application in " +
              daemon->parent_path().string() + ".");
    return std::nullopt;
  }
  return LaunchCommand{daemon->string(), "--daemon", resources->string()};
}

bool AppInstaller::installLaunchdPlist() {
  const auto resources = context_.resourcesFolder();
  if (!resources) {
    std::cout << kMissingResources << std::endl;
    return false;
  }
  const auto command = resolveLaunchCommand();
  if (!command) return false;
  // Stopping first means a running daemon never keeps running from a unit we replace.
  (void)services_.run(ServiceVerb::stop, true);

  const std::filesystem::path installed = context_.installedUnitPath();
  std::error_code error;
  std::filesystem::create_directories(installed.parent_path(), error);
  if (error) {
    std::cout << "Error creating systemd user unit directory: " << error.message() << std::endl;
    return false;
  }
  std::optional<std::string> templateText;
  try {
    templateText = readFileIfPresent(*resources / serviceUnitName);
  } catch (const Error&) {
  }
  if (!templateText) {
    std::cout << "Error reading service unit template" << std::endl;
    return false;
  }
  const RenderedUnit rendered =
      renderServiceUnit(*templateText, *command, platform::homeDirectory(context_.environment),
                        context_.configuration().logsDir(), serviceEnvironment(context_.environment));
  if (!rendered.text) {
    showError(rendered.error);
    return false;
  }
  try {
    writeFileAtomically(installed, *rendered.text, AtomicWriteOptions());
  } catch (const Error& e) {
    std::cout << "Error writing service unit: " << e.description() << std::endl;
    return false;
  }
  if (auto invalid = services_.validateUnit(installed)) {
    showError(*invalid);
    return false;
  }
  std::cout << "✅ Installed service unit to " << installed.string() << std::endl;
  return true;
}

std::optional<std::string> AppInstaller::installedDaemonExecutablePath() const {
  const auto unit = readServiceUnitFile(context_.installedUnitPath());
  if (!unit) return std::nullopt;
  return unit->execStart.front();
}

bool AppInstaller::isInstalledUnitCurrent(const LaunchCommand& command) const {
  const auto unit = readServiceUnitFile(context_.installedUnitPath());
  if (!unit) return false;
  return unit->execStart.front() == command.executable && unit->workingDirectory == command.workingDirectory &&
         unit->environment == serviceEnvironment(context_.environment) &&
         ::access(unit->execStart.front().c_str(), X_OK) == 0;
}

bool AppInstaller::ensureLaunchdPlistIsCurrent() {
  if (!context_.resourcesFolder()) {
    std::cout << kMissingResources << std::endl;
    return false;
  }
  const auto command = resolveLaunchCommand();
  if (!command) return false;
  if (!isInstalled()) return installLaunchdPlist();
  if (isInstalledUnitCurrent(*command)) return true;
  return installLaunchdPlist();
}

}  // namespace qd
