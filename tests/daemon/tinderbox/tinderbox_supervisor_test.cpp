#include "daemon/tinderbox/tinderbox_supervisor.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>

#include "daemon/mcp/mcp_client.h"
#include "daemon/runtime/child_process.h"
#include "daemon/utilities/atomic_file.h"
#include "daemon/utilities/process_alive.h"
#include "support/installed_program.h"
#include "support/process_table.h"
#include "support/stderr_capture.h"
#include "support/temp_dir.h"
#include "support/test_io.h"

namespace qd {
namespace {

using namespace std::chrono_literals;
using test::runAwaitable;

const auto* const orphanReaper = testing::AddGlobalTestEnvironment(new test::OrphanReaper);

// A supervisor of the fixture server on the test's own clock; the back-off waits are
// recorded instead of slept.
struct Harness {
  asio::io_context io;
  test::TempDir dir;
  ManualClock clock;
  std::vector<double> delays;
  SupervisorSettings settings;
  std::shared_ptr<TinderboxSupervisor> supervisor;

  explicit Harness(std::string executable = QD_FIXTURE_SERVER) {
    settings.executablePath = std::move(executable);
    settings.pidFilePath = (dir / "daemon.pid").string();
    settings.requestTimeoutSeconds = 60;
    settings.connectionTimeoutSeconds = 30;
    settings.clock = &clock;
    settings.sleep = [this](double seconds) -> asio::awaitable<void> {
      delays.push_back(seconds);
      co_return;
    };
    settings.orphanGrace = 10s;
  }
  TinderboxSupervisor& make() {
    supervisor = TinderboxSupervisor::create(io.get_executor(), settings);
    return *supervisor;
  }
  ~Harness() {
    if (supervisor) runAwaitable(io, supervisor->shutdown());
  }
  std::optional<std::string> pidFileText() const { return readFileIfPresent(settings.pidFilePath); }
  void writePidFile(const std::string& text) const { writeFileAtomically(settings.pidFilePath, text); }

  // The kind of the SupervisorError `operation` fails with; none when it succeeds or fails
  // otherwise.
  std::optional<SupervisorError::Kind> failureOf(asio::awaitable<void> operation) {
    try {
      runAwaitable(io, std::move(operation));
    } catch (const SupervisorError& e) {
      return e.kind();
    } catch (const std::exception&) {
    }
    return std::nullopt;
  }
};

asio::awaitable<void> restartFor(std::shared_ptr<TinderboxSupervisor> supervisor, std::string reason) {
  co_await supervisor->restart(std::move(reason));
}

TEST(TinderboxSupervisor, RefusedRestartsStayInTheWindowAndKeepTheLimitClosed) {
  Harness h;
  auto& supervisor = h.make();
  runAwaitable(h.io, supervisor.startAndGetClient());
  // Five restarts at 0..4 s, refused ones at 100 and 200, one at 301 refused too (seven
  // records lie in the window), one at 304 allowed (4, 100, 200, 301 and 304 remain).
  const struct {
    int at;
    bool refused;
  } attempts[] = {{0, false}, {1, false}, {2, false}, {3, false}, {4, false},
                  {100, true}, {200, true}, {301, true}, {304, false}};
  int now = 0;
  for (const auto& attempt : attempts) {
    h.clock.advance(std::chrono::seconds(attempt.at - now));
    now = attempt.at;
    const auto failure = h.failureOf(restartFor(h.supervisor, "test"));
    if (attempt.refused) {
      EXPECT_EQ(failure, SupervisorError::Kind::restartRateLimitExceeded) << "at " << attempt.at;
    } else {
      EXPECT_EQ(failure, std::nullopt) << "at " << attempt.at;
    }
  }
  EXPECT_EQ(supervisor.getRestartCount(), 9);
  // Every restart that went ahead followed a successful spawn: one second each.
  EXPECT_EQ(h.delays, std::vector<double>(6, 1.0));
  EXPECT_TRUE(supervisor.getTinderboxPID().has_value());
}

TEST(TinderboxSupervisor, TheHealthLoopBringsTheNoteAppBackOnceTheWindowAllows) {
  Harness h;
  auto& supervisor = h.make();
  runAwaitable(h.io, supervisor.startAndGetClient());
  // A crash loop: five restarts at 0 s fill the window, then the child is gone for good.
  for (int i = 0; i < 5; ++i) EXPECT_EQ(h.failureOf(restartFor(h.supervisor, "crash")), std::nullopt);
  runAwaitable(h.io, supervisor.stopTinderbox());
  // The loop's checks every 10 s are refused while the window is full, and leave no trace
  // in it: at 301 s the five restarts of 0 s have left it and the check restarts the app.
  for (int at = 10; at <= 300; at += 10) {
    h.clock.advance(10s);
    runAwaitable(h.io, supervisor.performHealthCheck());
    EXPECT_FALSE(supervisor.getTinderboxPID().has_value()) << "at " << at;
  }
  h.clock.advance(1s);
  runAwaitable(h.io, supervisor.performHealthCheck());
  EXPECT_TRUE(supervisor.getTinderboxPID().has_value());
  EXPECT_EQ(h.pidFileText(), std::to_string(supervisor.getTinderboxPID().value_or(0)));
  EXPECT_EQ(supervisor.getRestartCount(), 6);
}

TEST(TinderboxSupervisor, ARecordExactlyAtTheWindowsEdgeStillCounts) {
  Harness h("/nonexistent/server");
  auto& supervisor = h.make();
  for (int i = 0; i < 5; ++i) h.failureOf(restartFor(h.supervisor, "spawn fails"));
  h.clock.advance(300s);
  EXPECT_EQ(h.failureOf(restartFor(h.supervisor, "edge")), SupervisorError::Kind::restartRateLimitExceeded);
  h.clock.advance(1ms);
  EXPECT_EQ(h.failureOf(restartFor(h.supervisor, "past the edge")), std::nullopt);  // the spawn's own error
  EXPECT_EQ(supervisor.getRestartCount(), 7);
}

TEST(TinderboxSupervisor, RestartsWhoseSpawnFailsBackOffUpToSixteenSeconds) {
  Harness h("/nonexistent/server");
  auto& supervisor = h.make();
  for (int i = 0; i < 7; ++i) {
    h.clock.advance(100s);  // at most three attempts in any window: the limit stays open
    EXPECT_EQ(h.failureOf(restartFor(h.supervisor, "spawn fails")), std::nullopt);
  }
  EXPECT_EQ(h.delays, (std::vector<double>{1, 2, 4, 8, 16, 16, 16}));
  EXPECT_EQ(supervisor.consecutiveFailures(), 7);
  EXPECT_FALSE(supervisor.getTinderboxPID().has_value());
  EXPECT_FALSE(h.pidFileText().has_value());
}

TEST(TinderboxSupervisor, ThePidFileHoldsTheChildsPidAndGoesWithTheChild) {
  Harness h;
  auto& supervisor = h.make();
  auto client = runAwaitable(h.io, supervisor.startAndGetClient());
  ASSERT_TRUE(client);
  const auto pid = supervisor.getTinderboxPID();
  ASSERT_TRUE(pid.has_value());
  EXPECT_EQ(h.pidFileText(), std::to_string(*pid));
  struct stat info {};
  ASSERT_EQ(::stat(h.settings.pidFilePath.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  // A live child is handed out again, unchanged.
  EXPECT_EQ(runAwaitable(h.io, supervisor.startTinderbox()), client);
  EXPECT_EQ(runAwaitable(h.io, supervisor.startAndGetClient()), client);

  runAwaitable(h.io, supervisor.stopTinderbox());
  EXPECT_FALSE(h.pidFileText().has_value());
  EXPECT_FALSE(supervisor.getTinderboxPID().has_value());
  EXPECT_FALSE(isProcessAlive(*pid));

  runAwaitable(h.io, supervisor.startTinderbox());
  ASSERT_TRUE(h.pidFileText().has_value());
  runAwaitable(h.io, supervisor.shutdown());
  EXPECT_FALSE(h.pidFileText().has_value());

  // Shut down: nothing starts again, and a second shutdown does nothing.
  EXPECT_EQ(runAwaitable(h.io, supervisor.startAndGetClient()), nullptr);
  EXPECT_EQ(h.failureOf(restartFor(h.supervisor, "late")), SupervisorError::Kind::shuttingDown);
  try {
    runAwaitable(h.io, supervisor.startTinderbox());
    ADD_FAILURE() << "startTinderbox after shutdown succeeded";
  } catch (const SupervisorError& e) {
    EXPECT_EQ(e.kind(), SupervisorError::Kind::shuttingDown);
  }
  runAwaitable(h.io, supervisor.stopTinderbox());
  EXPECT_EQ(supervisor.getRestartCount(), 0);
}

TEST(TinderboxSupervisor, InvalidPidFilesAreRemovedWithAWarning) {
  for (const std::string text : {"abc", "0", "-5", "12x", ""}) {
    test::StderrCapture stderrCapture;
    Harness h;
    h.writePidFile(text);
    runAwaitable(h.io, h.make().cleanupOrphanedProcesses());
    EXPECT_FALSE(h.pidFileText().has_value()) << text;
    EXPECT_NE(stderrCapture.text().find("Invalid PID in file, removing"), std::string::npos) << text;
  }
}

TEST(TinderboxSupervisor, OrphanCleanUpSignalsOnlyAProcessThatRunsTheServer) {
  // An unrelated live process named by the file (a reused pid) is left alone.
  SpawnOptions sleeper = spawnOptions("/bin/sleep", {"1000"});
  sleeper.stdinMode = sleeper.stdoutMode = sleeper.stderrMode = StdioMode::null;
  auto unrelated = ChildProcess::spawn(sleeper);
  {
    Harness h;
    h.writePidFile("  " + std::to_string(unrelated->pid()) + " \n");
    runAwaitable(h.io, h.make().cleanupOrphanedProcesses());
    EXPECT_FALSE(h.pidFileText().has_value());
    EXPECT_FALSE(unrelated->hasExited());
  }

  // An orphaned server from an earlier run is terminated; the spawn then follows. It answers
  // a ping first, so its SIGTERM handler is set up by then and ends it, however quickly the
  // clean-up comes.
  SpawnOptions server = spawnOptions(QD_FIXTURE_SERVER);
  server.stderrMode = StdioMode::null;
  auto orphan = ChildProcess::spawn(server);
  UniqueFd orphanIn = orphan->takeStdin(), orphanOut = orphan->takeStdout();
  const std::string ping = R"({"jsonrpc":"2.0","id":1,"method":"ping"})" "\n";
  ASSERT_EQ(::write(orphanIn.get(), ping.data(), ping.size()), static_cast<ssize_t>(ping.size()));
  ASSERT_NE(test::readFrom(orphanOut.get(), true), "");
  {
    Harness h;
    h.writePidFile(std::to_string(orphan->pid()));
    auto client = runAwaitable(h.io, h.make().start());
    EXPECT_TRUE(client);
    EXPECT_EQ(orphan->reap(), (ExitStatus{false, 0}));
    EXPECT_NE(h.supervisor->getTinderboxPID(), orphan->pid());
  }
}

TEST(TinderboxSupervisor, AScriptServerIsRecognisedByItsCommandLine) {
  test::TempDir scripts;
  const auto script = scripts / "server.sh";
  std::ofstream(script) << "sleep 1000; :\n";
  SpawnOptions options = spawnOptions("/bin/sh", {script.string()});
  options.stdinMode = options.stdoutMode = options.stderrMode = StdioMode::null;
  auto child = ChildProcess::spawn(options);
  // The kernel lets the spawner go on before it has set the new command line up.
  const std::string cmdline = "/proc/" + std::to_string(child->pid()) + "/cmdline";
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (readFileIfPresent(cmdline).value_or("").find(script.string()) == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_TRUE(processRunsServer(child->pid(), script.string()));
  EXPECT_TRUE(processRunsServer(child->pid(), "/bin/sh"));
  EXPECT_FALSE(processRunsServer(child->pid(), (scripts / "other.sh").string()));
}

TEST(TinderboxSupervisor, ASpawnThatOutlivesItsStartLimitStopsItsChild) {
  // The "server" writes its pid to the file given as its document, then never answers.
  test::TempDir scripts;
  const auto script = scripts / "silent-server";
  {
    std::ofstream out(script);
    out << "#!/bin/sh\necho $$ > \"$1\"\nexec sleep 1000\n";
  }
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  Harness h(script.string());
  h.settings.connectionTimeoutSeconds = 1;
  h.settings.document = (scripts / "child.pid").string();
  auto& supervisor = h.make();
  // The start goes one io step at a time until the child is there: the spawn is one step,
  // the start limit's end a later one. The io thread then holds still while the child writes
  // its pid, so the limit cannot end it first however slowly a busy machine starts it.
  const std::vector<pid_t> before = test::childrenOf(::getpid());
  auto start = test::startAwaitable(h.io, supervisor.startAndGetClient());
  pid_t child = 0;
  test::runUntil(h.io, [&] {
    for (pid_t pid : test::childrenOf(::getpid())) {
      if (std::find(before.begin(), before.end(), pid) == before.end()) child = pid;
    }
    return child != 0 || start->done;
  });
  ASSERT_NE(child, 0) << "no child was started";
  const auto pidWritten = [&] { return readFileIfPresent(scripts / "child.pid").value_or("").ends_with("\n"); };
  ASSERT_TRUE(test::eventually(pidWritten)) << "the child never wrote its pid";
  EXPECT_EQ(std::stoi(*readFileIfPresent(scripts / "child.pid")), child);
  try {
    test::finishAwaitable(h.io, start);
    ADD_FAILURE() << "a silent server was accepted";
  } catch (const SupervisorError& e) {
    EXPECT_EQ(e.kind(), SupervisorError::Kind::timeout);
  }
  EXPECT_FALSE(isProcessAlive(child));  // stopped and reaped
  EXPECT_FALSE(supervisor.getTinderboxPID().has_value());
  EXPECT_FALSE(h.pidFileText().has_value());
}

asio::awaitable<void> startInto(std::shared_ptr<TinderboxSupervisor> supervisor,
                                std::shared_ptr<std::vector<std::shared_ptr<MCPClient>>> out, bool viaStart) {
  std::shared_ptr<MCPClient> client;
  if (viaStart) {
    client = co_await supervisor->startTinderbox();
  } else {
    client = co_await supervisor->startAndGetClient();
  }
  out->push_back(std::move(client));
}

TEST(TinderboxSupervisor, OverlappingStartsShareOneSpawn) {
  Harness h;
  h.make();
  auto clients = std::make_shared<std::vector<std::shared_ptr<MCPClient>>>();
  for (bool viaStart : {false, true, false}) {
    asio::co_spawn(h.io, startInto(h.supervisor, clients, viaStart), [](std::exception_ptr e) {
      if (e) ADD_FAILURE() << "a start failed";
    });
  }
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (clients->size() < 3 && std::chrono::steady_clock::now() < deadline) h.io.run_one_for(100ms);
  ASSERT_EQ(clients->size(), 3u);
  EXPECT_TRUE((*clients)[0]);
  EXPECT_EQ((*clients)[0], (*clients)[1]);
  EXPECT_EQ((*clients)[1], (*clients)[2]);
  EXPECT_EQ(h.supervisor->getTinderboxClient(), (*clients)[0]);
}

TEST(TinderboxSupervisor, TheHealthLoopRestartsAKilledChildAndAStoppedOne) {
  Harness h;
  h.settings.healthCheckInterval = 0.05;
  auto& supervisor = h.make();
  std::vector<std::shared_ptr<MCPClient>> handedOver;
  supervisor.setClientChangedHandler([&](std::shared_ptr<MCPClient> client) -> asio::awaitable<void> {
    handedOver.push_back(std::move(client));
    co_return;
  });
  auto first = runAwaitable(h.io, supervisor.startAndMonitor());
  ASSERT_TRUE(first);
  const pid_t firstPid = *supervisor.getTinderboxPID();

  const auto runUntil = [&](auto done) {
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    h.io.restart();
    while (!done() && std::chrono::steady_clock::now() < deadline) h.io.run_one_for(50ms);
    return done();
  };
  ::kill(firstPid, SIGKILL);
  ASSERT_TRUE(runUntil([&] { return !handedOver.empty(); }));
  ASSERT_TRUE(handedOver.back());
  EXPECT_NE(handedOver.back(), first);
  EXPECT_NE(supervisor.getTinderboxPID(), firstPid);
  EXPECT_EQ(h.pidFileText(), std::to_string(*supervisor.getTinderboxPID()));

  runAwaitable(h.io, supervisor.stopTinderbox());
  ASSERT_TRUE(runUntil([&] { return handedOver.size() >= 2; }));
  EXPECT_TRUE(handedOver.back());
  EXPECT_TRUE(supervisor.getTinderboxPID().has_value());
  EXPECT_EQ(supervisor.getRestartCount(), 2);
}

TEST(TinderboxSupervisor, AHealthCheckDuringARestartDoesNotRestartAgain) {
  // The server takes a moment to start, so checks every 10 ms fall inside the restart, when
  // the old child is gone and the new one not yet up.
  test::TempDir scripts;
  const auto script = scripts / "slow-server";
  {
    std::ofstream out(script);
    out << "#!/bin/sh\nsleep 0.5\nexec " << QD_FIXTURE_SERVER << "\n";
  }
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  Harness h(script.string());
  h.settings.healthCheckInterval = 0.01;
  auto& supervisor = h.make();
  ASSERT_TRUE(runAwaitable(h.io, supervisor.startAndMonitor()));
  runAwaitable(h.io, restartFor(h.supervisor, "manual"));
  ASSERT_TRUE(supervisor.getTinderboxPID().has_value());
  const auto settle = std::chrono::steady_clock::now() + 200ms;
  h.io.restart();
  while (std::chrono::steady_clock::now() < settle) h.io.run_one_for(10ms);
  EXPECT_EQ(supervisor.getRestartCount(), 1);
}

}  // namespace
}  // namespace qd
