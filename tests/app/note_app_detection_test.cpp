#include "app/note_app_detection.h"

#include <gtest/gtest.h>

#include <map>

#include "app_test_support.h"
#include "daemon/runtime/child_process.h"

namespace qd {
namespace {

TEST(NoteAppDetectionTest, RulesOnOneProcess) {
  const std::filesystem::path ours = "/opt/qd/bin/QuarvelDorarov";
  struct Case {
    const char* executable;
    const char* name;
    bool noteApp;
  };
  const Case cases[] = {
      {"/usr/bin/tinderbox-x", "tinderbox-x", true},
      {"/usr/bin/x", "Tinderbox-router", false},
      {"/usr/bin/x", "TINDERBOX", true},
      {"/usr/bin/x", "sleep", false},
      {"/Apps/TinderBox.app/Contents/MacOS/run", "run", true},
      {"/Apps/Tinderbox 11.app/Contents/MacOS/router", "router", true},  // the path decides first
      {"/opt/qd/bin/QuarvelDorarov", "Tinderbox", false},                // ours, whatever its name
      {"", "tinderbox", true},                                          // exe unreadable: the name decides
  };
  for (const Case& c : cases) {
    EXPECT_EQ(isNoteAppProcess({0, c.executable, c.name}, {ours}), c.noteApp) << c.executable << " " << c.name;
  }
}

// Real processes: copies of sleep under telling names, and one of our own executable that
// calls itself "Tinderbox".
TEST(NoteAppDetectionTest, WalksThisUsersProcesses) {
  test::qtApplication();
  test::AppTree tree;
  const auto sleep = std::filesystem::path("/bin/sleep");
  const auto app = tree.bin / "QuarvelDorarov";
  std::filesystem::copy_file(sleep, tree.temp / "tinderbox-x");
  std::filesystem::copy_file(sleep, tree.temp / "Tinderbox-router");
  std::filesystem::copy_file(sleep, app);

  auto start = [](const std::string& executable, std::vector<std::string> arguments) {
    auto options = spawnOptions(executable, std::move(arguments));
    options.stdinMode = options.stdoutMode = options.stderrMode = StdioMode::null;
    return ChildProcess::spawn(options);
  };
  auto noteApp = start((tree.temp / "tinderbox-x").string(), {"600"});
  auto router = start((tree.temp / "Tinderbox-router").string(), {"600"});
  auto ours = start("/bin/bash", {"-c", "exec -a Tinderbox '" + app.string() + "' 600"});

  const std::vector<std::filesystem::path> own = {std::filesystem::weakly_canonical(app)};
  std::map<int, bool> seen;
  ASSERT_TRUE(test::processEventsUntil([&] {
    seen.clear();
    for (const RunningProcess& p : runningProcessesOfThisUser()) {
      // bash execs the copy under its new name; wait until it has.
      if (p.pid == ours->pid() && p.name != "Tinderbox") continue;
      if (p.pid == noteApp->pid() || p.pid == router->pid() || p.pid == ours->pid()) {
        seen[p.pid] = isNoteAppProcess(p, own);
      }
    }
    return seen.size() == 3;
  }, std::chrono::seconds(10)));
  EXPECT_TRUE(seen[noteApp->pid()]);
  EXPECT_FALSE(seen[router->pid()]);
  EXPECT_FALSE(seen[ours->pid()]);
}

}  // namespace
}  // namespace qd
