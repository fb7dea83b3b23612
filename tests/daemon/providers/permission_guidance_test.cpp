#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <asio/io_context.hpp>

#include "daemon/core/provider_error.h"
#include "daemon/providers/permission_guidance.h"
#include "recording_script_runner.h"
#include "support/temp_dir.h"
#include "support/test_io.h"

namespace qd {
namespace {

using test::runAwaitable;

TEST(PermissionGuidance, TheAutomationTextForBookends) {
  EXPECT_EQ(PermissionGuidance::detailedAccessMessage("automation request to Bookends", {AccessRequirement::automation},
                                                      "Bookends", "E"),
            "Bookends access is required for automation request to Bookends, but it is not granted.\n"
            "Please:\n"
            "1. Open System Settings > Privacy & Security > Automation\n"
            "2. Find your terminal/app in the list and enable 'Bookends'\n"
            "5. Restart your terminal/app and try again\n"
            "Details: E");
}

TEST(PermissionGuidance, StepsInFixedOrderOnceEachAndNoEmptyDetails) {
  const auto text = PermissionGuidance::detailedAccessMessage(
      "x", {AccessRequirement::fullDiskAccess, AccessRequirement::calendars, AccessRequirement::calendars,
            AccessRequirement::automation},
      "App", "");
  EXPECT_EQ(text,
            "App access is required for x, but it is not granted.\n"
            "Please:\n"
            "1. Open System Settings > Privacy & Security > Automation\n"
            "2. Find your terminal/app in the list and enable 'App'\n"
            "3. Open System Settings > Privacy & Security > Calendars\n"
            "4. Add/enable your terminal/app in allowed applications\n"
            "3. Open System Settings > Privacy & Security > Full Disk Access\n"
            "4. Add/enable your terminal/app to allow Messages database access\n"
            "5. Restart your terminal/app and try again");
  EXPECT_EQ(PermissionGuidance::detailedAccessMessage("x", {AccessRequirement::contacts}, "A", std::nullopt)
                .find("Details"),
            std::string::npos);
  EXPECT_EQ(accessRequirementFromRaw("Full Disk Access"), AccessRequirement::fullDiskAccess);
  EXPECT_EQ(accessRequirementFromRaw("automation"), std::nullopt);
}

TEST(PermissionGuidance, PreflightGrantedAndRefused) {
  asio::io_context io;
  test::RecordingScriptRunner runner;
  EXPECT_EQ(runAwaitable(io, PermissionGuidance::checkAutomationAccess(runner, "Say \"Hi\" App")),
            (AccessCheckResult{true, "ok"}));
  ASSERT_EQ(runner.runs.size(), 1u);
  const ScriptRun& run = runner.runs[0];
  EXPECT_EQ(run.arguments, (std::vector<std::string>{"-e", "tell application \"Say \\\"Hi\\\" App\" to get name"}));
  EXPECT_EQ(run.lane, "permissions-say \"hi\" app");
  EXPECT_EQ(run.timeoutSeconds, 8.0);
  EXPECT_EQ(run.errorDomain, "PermissionGuidance");
  EXPECT_EQ(run.failureDescription, "Permission preflight failed");

  runner.fail("permissions-bookends", ProcessRunnerError("PermissionGuidance", 1, "Not authorized (-1743)"));
  try {
    runAwaitable(io, PermissionGuidance::ensureAutomationAccess(runner, "Bookends"));
    FAIL() << "no error";
  } catch (const ProviderError& e) {
    EXPECT_EQ(e.domain(), "PermissionGuidance");
    EXPECT_EQ(e.code(), 1);
    EXPECT_EQ(e.description(),
              PermissionGuidance::detailedAccessMessage("automation request to Bookends",
                                                        {AccessRequirement::automation}, "Bookends",
                                                        "Not authorized (-1743)"));
  }
}

TEST(PermissionGuidance, MessagesDatabaseMissingUnreadableAndReadable) {
  const test::TempDir home("home");
  const platform::Environment env{{"HOME", home.string()}};
  const std::string path = (home / "Library/Messages/chat.db").string();
  auto result = PermissionGuidance::checkMessagesDatabaseAccess(env);
  EXPECT_FALSE(result.granted);
  EXPECT_NE(result.message.find("\nDetails: chat.db not found at " + path), std::string::npos) << result.message;
  EXPECT_NE(result.message.find("Messages access is required for Messages database access"), std::string::npos);

  std::filesystem::create_directories(home / "Library/Messages");
  std::ofstream(path) << "db";
  EXPECT_EQ(PermissionGuidance::checkMessagesDatabaseAccess(env), (AccessCheckResult{true, "ok"}));
  if (::geteuid() != 0) {  // root reads every file
    ::chmod(path.c_str(), 0);
    result = PermissionGuidance::checkMessagesDatabaseAccess(env);
    EXPECT_NE(result.message.find("\nDetails: chat.db is not readable at " + path), std::string::npos);
  }
}

}  // namespace
}  // namespace qd
