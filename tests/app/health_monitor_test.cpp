#include "app/health_monitor.h"

#include <unistd.h>

#include <QSignalSpy>

#include <gtest/gtest.h>

#include "app_test_support.h"
#include "daemon/admin/daemon_admin_api.h"
#include "daemon/runtime/child_process.h"
#include "support/stderr_capture.h"

namespace qd {
namespace {

using Cause = DaemonAdminAPIError::Cause;

class ScriptedServices final : public ServiceManager {
 public:
  bool usesSystemd() const override { return true; }
  bool isServiceLoaded() override { return running; }
  bool isDaemonServiceRunning() override { return running; }
  ServiceRun run(ServiceVerb, bool) override { return {}; }
  std::optional<std::string> validateUnit(const std::filesystem::path&) override { return std::nullopt; }
  std::atomic<bool> running{false};
};

// Each check takes the next scripted answer: a record, or an error to throw.
class HealthMonitorTest : public ::testing::Test {
 protected:
  using Answer = std::function<Json()>;

  void SetUp() override { test::qtApplication(); }

  std::unique_ptr<HealthMonitor> makeMonitor(const AppContext& context, bool startPolling = false) {
    HealthMonitor::Options options;
    options.fetchHealth = [this] {
      Answer answer;
      {
        std::lock_guard lock(mutex_);
        ++fetches_;
        if (answers_.empty()) throw DaemonAdminAPIError::timedOut();
        answer = std::move(answers_.front());
        answers_.pop_front();
      }
      return answer();
    };
    options.isTinderboxRunning = [this] { return tinderboxRunning_.load(); };
    options.maybeAutoLaunchTinderbox = [this] { ++autoLaunches_; };
    options.schedule = [](std::chrono::milliseconds, std::function<void()> block) {
      QTimer::singleShot(0, QCoreApplication::instance(), std::move(block));
    };
    options.clock = &clock_;
    options.startPolling = startPolling;
    installer_ = std::make_unique<AppInstaller>(context, services_);
    return std::make_unique<HealthMonitor>(context, services_, *installer_, std::move(options));
  }

  std::int64_t nowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock_.wallNow().time_since_epoch()).count();
  }
  Json record(std::int64_t pid, std::int64_t ageMs = 0, std::int64_t clients = 1) const {
    return Json{{"daemonPid", pid},          {"status", "healthy"}, {"lastUpdate", nowMs() - ageMs},
                {"uptime", 3},               {"tinderboxRestarts", 0}, {"connectedClients", clients}};
  }
  void answer(Answer a) {
    std::lock_guard lock(mutex_);
    answers_.push_back(std::move(a));
  }
  void answerRecord(Json r) {
    answer([r] { return r; });
  }
  void answerError(DaemonAdminAPIError e) {
    answer([e]() -> Json { throw e; });
  }

  // Runs the queued checks and one last one whose record is told apart by its client
  // count: when it has been applied, so has everything before it (results come in order).
  void drain(HealthMonitor& monitor, int checks) {
    answerRecord(record(::getpid(), 0, 999));
    for (int i = 0; i <= checks; ++i) monitor.checkHealth();
    ASSERT_TRUE(test::processEventsUntil(
        [&] { return monitor.healthData() && monitor.healthData()->connectedClients == 999; }));
  }

  test::AppTree tree_;
  AppContext context_ = tree_.context(&alerts_);
  test::RecordingAlerts alerts_;
  ScriptedServices services_;
  std::unique_ptr<AppInstaller> installer_;
  ManualClock clock_;
  std::mutex mutex_;
  std::deque<Answer> answers_;
  int fetches_ = 0;
  std::atomic<bool> tinderboxRunning_{false};
  int autoLaunches_ = 0;
};

TEST_F(HealthMonitorTest, PublishesChangesOnlyInTheOrderChecksRan) {
  auto monitor = makeMonitor(context_);
  EXPECT_TRUE(monitor->daemonStartupInProgress());
  QSignalSpy dataChanges(monitor.get(), &HealthMonitor::healthDataChanged);
  QSignalSpy aliveChanges(monitor.get(), &HealthMonitor::daemonAliveChanged);
  QSignalSpy startupChanges(monitor.get(), &HealthMonitor::daemonStartupInProgressChanged);
  std::vector<std::optional<std::int64_t>> seen;  // connectedClients as each change arrived
  QObject::connect(monitor.get(), &HealthMonitor::healthDataChanged, [&] {
    seen.push_back(monitor->healthData() ? std::optional(monitor->healthData()->connectedClients) : std::nullopt);
  });

  const Json first = record(::getpid(), 0, 1);
  answerRecord(first);
  answerRecord(first);  // the same record again publishes nothing
  answerError(DaemonAdminAPIError::timedOut());
  answerRecord(record(::getpid(), 0, 2));
  drain(*monitor, 4);

  EXPECT_EQ(seen, (std::vector<std::optional<std::int64_t>>{1, std::nullopt, 2, 999}));
  EXPECT_EQ(dataChanges.count(), 4);
  EXPECT_EQ(aliveChanges.count(), 3);    // alive, not alive, alive
  EXPECT_EQ(startupChanges.count(), 1);  // the first live record ends the start-up state
  EXPECT_FALSE(monitor->daemonStartupInProgress());
  EXPECT_EQ(autoLaunches_, 4);  // after every fresh record with a live daemon
}

TEST_F(HealthMonitorTest, StaleOrDeadRecordsClearWhatTheyMust) {
  auto exited = ChildProcess::spawn(spawnOptions("/bin/true"));
  const pid_t dead = exited->pid();
  exited->reap();
  auto monitor = makeMonitor(context_);

  answerRecord(record(::getpid(), 15000));  // exactly at the limit: fresh
  drain(*monitor, 1);
  answerRecord(record(::getpid(), 15001));
  monitor->checkHealth();
  ASSERT_TRUE(test::processEventsUntil([&] { return !monitor->healthData(); }));
  EXPECT_FALSE(monitor->daemonAlive());

  // A fresh record of a daemon that has exited keeps the record but not the daemon, and
  // leaves the start-up flags alone.
  auto fresh = makeMonitor(context_);
  answerRecord(record(dead, 0, 999));
  fresh->checkHealth();
  ASSERT_TRUE(test::processEventsUntil([&] { return fresh->healthData().has_value(); }));
  EXPECT_FALSE(fresh->daemonAlive());
  EXPECT_TRUE(fresh->daemonStartupInProgress());

  // The note app: a recorded pid that has exited wins over "connected"; without one,
  // "connected" alone decides.
  Json withPid = record(::getpid(), 0, 5);
  withPid["tinderboxPid"] = dead;
  withPid["tinderboxConnected"] = true;
  Json connectedOnly = record(::getpid(), 0, 6);
  connectedOnly["tinderboxConnected"] = true;
  answerRecord(withPid);
  fresh->checkHealth();
  ASSERT_TRUE(test::processEventsUntil([&] { return fresh->healthData()->connectedClients == 5; }));
  EXPECT_FALSE(fresh->tinderboxAlive());
  answerRecord(connectedOnly);
  fresh->checkHealth();
  ASSERT_TRUE(test::processEventsUntil([&] { return fresh->healthData()->connectedClients == 6; }));
  EXPECT_TRUE(fresh->tinderboxAlive());
}

// Each step flips the flag, so each shows its check was applied.
TEST_F(HealthMonitorTest, OnlyADaemonThatHangsUpWhileRunningHasRejectedUs) {
  auto monitor = makeMonitor(context_);
  struct Step {
    std::optional<Cause> cause;  // none: the daemon answers
    bool serviceRunning;
    bool rejected;
  };
  const Step steps[] = {
      {Cause::closedWithoutReply, true, true},
      {Cause::connectFailed, true, false},  // nothing listening yet, as while it starts
      {Cause::closedWithoutReply, true, true},
      {Cause::closedWithoutReply, false, false},
      {Cause::closedWithoutReply, true, true},
      {std::nullopt, true, false},  // an answer clears it
  };
  for (const Step& step : steps) {
    services_.running = step.serviceRunning;
    if (step.cause) {
      answerError(DaemonAdminAPIError::connectionRejected("Connection closed by the daemon", *step.cause));
    } else {
      answerRecord(record(::getpid()));
    }
    monitor->checkHealth();
    ASSERT_TRUE(test::processEventsUntil([&] { return monitor->xpcAuthRejected() == step.rejected; }))
        << static_cast<int>(step.cause.value_or(Cause::none)) << step.serviceRunning;
  }
}

TEST_F(HealthMonitorTest, UnderATestHostNothingPollsAndAlertsGoToStandardError) {
  AppContext context = context_;
  context.environment.set(AppContext::testHostVariable, "1");
  auto monitor = makeMonitor(context, true);
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
  {
    std::lock_guard lock(mutex_);
    EXPECT_EQ(fetches_, 0);
  }
  test::StderrCapture captured;
  monitor->showError("Failed to Start Service", "details\nError: the real cause\n");
  EXPECT_EQ(captured.text(), "[HealthMonitor XCTest] Failed to Start Service: Error: the real cause\n");
  EXPECT_TRUE(alerts_.alerts.empty());

  // Outside a test host the same alert is posted to the GUI thread, sanitised.
  auto shown = makeMonitor(context_);
  shown->showError("Failed to Stop Service", "  ");
  ASSERT_TRUE(test::processEventsUntil([&] { return !alerts_.alerts.empty(); }));
  EXPECT_EQ(alerts_.alerts[0], (Alert{Alert::Style::warning, "Failed to Stop Service",
                                      "Operation failed. Use Email Diagnostics from the menu to send logs."}));
}

}  // namespace
}  // namespace qd
