#include "daemon/cli/mode_table.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "daemon/cli/daemon_mode.h"
#include "support/daemon_process.h"
#include "support/temp_dir.h"

namespace qd {
namespace {

TEST(ModeTable, TheTablesOrderDecidesNotTheCommandLines) {
  struct Case {
    std::vector<std::string> args;
    ExecutionMode mode;
  };
  const Case cases[] = {
      {{"prog"}, ExecutionMode::defaultMode},
      {{"prog", "--verbose"}, ExecutionMode::defaultMode},
      {{"prog", "--help"}, ExecutionMode::help},
      {{"prog", "-h"}, ExecutionMode::help},
      {{"prog", "--client", "-h"}, ExecutionMode::client},
      {{"prog", "--stop-tinderbox", "--daemon"}, ExecutionMode::daemon},
      {{"prog", "--help", "--daemon"}, ExecutionMode::daemon},
      {{"prog", "--client", "--profile", "--daemon"}, ExecutionMode::daemon},
      {{"prog", "--tier", "--daemon"}, ExecutionMode::daemon},
      {{"prog", "--notify", "--agents", "a"}, ExecutionMode::notify},
      {{"prog", "--sync-hook"}, ExecutionMode::syncHook},
      {{"prog", "--restart-tinderbox"}, ExecutionMode::restartTinderbox},
      {{"prog", "--start-tinderbox"}, ExecutionMode::startTinderbox},
      {{"prog", "--stop-tinderbox"}, ExecutionMode::stopTinderbox},
      {{"prog", "--DAEMON"}, ExecutionMode::defaultMode},
  };
  for (const Case& c : cases) EXPECT_EQ(executionMode(c.args), c.mode) << c.args.back();
}

TEST(UsageText, HasItsFixedShape) {
  const std::string_view text = usageText();
  EXPECT_EQ(text.size(), 2186u);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 41);
  EXPECT_NE(text.back(), '\n');
  std::vector<std::string> lines;
  std::string current;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  lines.push_back(current);
  ASSERT_EQ(lines.size(), 42u);
  EXPECT_EQ(lines[0], "Quarvel Dorarov - MCP request router and message bus");
  EXPECT_EQ(lines[3], "    quarvel-toolbox --daemon                Start daemon server (manages Tinderbox connection)");
  EXPECT_EQ(lines[5], "    quarvel-toolbox --notify --agents <name> --data '{json}'");
  EXPECT_EQ(lines[6], std::string(45, ' ') + "Send notification to agent(s)");
  EXPECT_EQ(lines[11], std::string(46, ' ') + "router-core|tbx-nav|tbx-doc|tbx-export)");
  EXPECT_EQ(lines[15], "    quarvel-toolbox --tier release|beta|dev Set feature tier threshold (default: release)");
  EXPECT_EQ(lines[18], "Examples:");
  EXPECT_EQ(lines[32], "    TINDERBOX_MCP_PATH              Path to Tinderbox executable");
  EXPECT_EQ(lines[41], "For more information, see README.md");
}

TEST(ErrorLogRotation, OnlyALogAboveTheThresholdMovesAside) {
  test::TempDir dir("rotate");
  const auto log = dir / "daemon-error.log";
  const auto backup = dir / "daemon-error.log.1";
  const int sink = ::open((dir / "sink").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(sink, 0);
  auto write = [](const std::filesystem::path& path, std::size_t size) {
    std::ofstream(path, std::ios::binary) << std::string(size, 'x');
  };
  EXPECT_FALSE(rotateErrorLog(log, 100, sink));  // no log at all
  write(log, 100);
  EXPECT_FALSE(rotateErrorLog(log, 100, sink));
  EXPECT_EQ(std::filesystem::file_size(log), 100u);
  write(backup, 3);
  write(log, 101);
  EXPECT_TRUE(rotateErrorLog(log, 100, sink));
  EXPECT_EQ(std::filesystem::file_size(backup), 101u);  // the older copy replaced
  // What is written to the reopened descriptor lands in a fresh log.
  ASSERT_EQ(::write(sink, "after\n", 6), 6);
  EXPECT_EQ(test::DaemonProcess::readFile(log), "after\n");
  ::close(sink);
}

TEST(Program, HelpAndTheDefaultModePrintTheUsage) {
  test::TempDir home("cli-usage");
  test::DaemonProcess program(home.path());
  program.start({"--help"});
  EXPECT_EQ(program.waitForExit(), 0);
  EXPECT_EQ(program.stdoutText(), std::string(usageText()) + "\n");
  program.start({});
  EXPECT_EQ(program.waitForExit(), 1);
  EXPECT_EQ(program.stdoutText(),
            "Menu bar app mode not yet implemented.\nUse --daemon or --client flags to run in specific modes.\n"
            "Use --help for usage information.\n" +
                std::string(usageText()) + "\n");
}

}  // namespace
}  // namespace qd
