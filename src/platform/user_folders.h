#pragma once

// Where the system keeps its files on Linux. The one module that spells platform folders:
//   application support  $XDG_DATA_HOME/<app>       (default ~/.local/share/<app>)
//   logs                 $XDG_STATE_HOME/<app>/logs (default ~/.local/state/<app>/logs)
//   preferences suites   $XDG_CONFIG_HOME/<app>/<suite>.json (default ~/.config/<app>/...)
// An XDG variable that is unset, empty or not absolute is ignored, as the XDG base
// directory rules say. HOME falls back to the password database.

#include <filesystem>
#include <string_view>

#include "platform/environment.h"

namespace qd::platform {

inline constexpr std::string_view kAppDirectoryName = "QuarvelDorarov";

std::filesystem::path homeDirectory(const Environment& env);
// $XDG_CONFIG_HOME (default ~/.config): where programs keep their per-user settings; other
// programs' configuration files are found below it too.
std::filesystem::path configHomeDirectory(const Environment& env);
std::filesystem::path applicationSupportDirectory(const Environment& env);
std::filesystem::path logsDirectory(const Environment& env);
std::filesystem::path preferencesDirectory(const Environment& env);
// The file that holds one preferences suite, e.g. "com.quarvel.dorarov".
std::filesystem::path preferencesSuiteFile(const Environment& env, std::string_view suiteName);

}  // namespace qd::platform
