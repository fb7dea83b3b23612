#include "app/tinderbox_control.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include "app_test_support.h"
#include "daemon/admin/daemon_admin_api.h"

namespace qd {
namespace {

class IdleServices final : public ServiceManager {
 public:
  bool usesSystemd() const override { return true; }
  bool isServiceLoaded() override { return true; }
  bool isDaemonServiceRunning() override { return true; }
  ServiceRun run(ServiceVerb, bool) override { return {}; }
  std::optional<std::string> validateUnit(const std::filesystem::path&) override { return std::nullopt; }
};

// A scripted daemon executable in a temporary installation, a health monitor that answers
// what the test says, and the delays the control asked for.
class TinderboxControlTest : public ::testing::Test {
 protected:
  void SetUp() override { test::qtApplication(); }

  // The fake daemon runs `script` (sh) with its argument recorded in calls.log.
  void scriptDaemon(const std::string& script) {
    test::writeText(tree_.bin / "QuarvelDorarovDaemon",
                    "#!/bin/sh\necho \"$1\" >> '" + (tree_.temp / "calls.log").string() + "'\n" + script, true);
  }
  std::vector<std::string> calls() const {
    std::vector<std::string> lines;
    std::istringstream in(test::readText(tree_.temp / "calls.log"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  void make(platform::Environment extra = {}) {
    platform::Environment env = tree_.environment();
    for (const auto& [key, value] : extra.values()) env.set(key, value);
    context_ = std::make_unique<AppContext>(AppContext{env, tree_.bin, &alerts_});
    installer_ = std::make_unique<AppInstaller>(*context_, services_);
    HealthMonitor::Options options;
    options.fetchHealth = [this]() -> Json {
      if (!daemonUp_) throw DaemonAdminAPIError::timedOut();
      return Json{{"daemonPid", ::getpid()}, {"status", "healthy"}, {"lastUpdate", nowMs()},
                  {"uptime", 1},              {"tinderboxRestarts", 0}, {"connectedClients", 1},
                  {"tinderboxConnected", false}};
    };
    options.isTinderboxRunning = [this] { return noteAppRunning_.load(); };
    options.maybeAutoLaunchTinderbox = [this] { control_->maybeAutoLaunchTinderbox(); };
    options.schedule = [](std::chrono::milliseconds, std::function<void()>) {};
    options.startPolling = false;
    monitor_ = std::make_unique<HealthMonitor>(*context_, services_, *installer_, std::move(options));
    TinderboxControl::Options controlOptions;
    controlOptions.schedule = [this](std::chrono::milliseconds delay, std::function<void()>) {
      delays_.push_back(delay);
    };
    controlOptions.runLimit = runLimit_;
    controlOptions.isTinderboxRunning = [this] {
      const bool running = noteAppRunning_.load();
      ++noteAppAsked_;  // after the answer is read, so a test that sees it may change the answer
      return running;
    };
    control_ = std::make_unique<TinderboxControl>(*context_, *monitor_, controlOptions);
  }

  static std::int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  }

  // Runs one helper and waits for its outcome.
  bool runHelper(const std::string& argument, const std::string& title) {
    std::optional<bool> outcome;
    auto connection = QObject::connect(control_.get(), &TinderboxControl::helperRunFinished,
                                       [&](bool succeeded) { outcome = succeeded; });
    control_->runDaemonHelper(argument, title);
    EXPECT_TRUE(test::processEventsUntil([&] { return outcome.has_value(); }));
    QObject::disconnect(connection);
    QCoreApplication::processEvents();  // the alert is posted
    return outcome.value_or(false);
  }

  test::AppTree tree_;
  test::RecordingAlerts alerts_;
  IdleServices services_;
  std::unique_ptr<AppContext> context_;
  std::unique_ptr<AppInstaller> installer_;
  std::unique_ptr<HealthMonitor> monitor_;
  std::unique_ptr<TinderboxControl> control_;
  std::vector<std::chrono::milliseconds> delays_;
  std::atomic<bool> daemonUp_{false};
  std::atomic<bool> noteAppRunning_{false};
  std::atomic<int> noteAppAsked_{0};  // how often the control asked whether a note app runs
  // The application's own limit for a helper run: runs that end by themselves get all of it
  // on a busy machine. The hung-helper test sets a short one before make().
  std::chrono::milliseconds runLimit_ = daemonHelperRunLimit;
};

TEST_F(TinderboxControlTest, FailedRunsShowOneLine) {
  struct Case {
    const char* script;
    const char* message;
  };
  const Case cases[] = {
      {"echo '{\"level\":\"error\",\"message\":\"Fatal error\"}' >&2\necho 'Error: Tinderbox is not connected'\n"
       "echo 'trailing note'\nexit 1\n",
       "Error: Tinderbox is not connected"},
      {"exit 3\n", "Could not complete request (status 3). Use Email Diagnostics from the menu to send logs."},
      {"echo '{\"level\":\"error\"}'\nexit 4\n",
       "Could not complete request (status 4). Use Email Diagnostics from the menu to send logs."},
  };
  make();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    scriptDaemon(c.script);
    alerts_.alerts.clear();
    EXPECT_FALSE(runHelper(TinderboxControl::stopArgument, TinderboxControl::quitFailureTitle));
    ASSERT_EQ(alerts_.alerts.size(), 1u);
    EXPECT_EQ(alerts_.alerts[0].title, "Failed to Quit Tinderbox");
    EXPECT_EQ(alerts_.alerts[0].informativeText, c.message);
  }
  EXPECT_TRUE(delays_.empty());
}

TEST_F(TinderboxControlTest, ClosedConnectionIsRetriedOnce) {
  make();
  // First run: the daemon closed the connection; the retry succeeds.
  scriptDaemon("if [ -f '" + (tree_.temp / "once").string() + "' ]; then exit 0; fi\ntouch '" +
               (tree_.temp / "once").string() + "'\necho 'Error: Connection to daemon closed'\nexit 1\n");
  EXPECT_TRUE(runHelper(TinderboxControl::restartArgument, TinderboxControl::restartFailureTitle));
  EXPECT_TRUE(alerts_.alerts.empty());
  EXPECT_EQ(calls(), (std::vector<std::string>{"--restart-tinderbox", "--restart-tinderbox"}));
  EXPECT_EQ(delays_, (std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(2000)}));
}

TEST_F(TinderboxControlTest, HungHelperIsStoppedAndReported) {
  runLimit_ = std::chrono::seconds(2);
  make();
  scriptDaemon("exec sleep 600\n");
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(runHelper(TinderboxControl::restartArgument, TinderboxControl::restartFailureTitle));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
  ASSERT_EQ(alerts_.alerts.size(), 1u);
  EXPECT_EQ(alerts_.alerts[0].title, "Failed to Restart Tinderbox");
  EXPECT_NE(alerts_.alerts[0].informativeText.find("did not answer within 2 seconds"), std::string::npos);
}

TEST_F(TinderboxControlTest, MissingDaemonIsReported) {
  make();
  std::filesystem::remove(tree_.bin / "QuarvelDorarovDaemon");
  EXPECT_FALSE(runHelper(TinderboxControl::stopArgument, TinderboxControl::quitFailureTitle));
  ASSERT_EQ(alerts_.alerts.size(), 1u);
  EXPECT_EQ(alerts_.alerts[0].informativeText, "Daemon helper not found in installation.");
}

// "Open Tinderbox": nothing but a health check while a note app runs; otherwise the daemon
// starts the server, and the checks follow 0.75 s apart until it shows (at most 10).
TEST_F(TinderboxControlTest, OpenTinderbox) {
  make();
  scriptDaemon("exit 0\n");
  noteAppRunning_ = true;
  control_->startTinderbox();
  // The control's worker asks once it takes the request, however late a busy machine runs it.
  ASSERT_TRUE(test::processEventsUntil([&] { return noteAppAsked_ > 0; }));
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_TRUE(calls().empty());
  EXPECT_TRUE(delays_.empty());

  noteAppRunning_ = false;
  std::vector<std::function<void()>> polls;
  control_.reset();
  TinderboxControl::Options options;
  options.isTinderboxRunning = [] { return false; };
  options.schedule = [&](std::chrono::milliseconds delay, std::function<void()> block) {
    delays_.push_back(delay);
    if (delay == TinderboxControl::launchPollInterval) polls.push_back(std::move(block));
  };
  control_ = std::make_unique<TinderboxControl>(*context_, *monitor_, options);
  std::optional<bool> outcome;
  QObject::connect(control_.get(), &TinderboxControl::helperRunFinished, [&](bool ok) { outcome = ok; });
  control_->startTinderbox();
  ASSERT_TRUE(test::processEventsUntil([&] { return outcome.has_value(); }));
  EXPECT_EQ(calls(), std::vector<std::string>{"--start-tinderbox"});
  std::size_t ran = 0;
  while (!polls.empty()) {  // each schedules the next
    auto next = std::move(polls.front());
    polls.erase(polls.begin());
    next();
    ++ran;
  }
  EXPECT_EQ(ran, 10u);
  EXPECT_EQ(delays_.front(), std::chrono::milliseconds(2000));
  EXPECT_TRUE(alerts_.alerts.empty());
}

// The automatic launch happens once per run, only when the daemon has a server to run and
// no note app is open (which does not count as an attempt).
TEST_F(TinderboxControlTest, AutomaticLaunch) {
  const auto server = tree_.temp / "server";
  test::writeText(server, "#!/bin/sh\n", true);
  const auto notExecutable = tree_.temp / "plain";
  test::writeText(notExecutable, "x");
  struct Case {
    const char* name;
    platform::Environment env;
    bool noteAppOpen;
    bool launches;
  };
  const Case cases[] = {
      {"server configured", platform::Environment{{"TINDERBOX_MCP_PATH", server.string()}}, false, true},
      {"disabled", platform::Environment{{"TINDERBOX_MCP_PATH", server.string()}, {"TINDERBOX_DISABLE", "1"}}, false,
       false},
      {"server not executable", platform::Environment{{"TINDERBOX_MCP_PATH", notExecutable.string()}}, false, false},
      {"default server missing", platform::Environment{}, false, false},
      {"note app open", platform::Environment{{"TINDERBOX_MCP_PATH", server.string()}}, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    control_.reset();
    monitor_.reset();
    std::filesystem::remove(tree_.temp / "calls.log");
    scriptDaemon("exit 0\n");
    make(c.env);
    noteAppRunning_ = c.noteAppOpen;
    daemonUp_ = true;
    std::optional<bool> outcome;
    QObject::connect(control_.get(), &TinderboxControl::helperRunFinished, [&](bool ok) { outcome = ok; });
    for (int check = 0; check < 3; ++check) {
      monitor_->checkHealth();
      ASSERT_TRUE(test::processEventsUntil([&] { return monitor_->daemonAlive(); }));
    }
    if (c.launches) {
      ASSERT_TRUE(test::processEventsUntil([&] { return outcome.has_value(); }));
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(control_->autoLaunchAttempted(), c.launches);
    EXPECT_EQ(calls(), c.launches ? std::vector<std::string>{"--start-tinderbox"} : std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace qd
