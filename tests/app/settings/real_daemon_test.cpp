// The settings model against the real daemon. The daemon admits only the application
// installed beside its own executable, so the outer test installs this test program as
// <temp>/inst/bin/QuarvelDorarov beside a copy of the daemon and runs the inner test
// there; the inner test starts and stops that daemon itself.

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app/settings/tool_settings_view_model.h"
#include "daemon/admin/admin_protocol.h"
#include "daemon/config/app_preferences_store.h"
#include "daemon/runtime/child_process.h"
#include "settings_test_support.h"
#include "support/daemon_process.h"
#include "support/installed_program.h"
#include "support/temp_dir.h"

namespace qd {
namespace {

namespace fs = std::filesystem;

constexpr const char* kInnerVariable = "QD_SETTINGS_REAL_DAEMON_INNER";

bool eventually(const std::function<bool()>& condition, std::chrono::seconds limit = std::chrono::seconds(90)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

Json readJsonFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return parseJson(text.str());
}

TEST(SettingsModelRealDaemonTest, TheModelReadsAndSavesTheRealDaemonsSettings) {
  test::TempDir temp("settings-real");
  const fs::path bin = temp / "inst" / "bin";
  test::installProgram(QD_DAEMON_EXECUTABLE, bin / "QuarvelDorarovDaemon");
  test::installProgram(fs::read_symlink("/proc/self/exe"), bin / "QuarvelDorarov");

  std::map<std::string, std::string> environment =
      test::DaemonProcess(temp / "home", {{"TINDERBOX_FEATURE_TIER", "dev"}}).environment();
  environment[kInnerVariable] = "1";
  SpawnOptions options = spawnOptions((bin / "QuarvelDorarov").string(),
                                      {"--gtest_filter=SettingsModelRealDaemonInner.*"});
  options.environmentOverlay = environment;
  options.stdinMode = StdioMode::null;
  options.stderrMode = StdioMode::inherit;
  auto inner = ChildProcess::spawn(options);
  UniqueFd out = inner->takeStdout();
  const std::string output = test::readFrom(out.get());
  const ExitStatus status = inner->reap();
  EXPECT_TRUE(status.success()) << output;
  EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
}

class SettingsModelRealDaemonInner : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv(kInnerVariable)) GTEST_SKIP() << "runs only inside the installed copy";
    test::qtApplication();
    daemon_.emplace(std::getenv("HOME"), std::map<std::string, std::string>{{"TINDERBOX_FEATURE_TIER", "dev"}});
    daemon_->useExecutable(fs::read_symlink("/proc/self/exe").parent_path() / "QuarvelDorarovDaemon");
    context_.environment = platform::Environment(daemon_->environment());
    settingsFile_ = daemon_->configuration().appSupportDir() / "tool-settings.json";
  }

  void TearDown() override {
    if (daemon_ && daemon_->isRunning()) stopDaemon();
  }

  void startDaemon() {
    daemon_->startAndWait();
    const std::string admin = DaemonAdminXPCProtocol::socketPathBeside(daemon_->socketPath());
    ASSERT_TRUE(eventually([&] { return fs::exists(admin); })) << daemon_->stderrText();
  }
  void stopDaemon() {
    daemon_->signal(SIGTERM);
    ASSERT_TRUE(daemon_->waitForExit(std::chrono::seconds(90)).has_value());
  }
  void settle(ToolSettingsViewModel& model) { ASSERT_TRUE(eventually([&] { return !model.requestInFlight(); })); }

  std::optional<test::DaemonProcess> daemon_;
  AppContext context_;
  fs::path settingsFile_;
};

TEST_F(SettingsModelRealDaemonInner, Scenario) {
  // Settings with category-policy maps, which the application never reads or sends.
  Json stored = LocalToolSettings().toJson();
  stored.erase("autoDownloadUpdates");
  stored["helperToolEnabled"] = {{"calendar", false}, {"jobs", false},          {"print_document", false},
                                 {"tasks", false},    {"tbx_doc", true},        {"tbx_export", false},
                                 {"tbx_nav", true},   {"workstreams", false}};
  stored["maxCustomTools"] = 7;
  stored["enableToolCallLogging"] = false;
  stored["defaultCategoryPolicy"] = {{"Time", {{"read", true}, {"write", false}}}};
  stored["clientCategoryPolicy"] = {{"claude", {{"Router Core", {{"read", false}, {"write", false}}}}}};
  stored["agentCategoryPolicy"] = Json::object();
  stored["clientAgentCategoryPolicy"] = Json::object();
  fs::create_directories(settingsFile_.parent_path());
  std::ofstream(settingsFile_) << dumpJson(stored, 2);
  const auto writtenAt = fs::last_write_time(settingsFile_);

  ToolSettingsViewModel::Options options;
  options.adminCall = adminCallFor(context_);
  options.environment = context_.environment;
  ToolMetadataFetcher fetcher(adminCallFor(context_));
  options.metadataFetcher = &fetcher;
  ToolSettingsViewModel model(options);
  settle(model);

  // No daemon yet: defaults, and nothing written until a load has succeeded.
  EXPECT_FALSE(model.settingsLoaded());
  EXPECT_EQ(model.statusMessage(), ToolSettingsViewModel::defaultsStatus);
  model.setEnableMessaging(false);
  model.save();
  settle(model);
  EXPECT_EQ(fs::last_write_time(settingsFile_), writtenAt);
  EXPECT_EQ(readJsonFile(settingsFile_), stored);

  startDaemon();
  model.save();  // reads the daemon's settings, sends nothing
  settle(model);
  ASSERT_TRUE(model.settingsLoaded()) << model.statusMessage();
  EXPECT_EQ(model.statusMessage(), "");
  const Json loaded = parseJson(*model.lastSavedPayloadData());
  for (const auto& [key, value] : loaded.items()) {
    if (key == "autoDownloadUpdates") continue;
    EXPECT_EQ(value, stored[key]) << key;
  }
  const Json before = readJsonFile(settingsFile_);

  // One edit, one save: only that key changes; the policy maps stay.
  model.setMaxCustomTools(12);
  model.setAutoDownloadUpdates(true);
  model.save();
  settle(model);
  EXPECT_EQ(model.statusMessage(), "Saved.");
  Json after = readJsonFile(settingsFile_);
  EXPECT_EQ(after["maxCustomTools"], 12);
  after["maxCustomTools"] = before["maxCustomTools"];
  EXPECT_EQ(withSortedKeys(after), withSortedKeys(before));
  EXPECT_TRUE(AppPreferencesStore(AppPreferencesStore::defaultSuiteName, context_.environment).autoDownloadUpdates());

  fetcher.loadToolMetadata();
  ASSERT_TRUE(eventually([&] { return !fetcher.isLoading(); }));
  EXPECT_EQ(fetcher.toolMetadata().count("health_check"), 1u);
  EXPECT_EQ(fetcher.toolMetadata().count("daemon_self_check"), 1u);

  // The daemon stops: the save fails and the values stay; restarted, the next save lands.
  stopDaemon();
  model.setMaxCustomTools(13);
  model.save();
  settle(model);
  EXPECT_EQ(model.statusMessage().rfind(ToolSettingsViewModel::saveFailedPrefix, 0), 0u) << model.statusMessage();
  EXPECT_EQ(model.maxCustomTools(), 13);
  startDaemon();
  model.save();
  settle(model);
  EXPECT_EQ(model.statusMessage(), "Saved.");
  EXPECT_EQ(readJsonFile(settingsFile_)["maxCustomTools"], 13);
  EXPECT_EQ(readJsonFile(settingsFile_)["defaultCategoryPolicy"], stored["defaultCategoryPolicy"]);
}

}  // namespace
}  // namespace qd
