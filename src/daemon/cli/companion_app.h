#pragma once

// The companion tray application: the daemon makes sure it runs. On Linux it is the
// executable "QuarvelDorarov" beside the daemon's own executable in the install tree;
// "running" means some process executes that very file.

#include <filesystem>
#include <optional>

#include "platform/environment.h"

namespace qd {

// The app's path when the file exists beside `daemonExecutable`.
std::optional<std::filesystem::path> resolveCompanionAppPath(const std::filesystem::path& daemonExecutable);

// Whether a process whose /proc/<pid>/exe is `app` runs now.
bool isCompanionAppRunning(const std::filesystem::path& app);

// Starts the app detached (its own session, standard streams on /dev/null, not our
// child once started) unless it runs already, it is not installed, or
// TINDERBOX_DISABLE_APP_LAUNCH is "1" (tests set it). Never fails; nothing is logged.
void ensureCompanionAppRunning(const platform::Environment& env = platform::Environment::current());

}  // namespace qd
