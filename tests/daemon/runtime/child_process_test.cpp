#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include <asio/io_context.hpp>

#include "daemon/runtime/child_exit.h"
#include "daemon/runtime/child_process.h"
#include "daemon/runtime/collect_output.h"
#include "support/process_table.h"
#include "support/temp_dir.h"
#include "support/test_io.h"

namespace qd {
namespace {

using namespace std::chrono_literals;

const auto* const orphanReaper = testing::AddGlobalTestEnvironment(new test::OrphanReaper);

CollectedOutput runShell(const std::string& script, std::optional<std::map<std::string, std::string>> env = {}) {
  SpawnOptions options = spawnOptions("/bin/sh", {"-c", script});
  options.environmentOverlay = std::move(env);
  auto child = ChildProcess::spawn(options);
  auto out = collectUntilExit(*child, std::chrono::steady_clock::now() + 60s);
  child->reap();
  return out;
}

TEST(ChildProcess, StartsInItsOwnGroupWithDefaultSignalsAndOnlyItsStandardDescriptors) {
  // A descriptor opened without close-on-exec elsewhere in the program must not leak.
  const int leaky = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(leaky, 3);
  // The masks are read by the spawned process itself, after exec: read from another
  // process, the shell's mask shows the signals it blocks for a moment around each fork.
  auto out = runShell(
      "echo pgid=$(cut -d' ' -f5 /proc/$$/stat) pid=$$;"
      "ls /proc/$$/fd | tr '\\n' ' '; echo;"
      "exec grep -E '^Sig(Ign|Blk)' /proc/self/status");
  ::close(leaky);

  const auto& text = out.standardOutput;
  const auto pid = text.substr(text.find("pid=") + 4, text.find('\n') - text.find("pid=") - 4);
  EXPECT_NE(text.find("pgid=" + pid + " "), std::string::npos) << text;
  // No classic signal ignored (we ignore SIGPIPE); glibc keeps its two internal real-time ones.
  const auto ignored = std::stoull(text.substr(text.find("SigIgn:\t") + 8, 16), nullptr, 16);
  EXPECT_EQ(ignored & 0x7fffffffULL, 0u) << text;
  EXPECT_NE(text.find("SigBlk:\t0000000000000000"), std::string::npos) << text;
  EXPECT_EQ(text.find(" " + std::to_string(leaky) + " "), std::string::npos) << text;
}

TEST(ChildProcess, LaysTheEnvironmentOverlayOverTheInheritedOne) {
  ::setenv("QD_CHILD_TEST_INHERITED", "kept", 1);
  ::setenv("QD_CHILD_TEST_A", "old", 1);
  auto overlaid = runShell("echo $QD_CHILD_TEST_INHERITED,$QD_CHILD_TEST_A", std::map<std::string, std::string>{{"QD_CHILD_TEST_A", "1"}});
  EXPECT_EQ(overlaid.standardOutput, "kept,1\n");
  auto inherited = runShell("echo $QD_CHILD_TEST_INHERITED,$QD_CHILD_TEST_A");
  EXPECT_EQ(inherited.standardOutput, "kept,old\n");
}

TEST(ChildProcess, AMissingProgramFailsToSpawnNamingItWithTheSystemsText) {
  try {
    ChildProcess::spawn(spawnOptions("/nonexistent/program", {}));
    FAIL() << "spawn succeeded";
  } catch (const ChildProcessError& e) {
    EXPECT_EQ(e.errorNumber(), ENOENT);
    EXPECT_EQ(e.description(), "Could not start /nonexistent/program: No such file or directory");
  }
}

TEST(ChildProcess, ANulByteInThePathAnArgumentOrTheEnvironmentIsRefusedBeforeAnythingStarts) {
  const test::TempDir dir("nul");
  const std::string marker = (dir.path() / "ran").string();
  const std::string script = "touch " + marker;
  const std::string nul(1, '\0');
  struct Case {
    const char* name;
    SpawnOptions options;
    std::string error;
  };
  const auto withOverlay = [&](std::string name, std::string value) {
    SpawnOptions options = spawnOptions("/bin/sh", {"-c", script});
    options.environmentOverlay = std::map<std::string, std::string>{{std::move(name), std::move(value)}};
    return options;
  };
  SpawnOptions forked = spawnOptions("/bin/sh", {"-c", script, "x" + nul + "y"});
  forked.parentDeathSignal = SIGTERM;
  const Case cases[] = {
      {"program path", spawnOptions("/bin/sh" + nul + "ignored", {"-c", script}), "program path contains a NUL byte"},
      {"last argument", spawnOptions("/bin/sh", {"-c", script, "tail" + nul}), "argument contains a NUL byte"},
      {"script argument", spawnOptions("/bin/sh", {"-c", script + nul + "; echo cut"}), "argument contains a NUL byte"},
      {"overlay value", withOverlay("QD_NUL", "a" + nul + "b"), "environment entry contains a NUL byte"},
      {"overlay name", withOverlay("QD" + nul + "X", "a"), "environment entry contains a NUL byte"},
      {"fork and exec path", forked, "argument contains a NUL byte"},
  };
  for (const Case& c : cases) {
    try {
      ChildProcess::spawn(c.options);
      ADD_FAILURE() << c.name << ": spawn succeeded";
    } catch (const ChildProcessError& e) {
      EXPECT_EQ(e.description(), c.error) << c.name;
      EXPECT_EQ(e.errorNumber(), EINVAL) << c.name;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(marker));
  // Without a NUL the same program runs.
  runShell(script);
  EXPECT_TRUE(std::filesystem::exists(marker));
}

TEST(ChildProcess, ReadsBothPipesWhileTheChildRunsSoAChattyChildNeverStalls) {
  // 1 MiB on each pipe, far more than a pipe holds.
  auto out = runShell("head -c 1048576 /dev/zero; head -c 1048576 /dev/zero >&2; echo end");
  EXPECT_EQ(out.timedOut, false);
  EXPECT_EQ(out.standardOutput.size(), 1048576u + 4);
  EXPECT_EQ(out.standardError.size(), 1048576u);
}

TEST(ChildProcess, ReportsExitStatusAndSignal) {
  auto exited = ChildProcess::spawn(spawnOptions("/bin/sh", {"-c", "exit 3"}));
  EXPECT_EQ(exited->reap(), (ExitStatus{false, 3}));
  auto killed = ChildProcess::spawn(spawnOptions("/bin/sh", {"-c", "kill -9 $$"}));
  EXPECT_EQ(killed->reap(), (ExitStatus{true, SIGKILL}));
}

TEST(ChildProcess, TheDestructorKillsAndReapsAChildItsOwnerLeft) {
  pid_t pid = 0;
  {
    auto child = ChildProcess::spawn(spawnOptions("/bin/sleep", {"1000"}));
    pid = child->pid();
  }
  EXPECT_TRUE(test::processesInGroup(pid).empty());
  EXPECT_EQ(::kill(pid, 0), -1);
}

TEST(ChildProcess, StopKillsAGroupThatIgnoresTerminationAndReapsTheChild) {
  asio::io_context io;
  // The shell and its background sleep both ignore SIGTERM; "ready" says the trap is set.
  auto child = ChildProcess::spawn(spawnOptions("/bin/sh", {"-c", "trap '' TERM; sleep 1000 & echo ready; wait"}));
  const pid_t group = child->pid();
  UniqueFd out = child->takeStdout();
  char buffer[6] = {};
  ASSERT_EQ(::read(out.get(), buffer, 6), 6);

  bool warned = false;
  auto outcome = test::runAwaitable(io, stopProcessGroupAsync(*child, 100ms, [&] { warned = true; }));
  EXPECT_TRUE(outcome.wasRunning);
  EXPECT_TRUE(outcome.killed);
  EXPECT_TRUE(warned);
  EXPECT_EQ(outcome.status, (ExitStatus{true, SIGKILL}));
  EXPECT_TRUE(child->exitStatus().has_value());
  EXPECT_TRUE(test::groupEmptiesWithin(group, 60s));
}

TEST(ChildProcess, StopOfAChildThatEndsOnTerminationNeedsNoKill) {
  asio::io_context io;
  auto child = ChildProcess::spawn(spawnOptions("/bin/sleep", {"1000"}));
  auto outcome = test::runAwaitable(io, stopProcessGroupAsync(*child, 60s));
  EXPECT_TRUE(outcome.wasRunning);
  EXPECT_FALSE(outcome.killed);
  EXPECT_EQ(outcome.status, (ExitStatus{true, SIGTERM}));

  // A member that ignores SIGTERM must not outlive a leader that obeyed it.
  auto leader = ChildProcess::spawn(spawnOptions("/bin/sh", {"-c", "(trap '' TERM; exec sleep 1000) & echo ready; exec sleep 1000"}));
  const pid_t group = leader->pid();
  UniqueFd out = leader->takeStdout();
  char buffer[6] = {};
  ASSERT_EQ(::read(out.get(), buffer, 6), 6);
  auto leaderOnly = test::runAwaitable(io, stopProcessGroupAsync(*leader, 60s));
  EXPECT_FALSE(leaderOnly.killed);
  EXPECT_TRUE(test::groupEmptiesWithin(group, 10s));

  auto done = ChildProcess::spawn(spawnOptions("/bin/true", {}));
  ASSERT_TRUE(done->waitForExit(60s));
  auto quiet = test::runAwaitable(io, stopProcessGroupAsync(*done, 60s));
  EXPECT_FALSE(quiet.wasRunning);
  EXPECT_EQ(quiet.status, (ExitStatus{false, 0}));
}

}  // namespace
}  // namespace qd

namespace qd {
namespace {

// The parent-death signal fires when the thread that spawned the child ends; the fork path
// that sets it reports a program that cannot start like posix_spawn does.
TEST(ChildProcess, AChildThatAsksForAParentDeathSignalGetsItWhenItsSpawningThreadEnds) {
  SpawnOptions options = spawnOptions("/bin/sleep", {"1000"});
  options.stdinMode = options.stdoutMode = options.stderrMode = StdioMode::null;
  options.parentDeathSignal = SIGTERM;
  std::unique_ptr<ChildProcess> child;
  std::thread([&] { child = ChildProcess::spawn(options); }).join();
  ASSERT_TRUE(child);
  EXPECT_EQ(::getpgid(child->pid()), child->pid());
  EXPECT_EQ(child->reap(), (ExitStatus{true, SIGTERM}));

  SpawnOptions missing = spawnOptions("/nonexistent/program");
  missing.parentDeathSignal = SIGTERM;
  try {
    ChildProcess::spawn(missing);
    FAIL() << "spawn of a missing program succeeded";
  } catch (const ChildProcessError& e) {
    EXPECT_EQ(e.errorNumber(), ENOENT);
  }
}

TEST(ChildProcess, TheParentDeathPathKeepsPipesDefaultSignalsAndNoLeakedDescriptors) {
  const int leaky = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(leaky, 3);
  SpawnOptions options = spawnOptions("/bin/sh", {"-c", "read line; echo \"got $line\"; ls /proc/self/fd | wc -l"});
  options.parentDeathSignal = SIGTERM;
  auto child = ChildProcess::spawn(options);
  ::close(leaky);
  UniqueFd in = child->takeStdin();
  ASSERT_EQ(::write(in.get(), "hi\n", 3), 3);
  in.reset();
  auto out = collectUntilExit(*child, std::chrono::steady_clock::now() + 60s);
  EXPECT_TRUE(child->reap().success());
  // 0, 1, 2 and the descriptor ls opens on /proc/self/fd.
  EXPECT_EQ(out.standardOutput, "got hi\n4\n");
}

}  // namespace
}  // namespace qd
