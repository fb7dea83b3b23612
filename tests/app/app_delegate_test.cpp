// The launch sequence and termination, with a recording service manager.

#include "app/app_delegate.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "app_test_support.h"
#include "daemon/admin/daemon_admin_api.h"

namespace qd {
namespace {

class RecordingServices final : public ServiceManager {
 public:
  RecordingServices(std::vector<std::string>& log, bool systemd = true, bool comesUp = true)
      : log_(log), systemd_(systemd), comesUp_(comesUp) {}
  bool usesSystemd() const override { return systemd_; }
  bool isServiceLoaded() override { return false; }
  bool isDaemonServiceRunning() override { return comesUp_; }
  ServiceRun run(ServiceVerb verb, bool) override {
    const char* names[] = {"restart", "stop", "reload", "start"};
    log_.push_back(names[static_cast<int>(verb)]);
    ServiceRun r;
    r.run.status = 0;
    return r;
  }
  std::optional<std::string> validateUnit(const std::filesystem::path&) override { return std::nullopt; }

 private:
  std::vector<std::string>& log_;
  bool systemd_;
  bool comesUp_;
};

class LoggedAlerts final : public AlertPresenter {
 public:
  explicit LoggedAlerts(std::vector<std::string>& log) : log_(log) {}
  void present(const Alert& alert) override {
    log_.push_back("alert " + alert.title);
    texts.push_back(alert.informativeText);
  }
  std::vector<std::string> texts;

 private:
  std::vector<std::string>& log_;
};

class AppDelegateTest : public ::testing::Test {
 protected:
  void SetUp() override { test::qtApplication(); }

  // `comesUp`: whether the daemon's service runs once started.
  // `handStarted`: a daemon started by hand runs throughout, up for an hour.
  std::unique_ptr<AppDelegate> makeDelegate(AppContext context, bool answerInstall, bool systemd = true,
                                            bool comesUp = true, bool handStarted = false) {
    AppDelegate::Hooks hooks;
    hooks.askToInstall = [this, answerInstall] {
      log_.push_back("first-run");
      return answerInstall;
    };
    hooks.preStop = [this] { log_.push_back("pre-stop"); };
    hooks.evictConflicts = [this] { log_.push_back("conflicts"); };
    hooks.makeServiceManager = [this, systemd, comesUp](const AppContext&) {
      return std::make_unique<RecordingServices>(log_, systemd, comesUp);
    };
    hooks.monitorOptions.fetchHealth = [handStarted]() -> Json {
      if (!handStarted) throw DaemonAdminAPIError::timedOut();
      AppHealthData running;
      running.daemonPid = ::getpid();
      running.lastUpdate = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
      running.uptime = 3600;
      return running.toJson();
    };
    hooks.monitorOptions.schedule = [](std::chrono::milliseconds, std::function<void()> block) {
      QTimer::singleShot(0, QCoreApplication::instance(), std::move(block));
    };
    return std::make_unique<AppDelegate>(std::move(context), std::move(hooks));
  }

  // Runs the launch and everything it posted.
  void launch(AppDelegate& delegate) {
    delegate.applicationDidFinishLaunching();
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  }

  std::vector<std::string> log_;
  LoggedAlerts alerts_{log_};
  test::AppTree tree_;
};

TEST_F(AppDelegateTest, AnInstalledServiceIsStartedBeforeTheConflictPass) {
  auto delegate = makeDelegate(tree_.context(&alerts_), false);
  {
    RecordingServices services(log_);
    const AppContext context = tree_.context(&alerts_);
    ASSERT_TRUE(AppInstaller(context, services).installLaunchdPlist());
    log_.clear();
  }
  launch(*delegate);
  ASSERT_TRUE(delegate->healthMonitor());
  EXPECT_EQ(log_, (std::vector<std::string>{"stop", "reload", "start", "conflicts"}));
  log_.clear();
  delegate->applicationWillTerminate();
  delegate->applicationWillTerminate();  // once only, however often quitting is asked
  EXPECT_EQ(log_, (std::vector<std::string>{"pre-stop", "stop"}));
}

TEST_F(AppDelegateTest, WithoutAServiceTheFirstRunQuestionComesThenTheConflictPass) {
  auto declined = makeDelegate(tree_.context(&alerts_), false);
  launch(*declined);
  EXPECT_EQ(log_, (std::vector<std::string>{"first-run", "conflicts"}));
  EXPECT_FALSE(std::filesystem::exists(tree_.context(nullptr).installedUnitPath()));
}

// After "Install" the closing alert says the daemon is active, so it comes only once the
// start has held, and says how the daemon was started; a start that fails (the daemon
// exits at once, e.g. on a tool-settings.json it cannot read, or on a daemon the user
// started by hand that is still running) shows its own alert alone.
TEST_F(AppDelegateTest, TheFirstRunsClosingAlertFollowsTheStartAndOnlyWhenItHeld) {
  const std::string logged = "Error: Cannot use the tool settings file tool-settings.json: Permission denied.";
  const std::string alreadyRunning = "Error: Daemon already running with PID " + std::to_string(::getpid()) + ".";
  const struct {
    bool systemd;
    bool comesUp;
    bool handStarted;
    std::string title;
    std::string text;  // the alert's text, or a part of it
  } cases[] = {
      {true, true, false, "Installation Complete",
       "The Quarvel Dorarov service has been installed and started.\nQuarvel Dorarov is now active."},
      {false, true, false, "Installation Complete",
       "The Quarvel Dorarov service has been installed. No service manager is running, so Quarvel Dorarov started "
       "the daemon itself; it runs while Quarvel Dorarov runs.\nQuarvel Dorarov is now active."},
      {true, false, false, "Service Did Not Stay Running", logged},
      {true, false, true, "Service Did Not Stay Running", alreadyRunning},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(tree_.context(nullptr).installedUnitPath());
    log_.clear();
    alerts_.texts.clear();
    test::writeText(tree_.context(nullptr).configuration().daemonErrorLogPath(),
                    (c.handStarted ? alreadyRunning : logged) + "\n");
    auto delegate = makeDelegate(tree_.context(&alerts_), true, c.systemd, c.comesUp, c.handStarted);
    delegate->applicationDidFinishLaunching();
    ASSERT_TRUE(test::processEventsUntil(
        [&] { return std::find(log_.begin(), log_.end(), "alert " + c.title) != log_.end(); }))
        << c.title;
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();  // whatever else the start posted
    EXPECT_EQ(log_, (std::vector<std::string>{"first-run", "stop", "stop", "reload", "start", "conflicts",
                                              "alert " + c.title}))
        << c.title << " " << c.systemd;
    ASSERT_EQ(alerts_.texts.size(), 1u) << c.title;
    EXPECT_NE(alerts_.texts[0].find(c.text), std::string::npos) << alerts_.texts[0];
  }
}

TEST_F(AppDelegateTest, UnderATestHostTheLaunchStopsAfterTheMonitorAndQuittingLeavesTheService) {
  AppContext context = tree_.context(&alerts_);
  context.environment.set(AppContext::testHostVariable, "");
  auto delegate = makeDelegate(context, true);
  launch(*delegate);
  EXPECT_TRUE(delegate->healthMonitor());
  delegate->applicationWillTerminate();
  EXPECT_EQ(log_, std::vector<std::string>{"pre-stop"});
}

TEST_F(AppDelegateTest, ASecondInstanceAsksTheFirstToShowItselfAndTouchesNothing) {
  auto first = makeDelegate(tree_.context(&alerts_), false);
  launch(*first);
  int activations = 0;
  QObject::connect(first.get(), &AppDelegate::activateRequested, [&] { ++activations; });
  log_.clear();

  auto second = makeDelegate(tree_.context(&alerts_), false);
  second->applicationDidFinishLaunching();
  EXPECT_FALSE(second->healthMonitor());
  ASSERT_TRUE(test::processEventsUntil([&] { return activations == 1; }));
  second->applicationWillTerminate();
  EXPECT_TRUE(log_ == std::vector<std::string>{"pre-stop"}) << log_.size();
}

}  // namespace
}  // namespace qd
