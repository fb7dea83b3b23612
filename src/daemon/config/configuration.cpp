#include "daemon/config/configuration.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <system_error>

#include "daemon/logging/log_file.h"
#include "platform/user_folders.h"

namespace qd {
namespace {

static_assert(std::string_view(Configuration::appDirectoryName) == platform::kAppDirectoryName);

// A whole-string base-10 integer: an optional sign, then one or more digits, in the signed
// 64-bit range. Anything else (spaces, a fraction, a lone sign, overflow) is none.
std::optional<std::int64_t> parseWholeInteger(std::string_view text) {
  std::string_view digits = text;
  if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) digits.remove_prefix(1);
  if (digits.empty()) return std::nullopt;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  // from_chars takes a leading '-' but not a '+'.
  std::string_view numeric = text.front() == '+' ? text.substr(1) : text;
  std::int64_t value = 0;
  auto [end, ec] = std::from_chars(numeric.data(), numeric.data() + numeric.size(), value);
  if (ec != std::errc() || end != numeric.data() + numeric.size()) return std::nullopt;
  return value;
}

std::int64_t parsePositiveInt(const platform::Environment& env, const char* name, std::int64_t defaultValue,
                              std::int64_t min, std::int64_t max) {
  const auto raw = env.get(name);
  if (!raw || raw->empty()) return defaultValue;
  const auto value = parseWholeInteger(*raw);
  if (!value) return defaultValue;
  if (*value >= min && *value <= max) return *value;
  // Straight to standard error, not through the logger, which drops nothing below WARN but
  // formats JSON; this line is for a person reading the terminal.
  appendToStandardError("Warning: " + std::string(name) + " must be between " + std::to_string(min) + " and " +
                        std::to_string(max) + ", got " + *raw + ". Using default: " + std::to_string(defaultValue) +
                        "\n");
  return defaultValue;
}

std::string pathSetting(const platform::Environment& env, const char* name, const std::filesystem::path& fallback) {
  if (auto value = env.get(name)) return *value;
  return fallback.string();
}

// Creates `dir` and any missing parents with mode 0755.
void createDirectory(const std::filesystem::path& dir) {
  std::filesystem::path partial;
  for (const auto& component : dir) {
    partial /= component;
    if (::mkdir(partial.c_str(), 0755) == 0) {
      ::chmod(partial.c_str(), 0755);  // exact mode, whatever the umask
      continue;
    }
    const int err = errno;
    struct stat info {};
    if (err == EEXIST && ::stat(partial.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) continue;
    throw ConfigurationError(ConfigurationError::Kind::directoryCreationFailed, dir,
                             std::error_code(err == EEXIST ? ENOTDIR : err, std::generic_category()));
  }
}

}  // namespace

ConfigurationError::ConfigurationError(Kind kind, std::filesystem::path path, std::error_code code)
    : Error("Could not create folder " + path.string() + ": " + code.message()),
      kind_(kind),
      path_(std::move(path)),
      code_(code) {}

Configuration::Configuration(const platform::Environment& env)
    : appSupportDir_(platform::applicationSupportDirectory(env)), logsDir_(platform::logsDirectory(env)) {
  socketPath_ = pathSetting(env, "TINDERBOX_SOCKET_PATH", appSupportDir_ / "daemon.sock");
  pidFilePath_ = pathSetting(env, "TINDERBOX_PID_FILE", appSupportDir_ / "daemon.pid");
  lockFilePath_ = pathSetting(env, "TINDERBOX_LOCK_FILE", appSupportDir_ / "daemon.lock");
  healthFilePath_ = pathSetting(env, "TINDERBOX_HEALTH_FILE_PATH", appSupportDir_ / "health.json");

  tinderboxMCPPath_ = env.get("TINDERBOX_MCP_PATH").value_or(defaultTinderboxMCPPath);
  tinderboxDocument_ = env.get("TINDERBOX_DOCUMENT");
  disableTinderbox_ = env.get("TINDERBOX_DISABLE") == std::optional<std::string>("1");
  // Exact and case-sensitive: "Beta" or "DEV" run the release tier, without a warning.
  featureTier_ = featureTierFromString(env.get("TINDERBOX_FEATURE_TIER").value_or("")).value_or(FeatureTier::release);

  connectionTimeout_ = parsePositiveInt(env, "TINDERBOX_CONNECTION_TIMEOUT", defaultConnectionTimeout, 1000, 600000);
  requestTimeout_ = parsePositiveInt(env, "TINDERBOX_REQUEST_TIMEOUT", defaultRequestTimeout, 1000, 600000);
  startupDelay_ = parsePositiveInt(env, "TINDERBOX_STARTUP_DELAY", defaultStartupDelay, 0, 10000);
  maxQueueLength_ = parsePositiveInt(env, "TINDERBOX_MAX_QUEUE_LENGTH", defaultMaxQueueLength, 1, 100000);
  maxClients_ = parsePositiveInt(env, "TINDERBOX_MAX_CLIENTS", defaultMaxClients, 1, 10000);
  subprocessTimeout_ = static_cast<double>(
      parsePositiveInt(env, "TINDERBOX_SUBPROCESS_TIMEOUT", defaultSubprocessTimeoutSeconds, 5, 120));
  rateLimitRequests_ = parsePositiveInt(env, "TINDERBOX_RATE_LIMIT_REQUESTS", defaultRateLimitRequests, 1, 10000);
}

const Configuration& Configuration::shared() {
  static const Configuration instance(platform::Environment::current());
  return instance;
}

const std::map<std::string, std::int64_t, std::less<>>& Configuration::operationTimeouts() {
  static const std::map<std::string, std::int64_t, std::less<>> table = {
      {"note_exists", 15000},
      {"list_tinderbox_windows", 15000},
      {"health_check", 15000},
      {"daemon_self_check", 15000},
      {"open_tinderbox", 0},
      {"restart_tinderbox", 0},
      {"quit_tinderbox", 30000},
      {"identify", 15000},
      {"build_tinderbox_note_url", 15000},
      {"log_message", 15000},
      {"time_now", 15000},
      {"time_convert", 15000},
      {"get_notes", 30000},
      {"create_note", 30000},
      {"set_value", 30000},
      {"create_link", 30000},
      {"delete_note", 30000},
      {"list_prototypes", 60000},
      {"print_document", 30000},
      {"move_note", 30000},
      {"get_value", 30000},
      {"navigate_to_note", 30000},
      {"navigate_to_note_view", 30000},
      {"select_tinderbox_note", 30000},
      {"open_tinderbox_url", 30000},
      {"set_tinderbox_view", 30000},
      {"arrange_tinderbox_view", 30000},
      {"dance_tinderbox_view", 30000},
      {"copy_tinderbox_view", 60000},
      {"open_tinderbox_document", 30000},
      {"save_tinderbox_document", 30000},
      {"close_tinderbox_document", 30000},
      {"export_document", 60000},
      {"search", 60000},
      {"evaluate_expression", 60000},
      {"export_note", 60000},
      {"list_attributes", 60000},
  };
  return table;
}

std::int64_t Configuration::timeoutForOperation(std::string_view operation) const {
  const auto& table = operationTimeouts();
  if (auto it = table.find(operation); it != table.end()) return it->second;
  return requestTimeout_;
}

void Configuration::ensureDirectories() const {
  createDirectory(appSupportDir());
  createDirectory(logsDir());
  createDirectory(exportsDir());
}

}  // namespace qd
