#pragma once

// What the application's parts share: the environment it runs in (its folders follow from
// it), where its installation lives, and where alerts go. Tests build one of their own.
//
// Installation layout (the build tree has the same):
//   <prefix>/bin/QuarvelDorarov            the application
//   <prefix>/bin/QuarvelDorarovDaemon      the daemon it runs as a per-user service
//   <prefix>/share/quarvel-dorarov/        resources: the service-unit template

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/installer/alert_presenter.h"
#include "daemon/config/configuration.h"
#include "platform/environment.h"

namespace qd {

struct AppContext {
  // Under a test host the launch stops after creating the health monitor, nothing polls or
  // starts, quitting leaves the service alone, and alerts go to standard error.
  static constexpr const char* testHostVariable = "XCTestConfigurationFilePath";

  platform::Environment environment;
  // The installation's bin folder; none when it cannot be found.
  std::optional<std::filesystem::path> binFolder;
  AlertPresenter* alerts = nullptr;

  // The running program's environment and installation.
  static AppContext current(AlertPresenter* alerts);

  bool isTestHost() const { return environment.get(testHostVariable).has_value(); }
  // The configuration of `environment`, read on first use and kept: an out-of-range
  // TINDERBOX_* value warns once, as in the daemon. Copies of the context share the one
  // reading, so change `environment` only before the first use. The running program's
  // context uses the process-wide one (Configuration::shared()), read at launch.
  const Configuration& configuration() const;

  std::optional<std::filesystem::path> resourcesFolder() const;
  std::optional<std::filesystem::path> daemonExecutable() const;
  // $XDG_CONFIG_HOME/systemd/user/vir.izerorudidodad.udodaz.service
  std::filesystem::path installedUnitPath() const;

  // Read once, from any thread; shared by copies.
  struct ConfigurationOnce {
    std::once_flag read;
    std::optional<Configuration> owned;  // read from `environment`, unless the process-wide one is used
    const Configuration* value = nullptr;
  };
  std::shared_ptr<ConfigurationOnce> configurationOnce = std::make_shared<ConfigurationOnce>();
};

}  // namespace qd
