// The real daemon's admin channel: the daemon runs from an installation tree of the
// test's own, with a test client installed beside it as the application; that client's
// requests are answered, any other executable is closed unread, and a settings save from
// the application keeps the user's category policies.

#include <chrono>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "daemon/admin/admin_protocol.h"
#include "daemon/config/tool_settings_store.h"
#include "daemon/runtime/child_process.h"
#include "support/daemon_process.h"
#include "support/installed_program.h"
#include "support/temp_dir.h"

namespace qd {
namespace {

namespace fs = std::filesystem;

class AdminChannelIntegrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::installProgram(QD_DAEMON_EXECUTABLE, tree / "bin" / "QuarvelDorarovDaemon");
    test::installProgram(QD_ADMIN_TEST_PEER, tree / "bin" / "QuarvelDorarov");
    test::installProgram(QD_ADMIN_TEST_PEER, tree / "bin" / "quarvel-helper");
    daemon.useExecutable(tree / "bin" / "QuarvelDorarovDaemon");
    // The user's restrictions, stored before the daemon starts.
    ToolSettings settings;
    settings.defaultCategoryPolicy["tinderbox"] = CategoryPolicy{true, false};
    settings.agentCategoryPolicy["alice"]["router"] = CategoryPolicy{false, false};
    ToolSettingsStore(settingsPath()).save(settings);
    daemon.startAndWait();
    // The admin socket opens a moment after the daemon's socket answers.
    for (int attempt = 0; attempt < 3000 && !fs::exists(adminSocket()); ++attempt) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  fs::path settingsPath() const { return daemon.configuration().appSupportDir() / "tool-settings.json"; }
  std::string adminSocket() const { return DaemonAdminXPCProtocol::socketPathBeside(daemon.socketPath()); }

  // Runs an installed client once; its one line of output.
  std::string run(const fs::path& program, std::vector<std::string> arguments) {
    SpawnOptions options;
    options.executable = program.string();
    options.arguments = {adminSocket()};
    options.arguments.insert(options.arguments.end(), arguments.begin(), arguments.end());
    options.stdinMode = StdioMode::null;
    auto child = ChildProcess::spawn(options);
    UniqueFd out = child->takeStdout();
    std::string line = test::readFrom(out.get(), true);
    EXPECT_TRUE(child->waitForExit(std::chrono::seconds(120)));
    child->reap();
    return line;
  }
  Json call(const std::string& method, const std::string& params = "") {
    std::vector<std::string> arguments{"call", method};
    if (!params.empty()) arguments.push_back(params);
    const std::string line = run(tree / "bin" / "QuarvelDorarov", arguments);
    try {
      return parseJson(line);
    } catch (const std::exception&) {
      ADD_FAILURE() << method << ": " << line;
      return Json();
    }
  }

  test::TempDir tree{"admin-integration"};
  test::DaemonProcess daemon{tree / "home"};
};

TEST_F(AdminChannelIntegrationTest, TheApplicationIsAnsweredOthersAreRefusedAndASaveKeepsThePolicies) {
  ASSERT_TRUE(fs::exists(adminSocket()));
  EXPECT_EQ((fs::status(adminSocket()).permissions() & fs::perms::all), fs::perms::owner_read | fs::perms::owner_write);

  const Json health = call("app_get_health");
  EXPECT_EQ(health["daemonPid"], daemon.pid());

  const Json catalog = call("app_get_tool_catalog");
  ASSERT_TRUE(catalog["tools"].is_array());
  EXPECT_FALSE(catalog["tools"].empty());
  EXPECT_EQ(catalog["tools"][0]["name"], "health_check");
  EXPECT_EQ(catalog["tools"][0]["group"], "Router Core");

  Json settings = call("app_get_settings");
  EXPECT_TRUE(settings.contains("autoDownloadUpdates"));
  EXPECT_FALSE(settings.contains("defaultCategoryPolicy"));
  // What the application sends back: the record it read, one switch changed.
  settings.erase("autoDownloadUpdates");
  settings["maxConcurrentJobs"] = 7;
  EXPECT_EQ(call("app_save_settings", dumpJson(Json{{"settings", settings}})), (Json{{"saved", true}}));

  const Json stored = parseJson(test::DaemonProcess::readFile(settingsPath()));
  EXPECT_EQ(stored["maxConcurrentJobs"], 7);
  EXPECT_EQ(stored["defaultCategoryPolicy"], parseJson(R"({"tinderbox":{"read":true,"write":false}})"));
  EXPECT_EQ(stored["agentCategoryPolicy"], parseJson(R"({"alice":{"router":{"read":false,"write":false}}})"));

  // Another executable of the same user is closed before anything is read.
  EXPECT_EQ(run(tree / "bin" / "quarvel-helper", {"silent"}), "closed");
  EXPECT_EQ(run(tree / "bin" / "quarvel-helper", {"request"}), "error 16: XPC connection to daemon was rejected");

  daemon.signal(SIGTERM);
  EXPECT_EQ(daemon.waitForExit(), 0);
  EXPECT_FALSE(fs::exists(adminSocket()));  // removed at shutdown
  const std::string log = daemon.stderrText();
  EXPECT_NE(log.find("Rejected unauthorized XPC admin connection"), std::string::npos) << log;
}

}  // namespace
}  // namespace qd
