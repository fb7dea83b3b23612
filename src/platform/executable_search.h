#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

#include "platform/environment.h"

namespace qd::platform {

// Finds a program by name the way a shell does: the first entry of PATH (from `env`)
// holding a regular file of that name that we may execute. Empty entries of PATH and
// relative ones are skipped (they would mean the working folder, which a daemon does not
// choose), and a name containing "/" is never looked up. None when nothing is found.
std::optional<std::filesystem::path> findExecutableOnPath(std::string_view name, const Environment& env);

}  // namespace qd::platform
