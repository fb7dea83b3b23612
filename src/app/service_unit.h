#pragma once

// The daemon's per-user service unit: rendering it from the template among the
// installation's resources, and reading back what an installed unit says. The reader
// understands exactly the subset the renderer writes (quoted ExecStart words, "%%",
// "$$", Environment= lines); it is the lint where no systemd is there to ask.

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/environment.h"

namespace qd {

inline constexpr const char* serviceUnitName = "vir.izerorudidodad.udodaz.service";

// What the service runs: the daemon beside the application, its mode flag, and the
// resources folder as its working folder.
struct LaunchCommand {
  std::string executable;
  std::string argument = "--daemon";
  std::string workingDirectory;
};

// The variables a daemon started by the service manager must share with the application,
// so both ends agree on their folders, sockets and note-app settings: the application's
// XDG folders as it resolved them, and every TINDERBOX_* variable it has.
std::map<std::string, std::string> serviceEnvironment(const platform::Environment& env);

struct RenderedUnit {
  std::optional<std::string> text;  // none: `error` says why
  std::string error;
};

// Expands every "~/" of the template to the home folder first (so a path that holds "~/"
// stays as it is), then replaces the placeholders, each value escaped for the unit's
// syntax. A value holding a newline or another control character cannot be written
// safely: the result is an error naming it.
RenderedUnit renderServiceUnit(const std::string& templateText, const LaunchCommand& command,
                               const std::filesystem::path& homeFolder, const std::filesystem::path& logsFolder,
                               const std::map<std::string, std::string>& environment);

// What an installed unit says, as the renderer wrote it.
struct ServiceUnitFields {
  std::vector<std::string> execStart;  // unquoted words
  std::optional<std::string> workingDirectory;
  std::map<std::string, std::string> environment;
  std::optional<std::string> standardOutput, standardError;  // the paths after "append:"
};

// None when the text is not a unit this system wrote: no [Service] section, no ExecStart,
// an ExecStart or Environment line that does not parse.
std::optional<ServiceUnitFields> readServiceUnit(const std::string& text);
// The same for a file; none also when it is missing or cannot be read.
std::optional<ServiceUnitFields> readServiceUnitFile(const std::filesystem::path& path);

}  // namespace qd
