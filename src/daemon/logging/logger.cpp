#include "daemon/logging/logger.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

#include "daemon/logging/log_file.h"
#include "daemon/utilities/any_codable.h"
#include "daemon/utilities/unicode_text.h"

namespace qd {

std::string toString(LogLevel level) {
  switch (level) {
    case LogLevel::debug: return "DEBUG";
    case LogLevel::info: return "INFO";
    case LogLevel::warn: return "WARN";
    case LogLevel::error: return "ERROR";
  }
  return "ERROR";
}

std::optional<LogLevel> logLevelFromString(std::string_view raw) {
  if (raw == "DEBUG") return LogLevel::debug;
  if (raw == "INFO") return LogLevel::info;
  if (raw == "WARN") return LogLevel::warn;
  if (raw == "ERROR") return LogLevel::error;
  return std::nullopt;
}

namespace Logger {
namespace {

// JSON has no NaN or infinity; the library would quietly write null in their place, which
// is not the caller's metadata, so such a value makes the line unencodable.
bool containsNonFiniteNumber(const Json& root) {
  std::vector<const Json*> pending{&root};
  while (!pending.empty()) {
    const Json* v = pending.back();
    pending.pop_back();
    if (v->is_number_float() && !std::isfinite(v->get<double>())) return true;
    if (v->is_structured()) {
      for (const Json& child : *v) pending.push_back(&child);
    }
  }
  return false;
}

// Strict encoding: any invalid UTF-8 or non-JSON value makes the line unencodable.
std::optional<std::string> encodeStrictly(const Json& object) {
  try {
    ensureEncodable(object);
    if (containsNonFiniteNumber(object)) return std::nullopt;
    return object.dump(-1, ' ', false, Json::error_handler_t::strict);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace

std::string iso8601Timestamp(std::chrono::system_clock::time_point t) {
  using namespace std::chrono;
  const auto ms = floor<milliseconds>(t);
  const auto secs = floor<seconds>(ms);
  const std::time_t tt = system_clock::to_time_t(secs);
  std::tm tm{};
  gmtime_r(&tt, &tm);
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>((ms - secs).count()));
  return buffer;
}

void log(LogLevel level, std::string_view component, std::string_view message, const Json& metadata) {
  if (level < minimumLevel) return;
  Json line = Json::object();
  line["timestamp"] = iso8601Timestamp(std::chrono::system_clock::now());
  line["level"] = toString(level);
  line["component"] = std::string(component);
  line["message"] = std::string(message);
  line["metadata"] = metadata.is_null() ? Json::object() : metadata;
  if (auto text = encodeStrictly(line)) {
    appendToStandardError(*text + "\n");
    return;
  }
  appendToStandardError("[" + toString(level) + "] " + std::string(component) + ": " + std::string(message) + "\n");
}

}  // namespace Logger
}  // namespace qd
