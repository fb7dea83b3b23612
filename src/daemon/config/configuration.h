#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "daemon/config/feature_tier.h"
#include "daemon/utilities/error.h"
#include "platform/environment.h"

namespace qd {

// Raised by Configuration::ensureDirectories when a folder cannot be created.
class ConfigurationError : public Error {
 public:
  enum class Kind { directoryCreationFailed };
  ConfigurationError(Kind kind, std::filesystem::path path, std::error_code code);
  Kind kind() const { return kind_; }
  const std::filesystem::path& path() const { return path_; }
  std::error_code code() const { return code_; }

 private:
  Kind kind_;
  std::filesystem::path path_;
  std::error_code code_;
};

// The program's process-wide settings: fixed identifiers, folders and files, limits and
// time-outs, and the TINDERBOX_* overrides. Every environment-derived value is read once,
// when the object is built, and never changes afterwards; a later change of the process
// environment has no effect. Tests build their own from an Environment they control.
class Configuration {
 public:
  // Reads every environment-derived setting from `env`. An integer setting out of its
  // range prints one warning line to standard error (fd 2 directly, not the logger) and
  // falls back to its default; empty or non-numeric values fall back silently.
  explicit Configuration(const platform::Environment& env);

  // The process's configuration, built once (thread-safe) from the environment as it is
  // on first use.
  static const Configuration& shared();

  // Fixed values.
  static constexpr const char* appDirectoryName = "QuarvelDorarov";
  static constexpr const char* launchdLabel = "vir.izerorudidodad.udodaz";
  static constexpr const char* adminMachServiceName = "rov.uziruzizezorev.arirav.iduvo";
  static constexpr const char* appBundleIdentifier = "com.quarvel.dorarov";
  static constexpr const char* daemonExecutableName = "QuarvelDorarovDaemon";
  static constexpr const char* routerVersion = "2.0.0";
  static constexpr std::int64_t logRotationThresholdBytes = 10485760;
  static constexpr std::int64_t queueDrainTimeout = 30000;  // ms
  static constexpr std::int64_t daemonCheckTimeout = 1000;  // ms
  static constexpr std::uint16_t socketPermissions = 0600;
  static constexpr std::int64_t maxRequestSize = 10485760;  // bytes
  static constexpr std::int64_t maxJSONDepth = 20;
  static constexpr std::int64_t rateLimitWindow = 60000;  // ms
  static constexpr std::int64_t maxNotificationsPerAgent = 1000;
  static constexpr std::int64_t maxNotificationSize = 100000;  // bytes

  // Defaults of the environment settings.
  static constexpr const char* defaultTinderboxMCPPath = "/Applications/Tinderbox 11.app/Contents/MacOS/Tinderbox 11";
  static constexpr std::int64_t defaultConnectionTimeout = 30000;
  static constexpr std::int64_t defaultRequestTimeout = 60000;
  static constexpr std::int64_t defaultStartupDelay = 0;
  static constexpr std::int64_t defaultMaxQueueLength = 1000;
  static constexpr std::int64_t defaultMaxClients = 100;
  static constexpr std::int64_t defaultSubprocessTimeoutSeconds = 15;
  static constexpr std::int64_t defaultRateLimitRequests = 300;

  // Folders and files.
  std::filesystem::path appSupportDir() const { return appSupportDir_; }
  std::filesystem::path exportsDir() const { return appSupportDir_ / "exports"; }
  std::filesystem::path logsDir() const { return logsDir_; }
  std::string socketPath() const { return socketPath_; }
  std::string pidFilePath() const { return pidFilePath_; }
  std::string lockFilePath() const { return lockFilePath_; }
  std::string healthFilePath() const { return healthFilePath_; }
  std::string daemonErrorLogPath() const { return (logsDir_ / "daemon-error.log").string(); }

  // Environment settings.
  std::string tinderboxMCPPath() const { return tinderboxMCPPath_; }
  std::optional<std::string> tinderboxDocument() const { return tinderboxDocument_; }
  bool disableTinderbox() const { return disableTinderbox_; }
  FeatureTier featureTier() const { return featureTier_; }
  std::int64_t connectionTimeout() const { return connectionTimeout_; }  // ms
  std::int64_t requestTimeout() const { return requestTimeout_; }        // ms
  std::int64_t startupDelay() const { return startupDelay_; }            // ms
  std::int64_t maxQueueLength() const { return maxQueueLength_; }
  std::int64_t maxClients() const { return maxClients_; }
  std::int64_t rateLimitRequests() const { return rateLimitRequests_; }  // per rateLimitWindow
  double subprocessTimeout() const { return subprocessTimeout_; }        // seconds

  // The fixed per-operation time-outs in milliseconds (37 names); 0 means no time-out.
  static const std::map<std::string, std::int64_t, std::less<>>& operationTimeouts();
  // The table's entry for the exact (case-sensitive) name, else requestTimeout().
  std::int64_t timeoutForOperation(std::string_view operation) const;

  // Creates appSupportDir, logsDir and exportsDir, in this order, with mode 0755 and any
  // missing parents; throws ConfigurationError for the first that fails and stops there.
  void ensureDirectories() const;

 private:
  std::filesystem::path appSupportDir_;
  std::filesystem::path logsDir_;
  std::string socketPath_;
  std::string pidFilePath_;
  std::string lockFilePath_;
  std::string healthFilePath_;
  std::string tinderboxMCPPath_;
  std::optional<std::string> tinderboxDocument_;
  bool disableTinderbox_ = false;
  FeatureTier featureTier_ = FeatureTier::release;
  std::int64_t connectionTimeout_ = defaultConnectionTimeout;
  std::int64_t requestTimeout_ = defaultRequestTimeout;
  std::int64_t startupDelay_ = defaultStartupDelay;
  std::int64_t maxQueueLength_ = defaultMaxQueueLength;
  std::int64_t maxClients_ = defaultMaxClients;
  std::int64_t rateLimitRequests_ = defaultRateLimitRequests;
  double subprocessTimeout_ = static_cast<double>(defaultSubprocessTimeoutSeconds);
};

}  // namespace qd
