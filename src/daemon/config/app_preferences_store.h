#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "daemon/utilities/json.h"
#include "platform/environment.h"

namespace qd {

// The preferences the daemon shares with the tray application, kept in the preferences
// suite file of the platform layer (a JSON object). The file is read on every get, so a
// value the application wrote a moment ago is seen, and written atomically; keys this
// store does not know are kept as they are. No operation fails. Every write holds an
// exclusive flock on "<suite file>.lock" from its read to its rename, so writers in
// different processes (the daemon and the tray application) never drop each other's keys.
class AppPreferencesStore {
 public:
  static constexpr const char* defaultSuiteName = "com.quarvel.dorarov";
  static constexpr const char* autoDownloadUpdatesKey = "SUAutomaticallyUpdate";

  // Opens the named suite; a name that cannot name a suite file (empty, ".", "..", or with
  // a "/" or a NUL) falls back to the program's own suite, named after its executable.
  explicit AppPreferencesStore(std::string suiteName = defaultSuiteName,
                               const platform::Environment& env = platform::Environment::current());

  const std::filesystem::path& suiteFile() const { return suiteFile_; }

  // The Boolean under "SUAutomaticallyUpdate"; false when the key is missing, is not a
  // Boolean, or the file cannot be read.
  bool autoDownloadUpdates() const;
  // Stores the Boolean and writes the suite out at once. A suite file that is not a JSON
  // object is kept aside under a time-stamped name rather than overwritten; a write that
  // fails is logged and otherwise dropped.
  void setAutoDownloadUpdates(bool enabled);

  // A string value by key; nullopt when the key is missing, is not a string, or the file
  // cannot be read.
  std::optional<std::string> stringValue(const std::string& key) const;
  // Stores the string under the key, as setAutoDownloadUpdates stores its Boolean.
  void setStringValue(const std::string& key, const std::string& value);

 private:
  void setValue(const std::string& key, Json value);

  std::filesystem::path suiteFile_;
};

}  // namespace qd
