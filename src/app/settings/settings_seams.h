#pragma once

// The settings model's reach outside the daemon, as plain functions the model takes at
// construction: the updater's automatic-download setting, and showing a folder.

#include <filesystem>
#include <functional>

#include "platform/environment.h"

namespace qd {

struct AutoDownloadSetting {
  std::function<bool()> read;
  std::function<void(bool)> write;
};

// "SUAutomaticallyUpdate" in the shared preferences suite, where the updater keeps it
// (false when absent). Read on every call, as the updater would.
AutoDownloadSetting autoDownloadSettingOf(const platform::Environment& env);

// Opens the folder with xdg-open from the environment's PATH through the child-process
// layer; returns at once (the child is reaped in the background). A missing xdg-open or
// a failed start is ignored.
std::function<void(const std::filesystem::path&)> folderOpenerOf(const platform::Environment& env);

}  // namespace qd
