#include "app/settings/local_tool_settings.h"

#include <algorithm>

#include "daemon/runtime/text_trim.h"
#include "daemon/utilities/json_codec.h"

namespace qd {
namespace {

constexpr std::array<std::pair<LoggingSinkMode, std::string_view>, 4> kRawValues{{
    {LoggingSinkMode::off, "off"},
    {LoggingSinkMode::file, "file"},
    {LoggingSinkMode::tinderbox, "tinderbox"},
    {LoggingSinkMode::both, "both"},
}};

SwitchMap switchMap(const Json& object, std::string_view key) {
  SwitchMap out;
  for (const auto& [name, value] : codec::asObject(object, key).items()) out[name] = codec::asBool(value, key);
  return out;
}

Json switchMapJson(const SwitchMap& map) {
  Json out = Json::object();
  for (const auto& [name, value] : map) out[name] = value;
  return out;
}

void readBool(const Json& json, std::string_view key, bool& field) {
  if (auto value = codec::optionalBool(json, key)) field = *value;
}

void readInt(const Json& json, std::string_view key, std::int64_t& field) {
  if (auto value = codec::optionalInt(json, key)) field = *value;
}

}  // namespace

std::string rawValue(LoggingSinkMode mode) {
  for (const auto& [m, raw] : kRawValues) {
    if (m == mode) return std::string(raw);
  }
  return "off";
}

std::optional<LoggingSinkMode> loggingSinkModeFromRaw(std::string_view raw) {
  for (const auto& [mode, text] : kRawValues) {
    if (text == raw) return mode;
  }
  return std::nullopt;
}

LoggingSinkMode loggingSinkModeFromFlags(bool logToFile, bool logToTinderbox) {
  if (logToFile && logToTinderbox) return LoggingSinkMode::both;
  if (logToTinderbox) return LoggingSinkMode::tinderbox;
  if (logToFile) return LoggingSinkMode::file;
  return LoggingSinkMode::off;
}

bool logsToFile(LoggingSinkMode mode) { return mode == LoggingSinkMode::file || mode == LoggingSinkMode::both; }

bool logsToTinderbox(LoggingSinkMode mode) {
  return mode == LoggingSinkMode::tinderbox || mode == LoggingSinkMode::both;
}

SwitchMap LocalToolSettings::defaultHelperToolEnabled() {
  return {{"calendar", false}, {"tbx_nav", true}, {"tbx_doc", true}, {"tbx_export", true}};
}

LocalToolSettings LocalToolSettings::fromJson(const Json& json) {
  codec::expectObject(json, "LocalToolSettings");
  LocalToolSettings s;
  s.helperToolEnabled.clear();
  if (const Json* m = codec::member(json, "helperToolEnabled")) s.helperToolEnabled = switchMap(*m, "helperToolEnabled");
  if (const Json* m = codec::member(json, "operationEnabled")) s.operationEnabled = switchMap(*m, "operationEnabled");
  readBool(json, "requireExplicitToolEnable", s.requireExplicitToolEnable);
  readBool(json, "allowBroadcastNotifications", s.allowBroadcastNotifications);
  readInt(json, "maxNotificationItems", s.maxNotificationItems);
  readInt(json, "maxConcurrentJobs", s.maxConcurrentJobs);
  readBool(json, "enableLogging", s.enableLogging);
  readBool(json, "enableMessaging", s.enableMessaging);
  readBool(json, "enableAgentCoordination", s.enableAgentCoordination);
  readBool(json, "enableHookSync", s.enableHookSync);
  readBool(json, "enableTinderboxPassthroughTools", s.enableTinderboxPassthroughTools);
  readBool(json, "enableToolCallLogging", s.enableToolCallLogging);
  readBool(json, "logToolCallsToFile", s.logToolCallsToFile);
  readBool(json, "logToolCallsToTinderbox", s.logToolCallsToTinderbox);
  readBool(json, "enableCustomToolManifests", s.enableCustomToolManifests);
  if (auto dirs = codec::optionalStringList(json, "customToolManifestDirectories")) {
    s.customToolManifestDirectories = std::move(*dirs);
  }
  readInt(json, "maxCustomTools", s.maxCustomTools);
  readBool(json, "autoDownloadUpdates", s.autoDownloadUpdates);

  s.maxConcurrentJobs = std::max<std::int64_t>(s.maxConcurrentJobs, 1);
  s.maxCustomTools = std::max<std::int64_t>(s.maxCustomTools, 1);

  // An old record that required explicit enabling and enabled only the calendar meant
  // "everything but the calendar"; the daemon migrates its own file the same way.
  if (s.requireExplicitToolEnable && s.helperToolEnabled.size() == 1 && s.helperToolEnabled.count("calendar") &&
      s.helperToolEnabled.at("calendar")) {
    s.helperToolEnabled["calendar"] = false;
    s.requireExplicitToolEnable = false;
  }
  for (const auto& [tool, enabled] : defaultHelperToolEnabled()) s.helperToolEnabled.try_emplace(tool, enabled);
  return s;
}

std::vector<std::string> manifestDirectoriesFromText(std::string_view text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string piece = trimWhitespaceAndNewlines(text.substr(start, end - start));
    if (!piece.empty()) out.push_back(std::move(piece));
    start = end + 1;
  }
  return out;
}

std::string manifestDirectoriesText(const std::vector<std::string>& directories) {
  std::string text;
  for (std::size_t i = 0; i < directories.size(); ++i) {
    if (i > 0) text += '\n';
    text += directories[i];
  }
  return text;
}

Json LocalToolSettings::toJson() const {
  Json out = Json::object();
  out["helperToolEnabled"] = switchMapJson(helperToolEnabled);
  out["operationEnabled"] = switchMapJson(operationEnabled);
  out["requireExplicitToolEnable"] = requireExplicitToolEnable;
  out["allowBroadcastNotifications"] = allowBroadcastNotifications;
  out["maxNotificationItems"] = maxNotificationItems;
  out["maxConcurrentJobs"] = maxConcurrentJobs;
  out["enableLogging"] = enableLogging;
  out["enableMessaging"] = enableMessaging;
  out["enableAgentCoordination"] = enableAgentCoordination;
  out["enableHookSync"] = enableHookSync;
  out["enableTinderboxPassthroughTools"] = enableTinderboxPassthroughTools;
  out["enableToolCallLogging"] = enableToolCallLogging;
  out["logToolCallsToFile"] = logToolCallsToFile;
  out["logToolCallsToTinderbox"] = logToolCallsToTinderbox;
  out["enableCustomToolManifests"] = enableCustomToolManifests;
  out["customToolManifestDirectories"] = customToolManifestDirectories;
  out["maxCustomTools"] = maxCustomTools;
  out["autoDownloadUpdates"] = autoDownloadUpdates;
  return out;
}

}  // namespace qd
