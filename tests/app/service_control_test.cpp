// Service control against recording fakes of systemctl and systemd-analyze first on PATH.

#include <gtest/gtest.h>

#include "app/health_monitor.h"
#include "app_test_support.h"
#include "daemon/admin/daemon_admin_api.h"
#include "daemon/runtime/child_process.h"
#include "support/file_mode.h"

namespace qd {
namespace {

namespace fs = std::filesystem;

const std::string kUnit = "vir.izerorudidodad.udodaz.service";

// systemctl's start under a limit of the test's own, which the test waits for when the start
// hangs; every other run under the usual limit, so that none of them times out on a busy
// machine.
class ShortStartLimit final : public ServiceManager {
 public:
  ShortStartLimit(const platform::Environment& environment, std::chrono::milliseconds startLimit)
      : usual_(environment), start_(environment, startLimit) {}
  bool usesSystemd() const override { return true; }
  bool isServiceLoaded() override { return usual_.isServiceLoaded(); }
  bool isDaemonServiceRunning() override { return usual_.isDaemonServiceRunning(); }
  ServiceRun run(ServiceVerb verb, bool silent) override {
    return (verb == ServiceVerb::start ? start_ : usual_).run(verb, silent);
  }
  std::optional<std::string> validateUnit(const std::filesystem::path& unitFile) override {
    return usual_.validateUnit(unitFile);
  }

 private:
  SystemdUserServiceManager usual_;
  SystemdUserServiceManager start_;
};

class ServiceControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::qtApplication();
    test::installRecordingFake(tree_.fakes, "systemctl");
    test::installRecordingFake(tree_.fakes, "systemd-analyze");
  }

  // With systemd's programs run under the usual limit, unless the test brings `services` of its own.
  void makeMonitor(std::unique_ptr<ServiceManager> services = nullptr) {
    services_ = services ? std::move(services) : std::make_unique<SystemdUserServiceManager>(context_.environment);
    installer_ = std::make_unique<AppInstaller>(context_, *services_);
    HealthMonitor::Options options;
    options.fetchHealth = []() -> Json { throw DaemonAdminAPIError::timedOut(); };
    options.schedule = [](std::chrono::milliseconds, std::function<void()> block) {
      QTimer::singleShot(0, QCoreApplication::instance(), std::move(block));
    };
    options.startPolling = false;
    monitor_ = std::make_unique<HealthMonitor>(context_, *services_, *installer_, std::move(options));
  }

  void answer(const std::string& verb, const std::string& output, int status = 0) {
    test::writeText(tree_.fakes / ("systemctl." + verb + ".out"), output);
    test::writeText(tree_.fakes / ("systemctl." + verb + ".status"), std::to_string(status));
  }
  void installUnit() {
    ASSERT_TRUE(installer_->installLaunchdPlist());
    fs::remove(tree_.fakes / "systemctl.log");
  }
  // What systemctl was asked, queries left out.
  std::vector<std::string> changes() const {
    std::vector<std::string> out;
    for (const std::string& run : test::recordedRuns(tree_.fakes, "systemctl")) {
      if (run.find("is-active") == std::string::npos) out.push_back(run);
    }
    return out;
  }
  int queries() const {
    int n = 0;
    for (const std::string& run : test::recordedRuns(tree_.fakes, "systemctl")) n += run.find("is-active") != std::string::npos;
    return n;
  }
  std::vector<fs::path> staleFiles() const {
    const fs::path folder = context_.configuration().appSupportDir();
    return {folder / "daemon.sock", folder / "daemon.lock", folder / "daemon.pid"};
  }
  void leaveStaleFiles() {
    for (const fs::path& file : staleFiles()) test::writeText(file, "old");
  }
  bool anyStaleFileLeft() const {
    for (const fs::path& file : staleFiles()) {
      if (fs::exists(file)) return true;
    }
    return false;
  }
  bool settled(bool failed) {
    return test::processEventsUntil(
        [&] { return !monitor_->daemonStartupInProgress() && monitor_->daemonStartupFailed() == failed; });
  }

  test::AppTree tree_;
  test::RecordingAlerts alerts_;
  AppContext context_ = tree_.context(&alerts_);
  std::unique_ptr<ServiceManager> services_;
  std::unique_ptr<AppInstaller> installer_;
  std::unique_ptr<HealthMonitor> monitor_;
};

TEST_F(ServiceControlTest, InstallRendersTheUnitAndLintsIt) {
  makeMonitor();
  ASSERT_TRUE(installer_->installLaunchdPlist());
  const fs::path unit = context_.installedUnitPath();
  EXPECT_EQ(test::recordedRuns(tree_.fakes, "systemctl"), std::vector<std::string>{"--user stop " + kUnit});
  EXPECT_EQ(test::recordedRuns(tree_.fakes, "systemd-analyze"), std::vector<std::string>{"--user verify " + unit.string()});
  EXPECT_NE(test::readText(unit).find("Environment=\"XDG_DATA_HOME=" + (tree_.home / "data").string() + "\""),
            std::string::npos);

  test::writeText(tree_.fakes / "systemd-analyze.verify.status", "1");
  EXPECT_FALSE(installer_->installLaunchdPlist());
  ASSERT_EQ(alerts_.alerts.size(), 1u);
  EXPECT_EQ(alerts_.alerts[0], (Alert{Alert::Style::warning, "Installation Failed",
                                      "Generated service unit is invalid:\n" + unit.string()}));
}

TEST_F(ServiceControlTest, ALoadedServiceIsOnlyRestarted) {
  makeMonitor();
  installUnit();
  answer("is-active", "active\n");
  leaveStaleFiles();
  monitor_->startDaemon();
  ASSERT_TRUE(settled(false));
  EXPECT_EQ(changes(), std::vector<std::string>{"--user restart " + kUnit});
  EXPECT_TRUE(anyStaleFileLeft());
  EXPECT_TRUE(alerts_.alerts.empty());
}

TEST_F(ServiceControlTest, AServiceNotLoadedIsCleanedUpReloadedAndStartedThenWaitedFor) {
  makeMonitor();
  installUnit();
  answer("is-active", "inactive\n", 3);
  leaveStaleFiles();
  {
    test::ScopedUmask everyoneReads(022);
    monitor_->startDaemon();
  }
  ASSERT_TRUE(settled(true));
  EXPECT_FALSE(anyStaleFileLeft());
  // The daemon's outputs, made before systemd opens them, so they are the user's alone.
  const fs::path logs = context_.configuration().logsDir();
  EXPECT_EQ(test::fileMode(logs), 0700u);
  EXPECT_EQ(test::fileMode(logs / "daemon.log"), 0600u);
  EXPECT_EQ(test::fileMode(logs / "daemon-error.log"), 0600u);
  EXPECT_EQ(changes(), (std::vector<std::string>{"--user stop " + kUnit, "--user daemon-reload", "--user start " + kUnit}));
  // The clean-up's question, the restart's question, then the 25 checks of the wait.
  EXPECT_EQ(queries(), 2 + HealthMonitor::startupWaitChecks);
  ASSERT_TRUE(test::processEventsUntil([&] { return !alerts_.alerts.empty(); }));
  EXPECT_EQ(alerts_.alerts[0],
            (Alert{Alert::Style::warning, "Service Did Not Stay Running",
                   "The service daemon stopped during startup. Use Restart Service or Email Diagnostics from the menu."}));
}

// A daemon started by hand is not the service's, but its files are not stale.
TEST_F(ServiceControlTest, TheCleanUpSparesTheFilesOfALiveDaemonHealthJsonNames) {
  makeMonitor();
  installUnit();
  answer("is-active", "inactive\n", 3);
  const fs::path handStarted = tree_.temp / "elsewhere" / "QuarvelDorarovDaemon";
  fs::create_directories(handStarted.parent_path());
  fs::copy_file("/bin/sleep", handStarted);
  auto daemon = ChildProcess::spawn(spawnOptions(handStarted.string(), {"600"}));
  ASSERT_TRUE(test::processEventsUntil([&] { return processRunsExecutable(daemon->pid(), handStarted); }));
  leaveStaleFiles();
  const fs::path health = context_.configuration().healthFilePath();
  test::writeText(health, "{\"daemonPid\": " + std::to_string(daemon->pid()) + "}");
  monitor_->startDaemon();
  ASSERT_TRUE(settled(true));
  for (const fs::path& file : staleFiles()) EXPECT_TRUE(fs::exists(file)) << file;

  daemon->signalGroup(SIGKILL);
  daemon->reap();
  monitor_->startDaemon();
  ASSERT_TRUE(settled(true));
  EXPECT_FALSE(anyStaleFileLeft());
}

TEST_F(ServiceControlTest, AFailingReloadIsReportedAndNothingStarts) {
  makeMonitor();
  installUnit();
  answer("is-active", "inactive\n", 3);
  answer("daemon-reload", "Failed to reload daemon: Access denied\n", 1);
  monitor_->startDaemon();
  ASSERT_TRUE(settled(true));
  EXPECT_EQ(changes(), (std::vector<std::string>{"--user stop " + kUnit, "--user daemon-reload", "--user daemon-reload"}));
  ASSERT_TRUE(test::processEventsUntil([&] { return !alerts_.alerts.empty(); }));
  EXPECT_EQ(alerts_.alerts[0], (Alert{Alert::Style::warning, "Failed to Start Service",
                                      "Failed to reload daemon: Access denied"}));
}

TEST_F(ServiceControlTest, AServiceWhileTheUnitIsMissingIsNotInstalled) {
  makeMonitor();
  // The installer puts the unit back first; once it cannot, the start fails quietly.
  fs::remove(tree_.bin / "QuarvelDorarovDaemon");
  monitor_->startDaemon();
  ASSERT_TRUE(settled(true));
  EXPECT_TRUE(changes().empty());
  ASSERT_EQ(alerts_.alerts.size(), 1u);
  EXPECT_EQ(alerts_.alerts[0].title, "Installation Failed");
}

TEST_F(ServiceControlTest, AHungSystemctlIsAFailedRunNotAFrozenApplication) {
  makeMonitor(std::make_unique<ShortStartLimit>(context_.environment, std::chrono::milliseconds(500)));
  installUnit();
  answer("is-active", "inactive\n", 3);
  test::writeText(tree_.fakes / "systemctl.start.hang", "");
  monitor_->startDaemon();
  ASSERT_TRUE(settled(true));
  ASSERT_TRUE(test::processEventsUntil([&] { return !alerts_.alerts.empty(); }));
  EXPECT_EQ(alerts_.alerts[0], (Alert{Alert::Style::warning, "Failed to Start Service",
                                      "Command: systemctl --user start " + kUnit}));
}

TEST_F(ServiceControlTest, StopAndRestartUseTheirOwnCommands) {
  makeMonitor();
  installUnit();
  answer("is-active", "active\n");
  monitor_->restartDaemon();
  ASSERT_TRUE(settled(false));
  answer("stop", "Failed to stop: Access denied\n", 1);
  monitor_->stopDaemon();
  ASSERT_TRUE(test::processEventsUntil([&] { return !alerts_.alerts.empty(); }));
  EXPECT_EQ(changes(), (std::vector<std::string>{"--user restart " + kUnit, "--user stop " + kUnit}));
  EXPECT_EQ(alerts_.alerts[0], (Alert{Alert::Style::warning, "Failed to Stop Service", "Failed to stop: Access denied"}));
  EXPECT_FALSE(monitor_->daemonStartupFailed());
}

TEST(ServiceManagerChoiceTest, SystemdOnlyWhenItsUserManagerAnswers) {
  test::AppTree tree;
  test::installRecordingFake(tree.fakes, "systemctl");
  const std::pair<std::string, bool> cases[] = {
      {"running\n", true}, {"degraded\n", true}, {"starting", true}, {"offline\n", false}, {"", false}, {" \n", false}};
  for (const auto& [state, systemd] : cases) {
    test::writeText(tree.fakes / "systemctl.is-system-running.out", state);
    test::writeText(tree.fakes / "systemctl.is-system-running.status", "1");
    EXPECT_EQ(chooseServiceManager(tree.context(nullptr))->usesSystemd(), systemd) << state;
  }
  AppContext noSystemctl = tree.context(nullptr);
  noSystemctl.environment.set("PATH", (tree.temp / "empty").string());
  EXPECT_FALSE(chooseServiceManager(noSystemctl)->usesSystemd());
}

}  // namespace
}  // namespace qd
