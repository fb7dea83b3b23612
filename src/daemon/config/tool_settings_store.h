#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "daemon/config/tool_settings.h"
#include "daemon/utilities/error.h"

namespace qd {

// A settings file that is there but cannot be read or decoded (a truncated file, a folder
// in its place). The description names the file and the reason.
class ToolSettingsFileError : public Error {
 public:
  ToolSettingsFileError(const std::filesystem::path& file, const std::string& reason);
};

// Holds the daemon's one current ToolSettings, in memory and in tool-settings.json. Used
// on the daemon's thread only. The file is read once at start (load) and written on every
// save; edits made by hand take effect at the next start.
class ToolSettingsStore {
 public:
  // Without a path: Configuration::shared().appSupportDir() / "tool-settings.json".
  // Starts with the defaults; nothing is read here.
  explicit ToolSettingsStore(std::optional<std::filesystem::path> fileURL = std::nullopt);

  const std::filesystem::path& fileURL() const { return fileURL_; }

  // No file: the defaults, nothing written. A file that cannot be read or decoded throws
  // ToolSettingsFileError and leaves the settings as they were (never the defaults in
  // place of the user's restrictions); that file is then kept beside the new one, under a
  // time-stamped name, by the next save.
  void load();

  // The settings are in force at once, even when writing them fails. Throws
  // FileWriteError; also when an unreadable file seen by load could not be kept aside, in
  // which case it is left in place rather than overwritten.
  void save(const ToolSettings& settings);

  ToolSettings current() const { return cached_; }
  // The same without a copy, for readers on every call; valid until the next save or load.
  const ToolSettings& currentRef() const { return cached_; }
  bool isEnabled(std::string_view toolName) const { return cached_.isEnabled(toolName); }

 private:
  std::filesystem::path fileURL_;
  ToolSettings cached_;
  bool keepFileBeforeSave_ = false;
};

}  // namespace qd
