#pragma once

// Installs the daemon's per-user service unit: renders the template among the
// installation's resources, checks the result, writes it to
// $XDG_CONFIG_HOME/systemd/user/, and keeps an installed unit current when the
// installation has moved or the application's environment changed. Failures that reach
// the user go through the alert presenter as "Installation Failed"; every operation
// answers whether it succeeded and the caller decides what follows.

#include <optional>

#include "app/app_context.h"
#include "app/service_manager.h"
#include "app/service_unit.h"

namespace qd {

class AppInstaller {
 public:
  AppInstaller(const AppContext& context, ServiceManager& services) : context_(context), services_(services) {}

  // The unit file exists (nothing more is checked).
  bool isInstalled() const;
  // Stops the old service silently, then writes and checks a freshly rendered unit.
  bool installLaunchdPlist();
  // True when the installed unit is current or was rewritten successfully.
  bool ensureLaunchdPlistIsCurrent();
  // There is no applications folder to move to: never offered.
  bool promptToMoveToApplicationsIfNeeded() { return false; }

  std::optional<LaunchCommand> resolveLaunchCommand();
  // The executable the installed unit runs (the first ExecStart word); none when the unit
  // is missing or does not read back.
  std::optional<std::string> installedDaemonExecutablePath() const;
  // Current: ExecStart's executable and the working folder are ours, the executable is
  // there, and the Environment= lines are exactly the ones we would write now.
  bool isInstalledUnitCurrent(const LaunchCommand& command) const;

 private:
  void showError(const std::string& message);

  const AppContext& context_;
  ServiceManager& services_;
};

}  // namespace qd
