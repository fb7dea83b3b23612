// The application as a program: started from the build tree's installation layout in a
// temporary HOME, offscreen, with no systemctl on PATH, so it runs the real daemon
// detached. And one admin call to the real daemon from a client installed beside it.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app/app_installer.h"
#include "app/service_manager.h"
#include "app_test_support.h"
#include "daemon/admin/admin_protocol.h"
#include "daemon/runtime/child_process.h"
#include "support/daemon_process.h"
#include "support/file_mode.h"

namespace qd {
namespace {

namespace fs = std::filesystem;

const fs::path kBin = QD_APP_BIN_FOLDER;

// Polls a condition every 20 ms until it holds or a generous limit passes.
bool eventually(const std::function<bool()>& condition, std::chrono::seconds limit = std::chrono::seconds(90)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class AppProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(temp_ / "empty-path");
    environment_ = test::DaemonProcess(temp_.path()).environment();
    environment_["PATH"] = (temp_ / "empty-path").string();  // no systemctl: the fallback
    environment_["QT_QPA_PLATFORM"] = "offscreen";
    fs::create_directories(environment_["XDG_RUNTIME_DIR"]);
    fs::permissions(environment_["XDG_RUNTIME_DIR"], fs::perms::owner_all);
  }

  void TearDown() override {
    apps_.clear();  // kills what is left
    if (auto pid = daemonPid()) ::kill(*pid, SIGKILL);
  }

  AppContext context() const { return AppContext{platform::Environment(environment_), kBin, nullptr}; }
  Configuration configuration() const { return context().configuration(); }

  void installUnit() {
    const AppContext app = context();
    DetachedServiceManager services(app);
    AppInstaller installer(app, services);
    ASSERT_TRUE(installer.installLaunchdPlist());
  }

  ChildProcess& startApp(const std::map<std::string, std::string>& extraEnvironment = {}) {
    SpawnOptions options = spawnOptions((kBin / "QuarvelDorarov").string());
    std::map<std::string, std::string> environment = environment_;
    environment.insert(extraEnvironment.begin(), extraEnvironment.end());
    options.environmentOverlay = environment;
    options.stdinMode = StdioMode::null;
    options.stdoutMode = StdioMode::null;
    apps_.push_back(ChildProcess::spawn(options));
    errors_.push_back(apps_.back()->takeStderr());
    ::fcntl(errors_.back().get(), F_SETFL, O_NONBLOCK);
    texts_.emplace_back();
    return *apps_.back();
  }

  // What app `i` has written to standard error so far.
  const std::string& errorText(std::size_t i) {
    char chunk[4096];
    for (ssize_t n; (n = ::read(errors_[i].get(), chunk, sizeof chunk)) > 0;) texts_[i].append(chunk, n);
    return texts_[i];
  }

  // The daemon of this HOME that health.json names, when it runs.
  std::optional<pid_t> daemonPid() const {
    const auto pid = healthFileDaemonPid(configuration().healthFilePath());
    if (!pid || !processRunsExecutable(*pid, kBin / "QuarvelDorarovDaemon")) return std::nullopt;
    return pid;
  }

  // Every daemon process started with this HOME.
  int daemonsOfThisHome() const {
    int n = 0;
    for (const auto& entry : fs::directory_iterator("/proc")) {
      const std::string name = entry.path().filename();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      if (!processRunsExecutable(std::stoi(name), kBin / "QuarvelDorarovDaemon")) continue;
      const std::string environ = test::readText(entry.path() / "environ");
      n += environ.find(std::string("HOME=") + temp_.string() + '\0') != std::string::npos;
    }
    return n;
  }

  bool daemonSocketExists() const { return fs::exists(configuration().socketPath()); }

  // The daemon of this HOME runs and answers on its socket.
  bool daemonListening() const {
    if (!daemonPid()) return false;
    try {
      test::SocketLineClient probe(configuration().socketPath());
      return true;
    } catch (const std::exception&) {
      return false;
    }
  }

  test::TempDir temp_{"app-proc"};
  std::map<std::string, std::string> environment_;
  std::vector<std::unique_ptr<ChildProcess>> apps_;
  std::vector<UniqueFd> errors_;
  std::vector<std::string> texts_;
};

TEST_F(AppProcessTest, StartsTheDaemonDetachedReachesItAndStopsItOnSigterm) {
  installUnit();
  // An output log of an earlier version, readable by all.
  const fs::path logs = configuration().logsDir();
  fs::create_directories(logs);
  test::writeText(logs / "daemon.log", "earlier\n");
  fs::permissions(logs / "daemon.log", fs::perms(0644));
  ChildProcess& app = [&]() -> ChildProcess& {
    test::ScopedUmask everyoneReads(022);
    return startApp();
  }();
  ASSERT_TRUE(eventually([&] { return daemonListening(); })) << errorText(0);
  const auto pid = daemonPid();
  ASSERT_TRUE(pid);
  EXPECT_EQ(::getsid(*pid), *pid) << "the daemon runs in a session of its own";
  EXPECT_EQ(test::fileMode(logs / "daemon-error.log"), 0600u);
  EXPECT_EQ(test::fileMode(logs / "daemon.log"), 0600u);
  EXPECT_EQ(test::readText(logs / "daemon.log").substr(0, 8), "earlier\n");

  app.signalGroup(SIGTERM);
  ASSERT_TRUE(app.waitForExit(std::chrono::seconds(90)));
  EXPECT_EQ(app.reap(), (ExitStatus{false, 0}));
  EXPECT_FALSE(processRunsExecutable(*pid, kBin / "QuarvelDorarovDaemon"));
  EXPECT_FALSE(daemonSocketExists());
  EXPECT_EQ(daemonsOfThisHome(), 0);
}

// The configuration is read once at launch: an out-of-range setting warns once, however
// many health checks, service runs and quits follow.
TEST_F(AppProcessTest, AnOutOfRangeSettingWarnsOnceForTheWholeRun) {
  installUnit();
  ChildProcess& app = startApp({{"TINDERBOX_MAX_CLIENTS", "0"}});
  ASSERT_TRUE(eventually([&] { return daemonListening(); })) << errorText(0);
  app.signalGroup(SIGTERM);
  ASSERT_TRUE(app.waitForExit(std::chrono::seconds(90)));
  EXPECT_EQ(app.reap(), (ExitStatus{false, 0}));
  const std::string& text = errorText(0);
  const std::string warning = "Warning: TINDERBOX_MAX_CLIENTS must be between 1 and 10000, got 0.";
  std::size_t count = 0;
  for (std::size_t at = text.find(warning); at != std::string::npos; at = text.find(warning, at + 1)) ++count;
  EXPECT_EQ(count, 1u) << text;
}

TEST_F(AppProcessTest, FiveLaunchesAtOnceLeaveOneApplicationAndOneDaemon) {
  installUnit();
  for (int i = 0; i < 5; ++i) startApp();
  ASSERT_TRUE(eventually([&] {
    int exited = 0;
    for (auto& app : apps_) exited += app->hasExited();
    return exited == 4;
  }));
  std::size_t survivor = 0;
  for (std::size_t i = 0; i < apps_.size(); ++i) {
    if (!apps_[i]->hasExited()) {
      survivor = i;
      continue;
    }
    EXPECT_EQ(apps_[i]->reap(), (ExitStatus{false, 0})) << errorText(i);
    EXPECT_EQ(errorText(i).find("the daemon"), std::string::npos) << "a second instance touched the service";
  }
  ASSERT_TRUE(eventually([&] { return daemonListening(); })) << errorText(survivor);
  EXPECT_EQ(daemonsOfThisHome(), 1);

  apps_[survivor]->signalGroup(SIGTERM);
  ASSERT_TRUE(apps_[survivor]->waitForExit(std::chrono::seconds(90)));
  EXPECT_EQ(daemonsOfThisHome(), 0);
}

TEST_F(AppProcessTest, AfterAKilledApplicationTheNextRestartsTheDaemonItFinds) {
  installUnit();
  ChildProcess& first = startApp();
  ASSERT_TRUE(eventually([&] { return daemonListening(); })) << errorText(0);
  const pid_t orphan = *daemonPid();
  // The orphaned daemon comes to this test, which reaps it as init would.
  ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  first.signalGroup(SIGKILL);
  first.reap();
  EXPECT_TRUE(processRunsExecutable(orphan, kBin / "QuarvelDorarovDaemon"));

  startApp();
  ASSERT_TRUE(eventually([&] {
    (void)::waitpid(orphan, nullptr, WNOHANG);
    const auto now = daemonPid();
    return now && *now != orphan && daemonListening();
  })) << errorText(1) << "\nhealth: " << test::readText(configuration().healthFilePath()) << "\nlog: "
      << test::readText(configuration().daemonErrorLogPath());
  EXPECT_FALSE(processRunsExecutable(orphan, kBin / "QuarvelDorarovDaemon"));
  EXPECT_EQ(daemonsOfThisHome(), 1);
}

// The daemon admits only the application beside its own executable: a client installed
// there as QuarvelDorarov gets the real daemon's health record.
TEST_F(AppProcessTest, TheRealDaemonAnswersTheApplicationBesideIt) {
  const fs::path bin = temp_ / "inst" / "bin";
  fs::create_directories(bin);
  fs::copy_file(QD_DAEMON_EXECUTABLE, bin / "QuarvelDorarovDaemon");
  fs::copy_file(QD_ADMIN_TEST_PEER, bin / "QuarvelDorarov");
  SpawnOptions options = spawnOptions((bin / "QuarvelDorarovDaemon").string(), {"--daemon"});
  options.environmentOverlay = environment_;
  options.stdinMode = options.stdoutMode = options.stderrMode = StdioMode::null;
  auto daemon = ChildProcess::spawn(options);
  const std::string adminSocket = DaemonAdminXPCProtocol::socketPathBeside(configuration().socketPath());
  ASSERT_TRUE(eventually([&] { return fs::exists(configuration().socketPath()); }));
  ASSERT_TRUE(eventually([&] { return fs::exists(adminSocket); }));

  SpawnOptions client = spawnOptions((bin / "QuarvelDorarov").string(), {adminSocket, "request"});
  client.stdinMode = StdioMode::null;
  client.stderrMode = StdioMode::null;
  auto peer = ChildProcess::spawn(client);
  UniqueFd out = peer->takeStdout();
  std::string line;
  char chunk[4096];
  for (ssize_t n; (n = ::read(out.get(), chunk, sizeof chunk)) > 0;) line.append(chunk, n);
  peer->reap();
  const Json health = Json::parse(line);
  EXPECT_EQ(health["daemonPid"], daemon->pid()) << line;
  EXPECT_TRUE(health.contains("lastUpdate")) << line;

  daemon->signalGroup(SIGTERM);
  EXPECT_TRUE(daemon->waitForExit(std::chrono::seconds(90)));
  daemon->reap();
}

}  // namespace
}  // namespace qd
