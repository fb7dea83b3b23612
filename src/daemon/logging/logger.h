#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "daemon/utilities/json.h"

namespace qd {

enum class LogLevel { debug, info, warn, error };

std::string toString(LogLevel level);  // "DEBUG", "INFO", "WARN", "ERROR"
std::optional<LogLevel> logLevelFromString(std::string_view raw);

// The program's one diagnostic log: one compact JSON object per line on standard error,
// with the keys timestamp, level, component, message and metadata. Lines below WARN are
// dropped before any formatting. Safe from any thread: lines never interleave, and when
// standard error is a file (the daemon's error log) each line lands whole or not at all.
namespace Logger {

inline constexpr LogLevel minimumLevel = LogLevel::warn;

// Whether a line of this level is written. Hot paths test it before building metadata, so
// a dropped debug or info line costs nothing at all.
constexpr bool isEnabled(LogLevel level) { return level >= minimumLevel; }

// `metadata` is a JSON object (or null for none). When the line cannot be encoded (invalid
// UTF-8, a non-JSON value) the fallback "[LEVEL] component: message" is written instead.
void log(LogLevel level, std::string_view component, std::string_view message, const Json& metadata = Json());

inline void debug(std::string_view component, std::string_view message, const Json& metadata = Json()) {
  log(LogLevel::debug, component, message, metadata);
}
inline void info(std::string_view component, std::string_view message, const Json& metadata = Json()) {
  log(LogLevel::info, component, message, metadata);
}
inline void warn(std::string_view component, std::string_view message, const Json& metadata = Json()) {
  log(LogLevel::warn, component, message, metadata);
}
inline void error(std::string_view component, std::string_view message, const Json& metadata = Json()) {
  log(LogLevel::error, component, message, metadata);
}

// "2026-03-05T14:07:09.042Z": UTC with exactly three fractional digits.
std::string iso8601Timestamp(std::chrono::system_clock::time_point t);

}  // namespace Logger
}  // namespace qd
