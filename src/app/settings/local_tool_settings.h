#pragma once

// The application's copy of the daemon's tool settings: the record "app_get_settings"
// answers and "app_save_settings" receives whole. The 17 keys the application exchanges
// (the daemon's category-policy maps are never read or sent) plus `autoDownloadUpdates`,
// which the daemon keeps in the shared preferences suite.
//
// Decoding is tolerant of what is missing and strict about kinds: a missing or null key
// takes its default, a present value of the wrong kind fails the whole record (an integer
// field takes only a JSON integer within int64: 10.0, true and "10" fail). After decoding
// the two limits are held to at least 1, an old "only calendar, explicit enabling" record
// is repaired as the daemon repairs it, and the four default helper switches are added
// when missing.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "daemon/utilities/json.h"

namespace qd {

// Where tool calls are logged; derived from and mapped onto the record's two logging flags.
enum class LoggingSinkMode { off, file, tinderbox, both };

inline constexpr std::array<LoggingSinkMode, 4> allLoggingSinkModes{LoggingSinkMode::off, LoggingSinkMode::file,
                                                                    LoggingSinkMode::tinderbox, LoggingSinkMode::both};

std::string rawValue(LoggingSinkMode mode);  // "off", "file", "tinderbox", "both"
// Exactly one of the four raw values (case-sensitive); none for anything else.
std::optional<LoggingSinkMode> loggingSinkModeFromRaw(std::string_view raw);
// Tinderbox counts two, file one: 0 off, 1 file, 2 tinderbox, 3 both.
LoggingSinkMode loggingSinkModeFromFlags(bool logToFile, bool logToTinderbox);
bool logsToFile(LoggingSinkMode mode);       // file, both
bool logsToTinderbox(LoggingSinkMode mode);  // tinderbox, both

using SwitchMap = std::map<std::string, bool>;

struct LocalToolSettings {
  // The helper map of a default record.
  static SwitchMap defaultHelperToolEnabled();  // calendar false, tbx_nav/tbx_doc/tbx_export true

  SwitchMap helperToolEnabled = defaultHelperToolEnabled();
  SwitchMap operationEnabled;  // "<tool>.<operation>"; the form is not checked
  bool requireExplicitToolEnable = false;
  bool allowBroadcastNotifications = true;
  std::int64_t maxNotificationItems = 1000;
  std::int64_t maxConcurrentJobs = 2;
  bool enableLogging = true;
  bool enableMessaging = true;
  bool enableAgentCoordination = true;
  bool enableHookSync = true;
  bool enableTinderboxPassthroughTools = true;
  bool enableToolCallLogging = true;
  bool logToolCallsToFile = true;
  bool logToolCallsToTinderbox = false;
  bool enableCustomToolManifests = false;
  std::vector<std::string> customToolManifestDirectories;
  std::int64_t maxCustomTools = 25;
  bool autoDownloadUpdates = false;

  // Throws DecodingError for a value of the wrong kind or a top level that is no object.
  static LocalToolSettings fromJson(const Json& json);
  // All 18 keys in field order, values as they stand (no bounds, no repair). Maps are
  // written in key order, so equal settings always give equal bytes.
  Json toJson() const;
};

// The manifest folders as the window edits them, one per line: pieces split at line feeds,
// trimmed of white space and line breaks (a carriage return included), empty ones dropped,
// order and duplicates kept.
std::vector<std::string> manifestDirectoriesFromText(std::string_view text);
// The folders joined with one line feed between them.
std::string manifestDirectoriesText(const std::vector<std::string>& directories);

}  // namespace qd
