// The real daemon program, started in a temporary HOME and driven over its socket.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <thread>

#include "daemon/health/health_data.h"
#include "daemon/utilities/atomic_file.h"
#include "daemon/utilities/json.h"
#include "support/daemon_process.h"
#include "support/temp_dir.h"

namespace qd {
namespace {

namespace fs = std::filesystem;

Json request(test::SocketLineClient& client, const std::string& line) {
  std::optional<std::string> reply = client.request(line);
  EXPECT_TRUE(reply) << "no reply to " << line;
  return parseJson(reply.value_or("null"));
}

std::string toolText(const Json& reply) { return reply.at("content").at(0).at("text").get<std::string>(); }

class DaemonModeTest : public ::testing::Test {
 protected:
  test::TempDir home_{"daemon"};
  test::DaemonProcess daemon_{home_.path()};
};

TEST_F(DaemonModeTest, AnswersOverItsSocketAndStopsCleanlyOnSigterm) {
  daemon_.startAndWait();
  struct stat info {};
  ASSERT_EQ(::stat(daemon_.socketPath().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  test::SocketLineClient client(daemon_.socketPath());
  EXPECT_EQ(request(client, R"({"method":"initialize","_requestId":0})")["serverInfo"]["name"], "quarvel-toolbox");
  Json tools = request(client, R"({"method":"list_tools","_requestId":1})");
  EXPECT_EQ(tools["_requestId"], 1);
  ASSERT_GE(tools["tools"].size(), 2u);
  EXPECT_EQ(tools["tools"][0]["name"], "health_check");
  Json health = request(client, R"({"method":"call_tool","params":{"name":"health_check"},"_requestId":2})");
  EXPECT_EQ(health["_requestId"], 2);
  EXPECT_NE(toolText(health).find(R"("status": "unhealthy")"), std::string::npos) << health;
  EXPECT_NE(toolText(health).find(R"("connectedClients": 1)"), std::string::npos) << health;
  Json check = request(client, R"({"method":"call_tool","params":{"name":"daemon_self_check"},"_requestId":3})");
  EXPECT_NE(toolText(check).find(R"("isRunning": true)"), std::string::npos) << check;
  EXPECT_NE(toolText(check).find(R"("socketExists": true)"), std::string::npos) << check;
  EXPECT_EQ(request(client, "hello"), Json({{"error", "Internal error"}}));

  daemon_.signal(SIGTERM);
  EXPECT_EQ(daemon_.waitForExit(), 0) << daemon_.stderrText();
  EXPECT_FALSE(std::filesystem::exists(daemon_.socketPath()));
  const Json record = parseJson(test::DaemonProcess::readFile(daemon_.configuration().healthFilePath()));
  EXPECT_EQ(record["status"], "unhealthy");
}

TEST_F(DaemonModeTest, ServesConnectionsSideBySideAndEachInOrder) {
  daemon_.startAndWait();
  test::SocketLineClient first(daemon_.socketPath());
  test::SocketLineClient second(daemon_.socketPath());
  // Three requests in one burst on one connection, answered in the order sent.
  first.sendRaw("{\"method\":\"initialize\",\"_requestId\":1}\r\n{\"method\":\"list_tools\",\"_requestId\":2}\n"
                "{\"method\":\"call_tool\",\"params\":{\"name\":\"health_check\"},\"_requestId\":3}\n");
  second.sendLine(R"({"method":"call_tool","params":{"name":"daemon_self_check"},"_requestId":40})");
  EXPECT_EQ(parseJson(second.readLine().value_or("null"))["_requestId"], 40);
  for (int id = 1; id <= 3; ++id) EXPECT_EQ(parseJson(first.readLine().value_or("null"))["_requestId"], id);
  const std::string health = toolText(request(second, R"({"method":"call_tool","params":{"name":"health_check"}})"));
  EXPECT_NE(health.find(R"("connectedClients": 2)"), std::string::npos) << health;
}

TEST_F(DaemonModeTest, ASecondDaemonIsRefusedAndTouchesNothing) {
  daemon_.startAndWait();
  const pid_t firstPid = daemon_.pid();
  struct stat before {};
  ASSERT_EQ(::stat(daemon_.socketPath().c_str(), &before), 0);

  test::DaemonProcess second(home_.path());
  second.start();
  EXPECT_EQ(second.waitForExit(), 1);
  EXPECT_EQ(second.stdoutText(), "Error: Daemon already running with PID " + std::to_string(firstPid) +
                                     ". Stop it first or remove stale files at " +
                                     second.configuration().appSupportDir().string() + "\n");

  struct stat after {};
  ASSERT_EQ(::stat(daemon_.socketPath().c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  test::SocketLineClient client(daemon_.socketPath());
  EXPECT_EQ(request(client, R"({"method":"initialize","_requestId":5})")["_requestId"], 5);
}

TEST_F(DaemonModeTest, AKilledDaemonLeavesNothingThatStopsTheNextStart) {
  daemon_.startAndWait();
  daemon_.signal(SIGKILL);
  EXPECT_EQ(daemon_.waitForExit(), 128 + SIGKILL);
  ASSERT_TRUE(std::filesystem::exists(daemon_.socketPath()));  // left behind

  daemon_.startAndWait();
  test::SocketLineClient client(daemon_.socketPath());
  EXPECT_EQ(request(client, R"({"method":"initialize","_requestId":9})")["_requestId"], 9);
  // A second signal during the shutdown changes nothing: still an orderly end.
  daemon_.signal(SIGINT);
  daemon_.signal(SIGTERM);
  EXPECT_EQ(daemon_.waitForExit(), 0) << daemon_.stderrText();
}

TEST_F(DaemonModeTest, StartedWithSighupIgnoredAsUnderNohupItKeepsIgnoringIt) {
  daemon_.startThroughShell("trap '' HUP");
  daemon_.startAndWait();
  // Ignored, not caught: the kernel drops a SIGHUP before the daemon sees it.
  const std::string status = test::DaemonProcess::readFile("/proc/" + std::to_string(daemon_.pid()) + "/status");
  const auto ignored = std::stoull(status.substr(status.find("SigIgn:\t") + 8, 16), nullptr, 16);
  EXPECT_EQ((ignored >> (SIGHUP - 1)) & 1, 1u) << status;

  daemon_.signal(SIGHUP);
  test::SocketLineClient client(daemon_.socketPath());
  EXPECT_EQ(request(client, R"({"method":"initialize","_requestId":1})")["_requestId"], 1);
  EXPECT_TRUE(daemon_.isRunning());
  daemon_.signal(SIGTERM);
  EXPECT_EQ(daemon_.waitForExit(), 0) << daemon_.stderrText();
  EXPECT_FALSE(fs::exists(daemon_.socketPath()));
}

TEST_F(DaemonModeTest, AHealthFileLeftByAnEarlierDaemonNeverBlocksTheStart) {
  // After a reboot the recorded pid may be any process's (here this test's own, alive); a
  // crash mid-write or a hand edit leaves a record that cannot be read.
  HealthData reused;
  reused.daemonPid = ::getpid();
  const fs::path healthFile = daemon_.configuration().healthFilePath();
  for (const std::string& record : {reused.fileText(), std::string(R"({"connectedClients": 0, "daemonPid": 12)")}) {
    writeFileAtomically(healthFile, record, AtomicWriteOptions{}.creatingFolder());
    daemon_.startAndWait();
    bool replaced = false;
    for (int attempt = 0; attempt < 3000 && !replaced; ++attempt) {
      try {
        replaced = parseJson(test::DaemonProcess::readFile(healthFile))["daemonPid"] == daemon_.pid();
      } catch (const std::exception&) {
      }
      if (!replaced) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(replaced) << record;
    daemon_.signal(SIGTERM);
    EXPECT_EQ(daemon_.waitForExit(), 0) << daemon_.stderrText();
  }
}

TEST_F(DaemonModeTest, AFailedStartRemovesTheSocketItHadBound) {
  // Somebody's folder where the admin socket goes: the start fails once daemon.sock is bound.
  const fs::path socket = daemon_.socketPath();
  const fs::path adminSocket = socket.parent_path() / "admin.sock";
  fs::create_directories(adminSocket);
  daemon_.start();
  EXPECT_EQ(daemon_.waitForExit(), 1);
  EXPECT_TRUE(daemon_.stdoutText().starts_with("Error: ")) << daemon_.stdoutText();
  EXPECT_FALSE(fs::exists(socket));
  EXPECT_FALSE(fs::exists(daemon_.configuration().healthFilePath()));
  EXPECT_TRUE(fs::is_directory(adminSocket));
}

TEST_F(DaemonModeTest, AToolSettingsFileThatCannotBeReadRefusesTheStartAndIsLeftAsItIs) {
  const fs::path settings = daemon_.configuration().appSupportDir() / "tool-settings.json";
  // A truncated file that had every tool switched off, and a folder in the file's place.
  const std::string truncated = R"({"requireExplicitToolEnable": true, "helperToolEnabled": {"tbx_nav": fa)";
  const struct {
    std::function<void()> make;
    std::string reason;
    std::function<bool()> leftAsItIs;
  } cases[] = {
      {[&] { writeFileAtomically(settings, truncated, AtomicWriteOptions{}.creatingFolder()); }, "",
       [&] { return test::DaemonProcess::readFile(settings) == truncated; }},
      {[&] { fs::create_directories(settings); }, "Is a directory", [&] { return fs::is_directory(settings); }},
  };
  for (const auto& broken : cases) {
    fs::remove_all(settings);
    broken.make();
    daemon_.start();
    EXPECT_EQ(daemon_.waitForExit(), 1);
    const std::string out = daemon_.stdoutText();
    EXPECT_TRUE(out.starts_with("Error: Cannot use the tool settings file " + settings.string() + ": " + broken.reason))
        << out;
    EXPECT_NE(out.find("The file was left as it is"), std::string::npos) << out;
    // The daemon's error log, which the tray application shows when a start fails.
    EXPECT_NE(daemon_.stderrText().find("Cannot use the tool settings file"), std::string::npos);
    EXPECT_TRUE(broken.leftAsItIs()) << out;
    EXPECT_FALSE(fs::exists(daemon_.socketPath()));
  }

  // Moved away, the file stops nothing: no file means the default settings.
  fs::remove_all(settings);
  daemon_.startAndWait();
  test::SocketLineClient client(daemon_.socketPath());
  const Json tools = request(client, R"({"method":"list_tools","_requestId":1})");
  EXPECT_EQ(tools["tools"][0]["name"], "health_check");
}

}  // namespace
}  // namespace qd
