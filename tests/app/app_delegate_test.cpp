// The launch sequence and termination, with a recording service manager.

#include "app/app_delegate.h"

#include <gtest/gtest.h>

#include "app_test_support.h"
#include "daemon/admin/daemon_admin_api.h"

namespace qd {
namespace {

class RecordingServices final : public ServiceManager {
 public:
  RecordingServices(std::vector<std::string>& log, bool systemd = true) : log_(log), systemd_(systemd) {}
  bool usesSystemd() const override { return systemd_; }
  bool isServiceLoaded() override { return false; }
  bool isDaemonServiceRunning() override { return true; }
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

  std::unique_ptr<AppDelegate> makeDelegate(AppContext context, bool answerInstall, bool systemd = true) {
    AppDelegate::Hooks hooks;
    hooks.askToInstall = [this, answerInstall] {
      log_.push_back("first-run");
      return answerInstall;
    };
    hooks.preStop = [this] { log_.push_back("pre-stop"); };
    hooks.evictConflicts = [this] { log_.push_back("conflicts"); };
    hooks.makeServiceManager = [this, systemd](const AppContext&) {
      return std::make_unique<RecordingServices>(log_, systemd);
    };
    hooks.monitorOptions.fetchHealth = []() -> Json { throw DaemonAdminAPIError::timedOut(); };
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
  declined.reset();

  // The closing alert says how the daemon was started.
  const std::pair<bool, std::string> managers[] = {
      {true, "The Quarvel Dorarov service has been installed and started.\nQuarvel Dorarov is now active."},
      {false,
       "The Quarvel Dorarov service has been installed. No service manager is running, so Quarvel Dorarov started "
       "the daemon itself; it runs while Quarvel Dorarov runs.\nQuarvel Dorarov is now active."},
  };
  for (const auto& [systemd, text] : managers) {
    std::filesystem::remove(tree_.context(nullptr).installedUnitPath());
    log_.clear();
    alerts_.texts.clear();
    auto accepted = makeDelegate(tree_.context(&alerts_), true, systemd);
    launch(*accepted);
    EXPECT_EQ(log_, (std::vector<std::string>{"first-run", "stop", "alert Installation Complete", "stop", "reload",
                                              "start", "conflicts"}))
        << systemd;
    EXPECT_EQ(alerts_.texts, std::vector<std::string>{text}) << systemd;
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
