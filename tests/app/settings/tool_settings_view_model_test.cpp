#include "app/settings/tool_settings_view_model.h"

#include <gtest/gtest.h>

#include "settings_test_support.h"
#include "support/temp_dir.h"

namespace qd {
namespace {

using namespace std::chrono_literals;

const Json kReceived = {{"helperToolEnabled", {{"mail", true}}},
                        {"enableLogging", true},
                        {"allowBroadcastNotifications", true},
                        {"maxNotificationItems", 50},
                        {"enableTinderboxPassthroughTools", false},
                        {"logToolCallsToFile", true},
                        {"logToolCallsToTinderbox", true},
                        {"customToolManifestDirectories", {"/a", "/b"}},
                        {"autoDownloadUpdates", true}};

class ToolSettingsViewModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::qtApplication();
    serve(kReceived);
  }

  // The daemon answers loads with this record and accepts saves.
  void serve(Json settings) {
    admin_.answer = [settings](const std::string& method, const std::optional<Json>&) -> Json {
      if (method == "app_get_settings") return settings;
      return Json{{"saved", true}};
    };
  }
  void serveNothing() {
    admin_.answer = [](const std::string&, const std::optional<Json>&) -> Json {
      throw DaemonAdminAPIError::connectionRejected("connect: Connection refused",
                                                    DaemonAdminAPIError::Cause::connectFailed);
    };
  }

  ToolSettingsViewModel& make(std::optional<std::string> tier = "beta") {
    ToolSettingsViewModel::Options options;
    options.adminCall = admin_.call();
    options.schedule = scheduler_.schedule();
    options.environment = platform::Environment{{"HOME", home_.path().string()}};
    if (tier) options.environment.set(ToolSettingsViewModel::featureTierVariable, *tier);
    options.metadataFetcher = &fetcher_;
    options.readAutoDownloadUpdates = [this] { return updater_; };
    options.writeAutoDownloadUpdates = [this](bool value) { updater_ = value; };
    options.openFolder = [this](const std::filesystem::path& folder) { opened_.push_back(folder); };
    options.loadCatalog = false;
    model_ = std::make_unique<ToolSettingsViewModel>(std::move(options));
    settle();
    return *model_;
  }

  // Applies every finished request.
  void settle() { ASSERT_TRUE(test::processEventsUntil([&] { return !model_->requestInFlight(); })); }

  Json lastSent() { return admin_.saves().back().params->at("settings"); }

  test::TempDir home_{"settings-model"};
  test::ScriptedAdmin admin_;
  test::SteppedScheduler scheduler_;
  ToolMetadataFetcher fetcher_{admin_.call()};
  bool updater_ = false;
  std::vector<std::filesystem::path> opened_;
  std::unique_ptr<ToolSettingsViewModel> model_;
};

TEST_F(ToolSettingsViewModelTest, TheReleaseTierGatesOnlyTheExactWordOrAnUnsetVariable) {
  struct Case {
    std::optional<std::string> tier;
    bool gated;
  };
  const Case cases[] = {{std::nullopt, true}, {"release", true}, {"Release", false}, {"beta", false}, {"", false}};
  for (const Case& c : cases) {
    ToolSettingsViewModel& model = make(c.tier);
    const std::string label = c.tier.value_or("<unset>");
    EXPECT_EQ(model.featureTier(), c.tier.value_or("release")) << label;
    EXPECT_TRUE(model.settingsLoaded()) << label;
    EXPECT_EQ(model.statusMessage(), "") << label;
    EXPECT_EQ(model.enableLogging(), !c.gated) << label;
    EXPECT_EQ(model.allowBroadcastNotifications(), !c.gated) << label;
    EXPECT_EQ(model.maxNotificationItems(), c.gated ? 1000 : 50) << label;
    EXPECT_EQ(model.enableTinderboxPassthroughTools(), c.gated) << label;
    EXPECT_EQ(model.loggingSinkMode(), c.gated ? LoggingSinkMode::off : LoggingSinkMode::both) << label;
    EXPECT_EQ(model.customToolManifestDirectoriesText(), "/a\n/b") << label;
    EXPECT_TRUE(updater_) << label;  // the received setting goes to the updater
    model.save();  // nothing changed since the load: no request
    settle();
    EXPECT_EQ(admin_.count("app_save_settings"), 0) << label;
    updater_ = false;
  }
}

TEST_F(ToolSettingsViewModelTest, ThePayloadHoldsLimitsTrimsFoldersAndFollowsTheSinkMode) {
  ToolSettingsViewModel& model = make("beta");
  model.setMaxConcurrentJobs(0);
  model.setMaxNotificationItems(-2);
  model.setMaxCustomTools(0);
  model.setCustomToolManifestDirectoriesText("  /one  \n\n/two\r\n   \n/one");
  model.setLogToolCallsToFile(true);
  model.setLogToolCallsToTinderbox(false);
  model.setLoggingSinkMode(LoggingSinkMode::tinderbox);
  model.save();
  settle();
  ASSERT_EQ(admin_.count("app_save_settings"), 1);
  const Json sent = lastSent();
  EXPECT_EQ(sent["maxConcurrentJobs"], 1);
  EXPECT_EQ(sent["maxNotificationItems"], 1);
  EXPECT_EQ(sent["maxCustomTools"], 1);
  EXPECT_EQ(sent["customToolManifestDirectories"], Json({"/one", "/two", "/one"}));
  EXPECT_EQ(sent["logToolCallsToFile"], false);
  EXPECT_EQ(sent["logToolCallsToTinderbox"], true);
  EXPECT_EQ(sent.size(), 18u);
  EXPECT_EQ(model.maxConcurrentJobs(), 0);  // shown as edited
  EXPECT_EQ(model.statusMessage(), "Saved.");

  // -3 is sent as 1 as well: the same bytes as the last save, so nothing goes out.
  model.setMaxConcurrentJobs(-3);
  model.save();
  settle();
  EXPECT_EQ(admin_.count("app_save_settings"), 1);
}

TEST_F(ToolSettingsViewModelTest, TheReleaseTierSendsTheGatedValuesWhateverIsShown) {
  ToolSettingsViewModel& model = make(std::nullopt);
  model.setEnableLogging(true);
  model.setAllowBroadcastNotifications(true);
  model.setMaxNotificationItems(5);
  model.setLoggingSinkMode(LoggingSinkMode::both);
  model.setEnableMessaging(false);
  model.save();
  settle();
  const Json sent = lastSent();
  for (const char* key : {"enableLogging", "allowBroadcastNotifications", "enableToolCallLogging",
                          "logToolCallsToFile", "logToolCallsToTinderbox"}) {
    EXPECT_EQ(sent[key], false) << key;
  }
  EXPECT_EQ(sent["maxNotificationItems"], 1000);
  EXPECT_EQ(sent["enableTinderboxPassthroughTools"], true);
  EXPECT_EQ(sent["enableMessaging"], false);
}

TEST_F(ToolSettingsViewModelTest, AFailedSaveKeepsTheValuesAndIsSentAgainByTheNextSave) {
  ToolSettingsViewModel& model = make("beta");
  const auto savedBefore = model.lastSavedPayloadData();
  updater_ = false;
  admin_.answer = [](const std::string& method, const std::optional<Json>&) -> Json {
    if (method == "app_save_settings") throw DaemonAdminAPIError::daemonError("Invalid parameter: settings");
    return Json::object();
  };
  model.setEnableHookSync(false);
  model.setAutoDownloadUpdates(true);
  model.save();
  settle();
  EXPECT_EQ(model.statusMessage(), "Failed to save settings: Invalid parameter: settings");
  EXPECT_FALSE(model.enableHookSync());
  EXPECT_TRUE(model.autoDownloadUpdates());
  EXPECT_FALSE(updater_);  // untouched by a failure
  EXPECT_EQ(model.lastSavedPayloadData(), savedBefore);

  serve(kReceived);
  model.save();  // nothing new changed, but the payload still differs from the last accepted
  settle();
  EXPECT_EQ(admin_.count("app_save_settings"), 2);
  EXPECT_EQ(lastSent()["enableHookSync"], false);
  EXPECT_EQ(model.statusMessage(), "Saved.");
  EXPECT_TRUE(updater_);

  // A repeated success announces nothing about the status.
  int statusSignals = 0;
  QObject::connect(&model, &ToolSettingsViewModel::statusMessageChanged, [&] { ++statusSignals; });
  model.setEnableHookSync(true);
  model.save();
  settle();
  EXPECT_EQ(admin_.count("app_save_settings"), 3);
  EXPECT_EQ(statusSignals, 0);
}

TEST_F(ToolSettingsViewModelTest, TheDebounceSendsOneSaveHalfASecondAfterTheLastChange) {
  ToolSettingsViewModel& model = make("beta");
  int changes = 0;
  QObject::connect(&model, &ToolSettingsViewModel::changed, [&] {
    ++changes;
    model.scheduleAutoSave();  // as the window's root view does
  });
  for (int i = 0; i < 5; ++i) {
    model.setMaxCustomTools(30 + i);
    scheduler_.advance(60ms);
  }
  EXPECT_EQ(changes, 5);
  scheduler_.advance(500ms - 60ms - 1ms);
  settle();
  EXPECT_EQ(admin_.count("app_save_settings"), 0);
  scheduler_.advance(1ms);
  settle();
  ASSERT_EQ(admin_.count("app_save_settings"), 1);
  EXPECT_EQ(lastSent()["maxCustomTools"], 34);
  scheduler_.advance(10s);  // the status change re-armed the debounce: same bytes, nothing sent
  settle();
  EXPECT_EQ(admin_.count("app_save_settings"), 1);

  // Off and on again before the debounce ends: nothing sent, status as it was.
  const std::string status = model.statusMessage();
  model.setEnableMessaging(false);
  model.setEnableMessaging(true);
  scheduler_.advance(500ms);
  settle();
  EXPECT_EQ(admin_.count("app_save_settings"), 1);
  EXPECT_EQ(model.statusMessage(), status);
}

TEST_F(ToolSettingsViewModelTest, EveryAssignmentAnnouncesItselfEvenWithAnEqualValue) {
  ToolSettingsViewModel& model = make("beta");
  int own = 0;
  int changed = 0;
  QObject::connect(&model, &ToolSettingsViewModel::enableHookSyncChanged, [&] { ++own; });
  QObject::connect(&model, &ToolSettingsViewModel::changed, [&] { ++changed; });
  model.setEnableHookSync(model.enableHookSync());
  EXPECT_EQ(own, 1);
  EXPECT_EQ(changed, 1);
}

TEST_F(ToolSettingsViewModelTest, ResetSendsTheDefaultsAtOnce) {
  for (std::optional<std::string> tier : {std::optional<std::string>("beta"), std::optional<std::string>()}) {
    ToolSettingsViewModel& model = make(tier);
    const int savesBefore = admin_.count("app_save_settings");
    model.setOperationEnabled({{"mail.send", false}});
    updater_ = true;
    model.resetToDefaults();
    settle();
    ASSERT_EQ(admin_.count("app_save_settings"), savesBefore + 1);
    LocalToolSettings expected;
    expected.helperToolEnabled = {{"calendar", false}};
    expected.autoDownloadUpdates = true;  // the updater's current setting
    if (!tier) {
      expected.enableLogging = expected.allowBroadcastNotifications = expected.enableToolCallLogging = false;
      expected.logToolCallsToFile = expected.logToolCallsToTinderbox = false;
    }
    EXPECT_EQ(lastSent(), expected.toJson()) << tier.value_or("<unset>");
    EXPECT_EQ(scheduler_.pendingCount(), 0u);
    model_.reset();
  }
}

TEST_F(ToolSettingsViewModelTest, NothingIsSavedUntilTheDaemonsSettingsHaveBeenRead) {
  serveNothing();
  updater_ = true;
  ToolSettingsViewModel& model = make("beta");
  EXPECT_FALSE(model.settingsLoaded());
  EXPECT_EQ(model.statusMessage(), "Using default settings (core tools enabled; calendar disabled)");
  EXPECT_EQ(model.helperToolEnabled(), (SwitchMap{{"calendar", false}}));
  EXPECT_FALSE(model.requireExplicitToolEnable());
  EXPECT_EQ(model.loggingSinkMode(), LoggingSinkMode::file);
  EXPECT_TRUE(model.autoDownloadUpdates());

  // Edits and a save while the daemon is still down: a second load is tried, nothing sent,
  // the user's values and the status stay. Reset is refused.
  model.setEnableMessaging(false);
  model.save();
  settle();
  model.resetToDefaults();
  settle();
  EXPECT_EQ(admin_.count("app_get_settings"), 2);
  EXPECT_EQ(admin_.count("app_save_settings"), 0);
  EXPECT_FALSE(model.enableMessaging());
  EXPECT_EQ(model.statusMessage(), "Using default settings (core tools enabled; calendar disabled)");

  // The daemon is up: the next save reads its settings and still sends nothing.
  serve(kReceived);
  model.save();
  settle();
  EXPECT_EQ(admin_.count("app_get_settings"), 3);
  EXPECT_EQ(admin_.count("app_save_settings"), 0);
  EXPECT_TRUE(model.settingsLoaded());
  EXPECT_EQ(model.statusMessage(), "");
  EXPECT_TRUE(model.enableMessaging());
  EXPECT_EQ(model.maxNotificationItems(), 50);
  model.reload();  // loaded: nothing to do
  settle();
  EXPECT_EQ(admin_.count("app_get_settings"), 3);

  model.setEnableMessaging(false);
  model.save();
  settle();
  ASSERT_EQ(admin_.count("app_save_settings"), 1);
  EXPECT_EQ(lastSent()["helperToolEnabled"], Json({{"calendar", false}, {"mail", true}, {"tbx_doc", true},
                                                   {"tbx_export", true}, {"tbx_nav", true}}));
}

TEST_F(ToolSettingsViewModelTest, ASlowRequestLeavesTheEventLoopRunningAndASaveAskedMeanwhileFollowsIt) {
  ToolSettingsViewModel& model = make("beta");
  admin_.hold();
  model.setMaxCustomTools(40);
  model.save();
  admin_.waitForStarted(2);  // the load, then this save
  EXPECT_TRUE(model.requestInFlight());

  // The GUI thread goes on: events run, and a save asked now waits for the first.
  bool eventRan = false;
  QMetaObject::invokeMethod(&model, [&] { eventRan = true; }, Qt::QueuedConnection);
  ASSERT_TRUE(test::processEventsUntil([&] { return eventRan; }));
  model.setMaxCustomTools(41);
  model.save();
  model.setMaxCustomTools(42);  // the follow-up sends the values of its own moment
  QCoreApplication::processEvents();
  EXPECT_EQ(admin_.count("app_save_settings"), 1);

  admin_.release();
  ASSERT_TRUE(test::processEventsUntil([&] { return admin_.count("app_save_settings") == 2; }));
  settle();
  const auto saves = admin_.saves();
  EXPECT_EQ(saves[0].params->at("settings")["maxCustomTools"], 40);
  EXPECT_EQ(saves[1].params->at("settings")["maxCustomTools"], 42);
  EXPECT_EQ(parseJson(*model.lastSavedPayloadData())["maxCustomTools"], 42);
  EXPECT_EQ(model.statusMessage(), "Saved.");
}

TEST_F(ToolSettingsViewModelTest, FlushingSendsThePendingSaveBeforeReturning) {
  ToolSettingsViewModel& model = make("beta");
  model.setEnableAgentCoordination(false);
  model.scheduleAutoSave();
  model.flushPendingSave();
  ASSERT_EQ(admin_.count("app_save_settings"), 1);
  EXPECT_EQ(lastSent()["enableAgentCoordination"], false);
  EXPECT_EQ(model.statusMessage(), "Saved.");
  scheduler_.advance(1s);  // the cancelled debounce does nothing
  settle();
  EXPECT_EQ(admin_.count("app_save_settings"), 1);
}

TEST_F(ToolSettingsViewModelTest, SwitchesOfToolsAndOperations) {
  admin_.answer = [](const std::string& method, const std::optional<Json>&) -> Json {
    if (method == "app_get_tool_catalog") {
      return Json{{"timestamp", 1},
                  {"tools",
                   {{{"name", "mail"},
                     {"description", ""},
                     {"parameters", Json::array()},
                     {"readOnly", false},
                     {"operations", {"read", "send"}}}}}};
    }
    if (method == "app_get_settings") return Json{{"requireExplicitToolEnable", true}};
    return Json{{"saved", true}};
  };
  fetcher_.loadToolMetadata();
  ASSERT_TRUE(test::processEventsUntil([&] { return !fetcher_.isLoading(); }));
  ToolSettingsViewModel& model = make("beta");

  EXPECT_FALSE(model.isEnabled("mail"));
  EXPECT_FALSE(model.isOperationEnabled("send", "mail"));
  EXPECT_EQ(model.operations("mail"), (std::vector<std::string>{"read", "send"}));
  EXPECT_TRUE(model.operations("absent").empty());

  int helperChanges = 0;
  int operationChanges = 0;
  QObject::connect(&model, &ToolSettingsViewModel::helperToolEnabledChanged, [&] { ++helperChanges; });
  QObject::connect(&model, &ToolSettingsViewModel::operationEnabledChanged, [&] { ++operationChanges; });
  model.setToolEnabledConsideringOperations(true, "mail");
  EXPECT_EQ(helperChanges, 1);
  EXPECT_EQ(operationChanges, 2);
  EXPECT_TRUE(model.isOperationEnabled("read", "mail"));
  model.setOperationEnabled(false, "send", "mail");
  EXPECT_FALSE(model.isOperationEnabled("send", "mail"));
  EXPECT_TRUE(model.isEnabled("mail"));  // the checkbox leaves the tool's switch alone
  model.setToolEnabledConsideringOperations(false, "absent");
  EXPECT_EQ(operationChanges, 3);
  EXPECT_EQ(model.operationEnabled(), (SwitchMap{{"mail.read", true}, {"mail.send", false}}));
  EXPECT_EQ(model.toolNames(), (std::vector<std::string>{"mail"}));
}

TEST_F(ToolSettingsViewModelTest, TheLogsFolderIsOpenedOnlyWhenItExists) {
  ToolSettingsViewModel& model = make("beta");
  model.openLogsDirectory();
  EXPECT_TRUE(opened_.empty());
  const auto folder = home_.path() / ".local/state/QuarvelDorarov/logs";
  EXPECT_FALSE(std::filesystem::exists(folder));  // not created either
  std::filesystem::create_directories(folder);
  model.openLogsDirectory();
  EXPECT_EQ(opened_, std::vector<std::filesystem::path>{folder});
}

}  // namespace
}  // namespace qd
