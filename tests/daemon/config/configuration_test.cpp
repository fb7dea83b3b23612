#include "daemon/config/configuration.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "support/stderr_capture.h"
#include "support/temp_dir.h"

namespace qd {
namespace {

namespace fs = std::filesystem;

Configuration configWith(std::initializer_list<std::pair<const std::string, std::string>> extra) {
  platform::Environment env{{"HOME", "/home/u"}};
  for (const auto& [k, v] : extra) env.set(k, v);
  return Configuration(env);
}

TEST(Configuration, DefaultsFollowTheHomeFolder) {
  test::StderrCapture capture;
  const Configuration config = configWith({});
  EXPECT_EQ(config.appSupportDir(), "/home/u/.local/share/QuarvelDorarov");
  EXPECT_EQ(config.exportsDir(), "/home/u/.local/share/QuarvelDorarov/exports");
  EXPECT_EQ(config.logsDir(), "/home/u/.local/state/QuarvelDorarov/logs");
  EXPECT_EQ(config.socketPath(), "/home/u/.local/share/QuarvelDorarov/daemon.sock");
  EXPECT_EQ(config.pidFilePath(), "/home/u/.local/share/QuarvelDorarov/daemon.pid");
  EXPECT_EQ(config.lockFilePath(), "/home/u/.local/share/QuarvelDorarov/daemon.lock");
  EXPECT_EQ(config.healthFilePath(), "/home/u/.local/share/QuarvelDorarov/health.json");
  EXPECT_EQ(config.daemonErrorLogPath(), "/home/u/.local/state/QuarvelDorarov/logs/daemon-error.log");
  EXPECT_EQ(config.tinderboxMCPPath(), "/Applications/Tinderbox 11.app/Contents/MacOS/Tinderbox 11");
  EXPECT_FALSE(config.tinderboxDocument());
  EXPECT_FALSE(config.disableTinderbox());
  EXPECT_EQ(config.featureTier(), FeatureTier::release);
  EXPECT_EQ(config.connectionTimeout(), 30000);
  EXPECT_EQ(config.requestTimeout(), 60000);
  EXPECT_EQ(config.startupDelay(), 0);
  EXPECT_EQ(config.maxQueueLength(), 1000);
  EXPECT_EQ(config.maxClients(), 100);
  EXPECT_EQ(config.subprocessTimeout(), 15.0);
  EXPECT_EQ(config.rateLimitRequests(), 300);
  EXPECT_EQ(capture.text(), "");
}

TEST(Configuration, FoldersFollowXdgVariablesAndPathVariablesOverrideThemUnchanged) {
  const Configuration xdg = configWith({{"XDG_DATA_HOME", "/data"}, {"XDG_STATE_HOME", "/state"}});
  EXPECT_EQ(xdg.socketPath(), "/data/QuarvelDorarov/daemon.sock");
  EXPECT_EQ(xdg.daemonErrorLogPath(), "/state/QuarvelDorarov/logs/daemon-error.log");

  const Configuration overridden = configWith({{"TINDERBOX_SOCKET_PATH", "relative.sock"},
                                               {"TINDERBOX_PID_FILE", ""},
                                               {"TINDERBOX_LOCK_FILE", "/l"},
                                               {"TINDERBOX_HEALTH_FILE_PATH", "/h.json"},
                                               {"TINDERBOX_MCP_PATH", ""},
                                               {"TINDERBOX_DOCUMENT", ""}});
  EXPECT_EQ(overridden.socketPath(), "relative.sock");
  EXPECT_EQ(overridden.pidFilePath(), "");
  EXPECT_EQ(overridden.lockFilePath(), "/l");
  EXPECT_EQ(overridden.healthFilePath(), "/h.json");
  EXPECT_EQ(overridden.tinderboxMCPPath(), "");
  EXPECT_EQ(overridden.tinderboxDocument(), std::optional<std::string>(""));
}

struct IntCase {
  const char* variable;
  const char* raw;
  double expected;
  const char* warning;  // nullptr: no output at all
};

double readSetting(const Configuration& c, std::string_view variable) {
  if (variable == "TINDERBOX_CONNECTION_TIMEOUT") return static_cast<double>(c.connectionTimeout());
  if (variable == "TINDERBOX_REQUEST_TIMEOUT") return static_cast<double>(c.requestTimeout());
  if (variable == "TINDERBOX_STARTUP_DELAY") return static_cast<double>(c.startupDelay());
  if (variable == "TINDERBOX_MAX_QUEUE_LENGTH") return static_cast<double>(c.maxQueueLength());
  if (variable == "TINDERBOX_MAX_CLIENTS") return static_cast<double>(c.maxClients());
  if (variable == "TINDERBOX_RATE_LIMIT_REQUESTS") return static_cast<double>(c.rateLimitRequests());
  if (variable == "TINDERBOX_SUBPROCESS_TIMEOUT") return c.subprocessTimeout();
  ADD_FAILURE() << variable;
  return -1;
}

TEST(Configuration, IntegerSettingsKeepTheirRangesAndWarnOnlyWhenOutOfRange) {
  const IntCase cases[] = {
      {"TINDERBOX_REQUEST_TIMEOUT", "999", 60000,
       "Warning: TINDERBOX_REQUEST_TIMEOUT must be between 1000 and 600000, got 999. Using default: 60000\n"},
      {"TINDERBOX_REQUEST_TIMEOUT", "1000", 1000, nullptr},
      {"TINDERBOX_REQUEST_TIMEOUT", "600000", 600000, nullptr},
      {"TINDERBOX_CONNECTION_TIMEOUT", "600001", 30000,
       "Warning: TINDERBOX_CONNECTION_TIMEOUT must be between 1000 and 600000, got 600001. Using default: 30000\n"},
      {"TINDERBOX_STARTUP_DELAY", "0", 0, nullptr},
      {"TINDERBOX_STARTUP_DELAY", "10000", 10000, nullptr},
      {"TINDERBOX_MAX_QUEUE_LENGTH", "0", 1000,
       "Warning: TINDERBOX_MAX_QUEUE_LENGTH must be between 1 and 100000, got 0. Using default: 1000\n"},
      {"TINDERBOX_MAX_CLIENTS", "0", 100,
       "Warning: TINDERBOX_MAX_CLIENTS must be between 1 and 10000, got 0. Using default: 100\n"},
      {"TINDERBOX_MAX_CLIENTS", "-5", 100,
       "Warning: TINDERBOX_MAX_CLIENTS must be between 1 and 10000, got -5. Using default: 100\n"},
      {"TINDERBOX_MAX_CLIENTS", "+50", 50, nullptr},
      {"TINDERBOX_MAX_CLIENTS", "+0050", 50, nullptr},
      // The raw text is echoed, not the parsed number.
      {"TINDERBOX_MAX_CLIENTS", "+00000", 100,
       "Warning: TINDERBOX_MAX_CLIENTS must be between 1 and 10000, got +00000. Using default: 100\n"},
      {"TINDERBOX_SUBPROCESS_TIMEOUT", "4", 15.0,
       "Warning: TINDERBOX_SUBPROCESS_TIMEOUT must be between 5 and 120, got 4. Using default: 15\n"},
      {"TINDERBOX_SUBPROCESS_TIMEOUT", "30", 30.0, nullptr},
      {"TINDERBOX_RATE_LIMIT_REQUESTS", "10001", 300,
       "Warning: TINDERBOX_RATE_LIMIT_REQUESTS must be between 1 and 10000, got 10001. Using default: 300\n"},
      // Not a whole integer: the default, silently.
      {"TINDERBOX_MAX_CLIENTS", "", 100, nullptr},
      {"TINDERBOX_MAX_CLIENTS", "abc", 100, nullptr},
      {"TINDERBOX_MAX_CLIENTS", "12.5", 100, nullptr},
      {"TINDERBOX_MAX_CLIENTS", " 12", 100, nullptr},
      {"TINDERBOX_MAX_CLIENTS", "12 ", 100, nullptr},
      {"TINDERBOX_MAX_CLIENTS", "-", 100, nullptr},
      {"TINDERBOX_MAX_CLIENTS", "+", 100, nullptr},
      {"TINDERBOX_MAX_CLIENTS", "+-5", 100, nullptr},
      {"TINDERBOX_MAX_CLIENTS", "0x10", 100, nullptr},
      {"TINDERBOX_MAX_CLIENTS", "99999999999999999999", 100, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.variable) + "=" + c.raw);
    test::StderrCapture capture;
    const Configuration config = configWith({{c.variable, c.raw}});
    EXPECT_EQ(readSetting(config, c.variable), c.expected);
    EXPECT_EQ(capture.text(), c.warning ? c.warning : "");
  }
}

TEST(Configuration, OnlyTheExactValueOneDisablesTinderbox) {
  EXPECT_TRUE(configWith({{"TINDERBOX_DISABLE", "1"}}).disableTinderbox());
  for (const char* value : {"true", "yes", "01", " 1", ""}) {
    EXPECT_FALSE(configWith({{"TINDERBOX_DISABLE", value}}).disableTinderbox()) << value;
  }
}

TEST(Configuration, FeatureTierComesFromTheExactRawValue) {
  const std::pair<const char*, FeatureTier> cases[] = {
      {"release", FeatureTier::release}, {"beta", FeatureTier::beta}, {"dev", FeatureTier::dev},
      {"Beta", FeatureTier::release},    {"DEV", FeatureTier::release}, {"", FeatureTier::release},
      {"nightly", FeatureTier::release},
  };
  for (const auto& [raw, tier] : cases) {
    test::StderrCapture capture;
    EXPECT_EQ(configWith({{"TINDERBOX_FEATURE_TIER", raw}}).featureTier(), tier) << raw;
    EXPECT_EQ(capture.text(), "");
  }
}

TEST(Configuration, OperationTimeoutsUseTheTableElseTheRequestTimeout) {
  EXPECT_EQ(Configuration::operationTimeouts().size(), 37u);
  const Configuration defaults = configWith({});
  EXPECT_EQ(defaults.timeoutForOperation("search"), 60000);
  EXPECT_EQ(defaults.timeoutForOperation("health_check"), 15000);
  EXPECT_EQ(defaults.timeoutForOperation("quit_tinderbox"), 30000);
  EXPECT_EQ(defaults.timeoutForOperation("copy_tinderbox_view"), 60000);
  // Zero is a value of the table (no time-out), not a gap.
  EXPECT_EQ(defaults.timeoutForOperation("open_tinderbox"), 0);
  EXPECT_EQ(defaults.timeoutForOperation("restart_tinderbox"), 0);

  const Configuration configured = configWith({{"TINDERBOX_REQUEST_TIMEOUT", "5000"}});
  EXPECT_EQ(configured.timeoutForOperation("Search"), 5000);
  EXPECT_EQ(configured.timeoutForOperation("unknown_op"), 5000);
  EXPECT_EQ(configured.timeoutForOperation(""), 5000);
  EXPECT_EQ(configured.timeoutForOperation("search"), 60000);
}

TEST(Configuration, EnsureDirectoriesCreatesTheThreeFoldersWithMode0755) {
  test::TempDir temp("config");
  const Configuration config = configWith({{"XDG_DATA_HOME", (temp.path() / "data").string()},
                                           {"XDG_STATE_HOME", (temp.path() / "state").string()}});
  config.ensureDirectories();
  config.ensureDirectories();  // existing folders are fine
  for (const fs::path& dir : {config.appSupportDir(), config.logsDir(), config.exportsDir()}) {
    struct stat info {};
    ASSERT_EQ(::stat(dir.c_str(), &info), 0) << dir;
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0755u) << dir;
  }
}

TEST(Configuration, EnsureDirectoriesStopsAtTheFirstFailure) {
  test::TempDir temp("config");
  std::ofstream(temp.path() / "data") << "a file where a folder belongs";
  const Configuration config = configWith({{"XDG_DATA_HOME", (temp.path() / "data").string()},
                                           {"XDG_STATE_HOME", (temp.path() / "state").string()}});
  try {
    config.ensureDirectories();
    FAIL() << "expected an error";
  } catch (const ConfigurationError& e) {
    EXPECT_EQ(e.path(), config.appSupportDir());
    EXPECT_NE(e.description().find(config.appSupportDir().string()), std::string::npos);
  }
  EXPECT_FALSE(fs::exists(temp.path() / "state"));
}

}  // namespace
}  // namespace qd
