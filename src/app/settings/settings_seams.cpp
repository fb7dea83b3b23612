#include "app/settings/settings_seams.h"

#include "daemon/config/app_preferences_store.h"
#include "daemon/runtime/child_process.h"
#include "platform/executable_search.h"

namespace qd {

AutoDownloadSetting autoDownloadSettingOf(const platform::Environment& env) {
  return AutoDownloadSetting{
      [env] { return AppPreferencesStore(AppPreferencesStore::defaultSuiteName, env).autoDownloadUpdates(); },
      [env](bool enabled) {
        AppPreferencesStore(AppPreferencesStore::defaultSuiteName, env).setAutoDownloadUpdates(enabled);
      },
  };
}

std::function<void(const std::filesystem::path&)> folderOpenerOf(const platform::Environment& env) {
  return [env](const std::filesystem::path& folder) {
    auto program = platform::findExecutableOnPath("xdg-open", env);
    if (!program) return;
    SpawnOptions options = spawnOptions(program->string(), {folder.string()});
    options.stdinMode = StdioMode::null;
    options.stdoutMode = StdioMode::null;
    options.stderrMode = StdioMode::null;
    try {
      reapInBackground(ChildProcess::spawn(options));
    } catch (const std::exception&) {
      // Showing the folder is a convenience; nothing to report.
    }
  };
}

}  // namespace qd
