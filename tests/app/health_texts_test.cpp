#include "app/health_texts.h"

#include <gtest/gtest.h>

#include "app_test_support.h"

namespace qd {
namespace {

TEST(HealthTextsTest, SanitizedUserMessageKeepsOneLineForTheUser) {
  const std::string failed = "Operation failed. Use Email Diagnostics from the menu to send logs.";
  const std::string communication =
      "Operation failed due to a daemon communication error. Use Email Diagnostics from the menu to send logs.";
  const std::pair<std::string, std::string> cases[] = {
      {"", failed},
      {" \n\t\n ", failed},
      {"plain", "plain"},
      {"first\n  second  \n\n", "second"},
      {"Error: one\nmiddle\nError: two\nlast", "Error: two"},
      {"{\"a\":1}\n{\"b\":2}", communication},
      {"{\"a\":1}\nplain", "plain"},  // fewer than 4 lines need two JSON lines
      {"a\n{\"x\":1}\nb\n[1]\nc", communication},  // 5 lines: 2 JSON lines are half
      {"a\nb\n{\"x\":1}\nc\nd", "d"},
      {"a\r\nb\u2028c\u0085d\fe", "e"},
      {"launchctl exited with status 5.\n\nCommand: x", "Command: x"},
  };
  for (const auto& [message, expected] : cases) EXPECT_EQ(sanitizedUserMessage(message), expected) << message;
}

TEST(HealthTextsTest, ReadLogTailKeepsTheLastNonEmptyLines) {
  test::TempDir temp{"log-tail"};
  const std::tuple<std::string, std::size_t, std::optional<std::string>> cases[] = {
      {"a\nb\nc\n", 2, "b\nc"},
      {"a\n\n\nb\r\n\r\nc", 12, "a\nb\nc"},
      {"a\u2029b\u2028c\vd", 3, "b\nc\nd"},
      {"a\nb", 0, ""},
      {"", 5, ""},
      {"bad \xff utf8", 5, std::nullopt},
  };
  for (const auto& [text, lines, expected] : cases) {
    test::writeText(temp / "log", text);
    EXPECT_EQ(readLogTail(temp / "log", lines), expected) << text;
  }
  EXPECT_EQ(readLogTail(temp / "absent", 3), std::nullopt);
}

TEST(HealthTextsTest, FailureSummaryNamesAMissingExecutableOrTheLogTail) {
  test::TempDir temp{"summary"};
  const auto log = temp / "daemon-error.log";
  const std::string missing = (temp / "gone" / "QuarvelDorarovDaemon").string();
  EXPECT_EQ(daemonStartupFailureSummary(missing, log),
            "The service unit points to a missing daemon executable:\n\n" + missing +
                "\n\nQuarvel Dorarov will rewrite the service path on the next start attempt. If it still fails, "
                "use Email Diagnostics from the menu.");
  EXPECT_EQ(sanitizedUserMessage(daemonStartupFailureSummary(missing, log)),
            "Quarvel Dorarov will rewrite the service path on the next start attempt. If it still fails, use Email "
            "Diagnostics from the menu.");
  EXPECT_EQ(daemonStartupFailureSummary(std::nullopt, log),
            "The service daemon stopped during startup. Use Restart Service or Email Diagnostics from the menu.");
  std::string lines;
  for (int i = 1; i <= 14; ++i) lines += "line " + std::to_string(i) + "\n";
  test::writeText(log, lines);
  const std::string summary = daemonStartupFailureSummary("/bin/sh", log);
  EXPECT_TRUE(summary.starts_with("The service daemon stopped during startup.\n\nRecent daemon log:\nline 3\n")) << summary;
  EXPECT_TRUE(summary.ends_with("line 14\n\nUse Email Diagnostics from the menu to send the full logs.")) << summary;
  test::writeText(log, "{\"level\":\"error\"}\n{\"level\":\"info\"}\n{\"level\":\"info\"}\n");
  EXPECT_EQ(sanitizedUserMessage(daemonStartupFailureSummary("/bin/sh", log)),
            "Operation failed due to a daemon communication error. Use Email Diagnostics from the menu to send logs.");
}

TEST(HealthTextsTest, RunFailureMessageShowsTheCommandAndItsOutput) {
  const std::vector<std::string> args{"--user", "start", "x.service"};
  EXPECT_EQ(serviceRunFailureMessage("systemctl", 5, args, "", " \n"),
            "systemctl exited with status 5.\n\nCommand: systemctl --user start x.service");
  EXPECT_EQ(serviceRunFailureMessage("systemctl", 1, args, " Failed to start x.service: Unit not found.\n", "out\n"),
            "systemctl exited with status 1.\n\nCommand: systemctl --user start x.service\n\nDetails:\n"
            "Failed to start x.service: Unit not found.\nout");
  EXPECT_EQ(sanitizedUserMessage(serviceRunFailureMessage("systemctl", 1, args, "why\n", "")), "why");
  EXPECT_EQ(sanitizedUserMessage(serviceRunFailureMessage("systemctl", 1, args, "", "")),
            "Command: systemctl --user start x.service");
}

}  // namespace
}  // namespace qd
