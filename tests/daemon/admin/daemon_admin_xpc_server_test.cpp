#include "daemon/admin/daemon_admin_xpc_server.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include <asio/io_context.hpp>

#include "daemon/core/socket_peer.h"
#include "support/fake_admin_daemon.h"
#include "support/stderr_capture.h"
#include "support/temp_dir.h"
#include "support/test_io.h"

namespace qd {
namespace {

using test::SocketPeer;

mode_t modeOf(const std::filesystem::path& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

// The test program itself plays the application: the policy names its own executable.
AdminPeerPolicy admittingThisProgram() {
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  AdminPeerPolicy policy;
  policy.daemonExecutableFolder = self.parent_path();
  policy.applicationName = self.filename().string();
  return policy;
}

class DaemonAdminXPCServerTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (server) server->invalidate();
  }

  void start(AdminPeerPolicy policy = admittingThisProgram()) {
    DaemonAdminXPCServerOptions options;
    options.peerPolicy = std::move(policy);
    options.socket.environment = platform::Environment{{"HOME", temp.string()}};
    server = DaemonAdminXPCServer::create(io.get_executor(), socketPath, daemon, options);
    server->resume();
  }

  std::optional<std::string> ask(SocketPeer& peer, const std::string& line) {
    peer.write(line + "\n");
    return peer.readLine();
  }

  std::vector<Json> warnings(const std::string& message) const {
    std::vector<Json> found;
    for (const std::string& line : capture.lines()) {
      Json parsed = Json::parse(line, nullptr, false);
      if (parsed.is_object() && parsed.value("message", "") == message) found.push_back(parsed);
    }
    return found;
  }

  test::StderrCapture capture;
  asio::io_context io{1};
  test::TempDir temp{"admin"};
  std::string socketPath = (temp / "run" / "admin.sock").string();
  std::shared_ptr<test::FakeAdminDaemon> daemon = std::make_shared<test::FakeAdminDaemon>(temp.path());
  std::shared_ptr<DaemonAdminXPCServer> server;
};

TEST_F(DaemonAdminXPCServerTest, AnswersTheApplicationWithSortedKeysByteForByte) {
  start();
  EXPECT_EQ(modeOf(socketPath), 0600u);
  EXPECT_EQ(modeOf(temp / "run"), 0700u);

  SocketPeer peer(io, socketPath);
  EXPECT_EQ(ask(peer, R"({"method":"app_get_health","id":1})"),
            R"({"id":1,"result":{"connectedClients":2,"daemonPid":4242,"lastUpdate":1700000000000,)"
            R"("status":"healthy","tinderboxConnected":false,"tinderboxRestarts":0,"uptime":12}})");
  const auto settings = ask(peer, R"({"id":2,"method":"app_get_settings"})");
  ASSERT_TRUE(settings);
  EXPECT_TRUE(settings->starts_with(R"({"id":2,"result":{"allowBroadcastNotifications":true,"autoDownloadUpdates":)"))
      << *settings;
  EXPECT_EQ(ask(peer, R"({"id":2,"method":"app_get_settings"})"), settings);
}

TEST_F(DaemonAdminXPCServerTest, FramingAndParameterErrorsAreRepliesOnTheSameConnection) {
  start();
  SocketPeer peer(io, socketPath);
  const std::pair<std::string, std::string> cases[] = {
      {"not json", R"({"error":"Invalid admin request","id":null})"},
      {R"([1,2])", R"({"error":"Invalid admin request","id":null})"},
      {R"({"id":"4","method":"app_get_health"})", R"({"error":"Invalid admin request","id":null})"},
      {R"({"id":4})", R"({"error":"Invalid admin request","id":4})"},
      {R"({"id":5,"method":"app_get_health","params":[1]})",
       R"({"error":"Invalid parameter: Invalid admin params JSON","id":5})"},
      {R"({"id":6,"method":"app_save_settings","params":"settings"})",
       R"({"error":"Invalid parameter: Invalid admin params JSON","id":6})"},
      {R"({"id":7,"method":"app_get_Health"})", R"({"error":"Invalid parameter: unknownMethod: app_get_Health","id":7})"},
      {R"({"id":8,"method":"app_save_settings","params":{}})",
       R"({"error":"Missing required parameter: settings","id":8})"},
      {R"({"id":9,"method":"app_save_settings","params":{"settings":{"maxNotificationItems":5}}})",
       R"({"id":9,"result":{"saved":true}})"},
  };
  for (const auto& [line, reply] : cases) EXPECT_EQ(ask(peer, line), reply) << line;
  EXPECT_EQ(daemon->queue.maxNotificationsPerAgent(), 5);
}

TEST_F(DaemonAdminXPCServerTest, RequestsOnOneConnectionRunTogetherAndRepliesCarryTheirIds) {
  start();
  daemon->holdHealth = true;
  SocketPeer peer(io, socketPath);
  peer.write(R"({"id":1,"method":"app_get_health"})" "\n" R"({"id":2,"method":"app_save_settings","params":{"settings":{}}})" "\n");
  EXPECT_EQ(peer.readLine(), R"({"id":2,"result":{"saved":true}})");
  EXPECT_EQ(daemon->healthCalls, 1);  // still waiting, and the save overtook it
  daemon->holdHealth = false;
  const auto first = peer.readLine();
  ASSERT_TRUE(first);
  EXPECT_TRUE(first->starts_with(R"({"id":1,"result":{"connectedClients":2,)")) << *first;
}

TEST_F(DaemonAdminXPCServerTest, AnswersDaemonUnavailableOnceTheDaemonIsGone) {
  start();
  SocketPeer peer(io, socketPath);
  std::weak_ptr<test::FakeAdminDaemon> weak = daemon;
  daemon.reset();
  EXPECT_TRUE(weak.expired());  // the server never kept it alive
  EXPECT_EQ(ask(peer, R"({"id":3,"method":"app_get_health"})"), R"({"error":"Daemon unavailable","id":3})");
  EXPECT_EQ(ask(peer, "garbage"), R"({"error":"Invalid admin request","id":null})");
}

TEST_F(DaemonAdminXPCServerTest, ALineOfOneMebibyteWithoutALineFeedClosesTheConnection) {
  start();
  SocketPeer flooding(io, socketPath);
  flooding.write(std::string(1048577, 'x'));
  EXPECT_EQ(flooding.readToEnd(), "");
  SocketPeer next(io, socketPath);
  EXPECT_EQ(ask(next, R"({"id":1,"method":"app_get_tool_catalog"})"),
            R"({"id":1,"result":{"timestamp":1700000000000,"tools":[{"name":"health_check"},{"name":"calendar"}]}})");
}

TEST_F(DaemonAdminXPCServerTest, AnotherExecutableIsClosedUnreadWithAWarning) {
  AdminPeerPolicy policy;  // the application beside a daemon in our temporary folder: not this program
  policy.daemonExecutableFolder = temp.path();
  start(policy);
  EXPECT_EQ(server->expectedApplicationPath(), (std::filesystem::canonical(temp.path()) / "QuarvelDorarov").string());

  SocketPeer peer(io, socketPath);
  peer.write(R"({"id":1,"method":"app_get_health"})" "\n");
  EXPECT_EQ(peer.readToEnd(), "");
  EXPECT_EQ(daemon->healthCalls, 0);
  const auto refused = warnings("Rejected unauthorized XPC admin connection");
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0]["level"], "WARN");
  EXPECT_EQ(refused[0]["component"], "DaemonAdminXPC");
  EXPECT_EQ(refused[0]["metadata"]["pid"], std::to_string(::getpid()));
  EXPECT_EQ(refused[0]["metadata"]["euid"], std::to_string(::geteuid()));
  EXPECT_EQ(server->connectionCount(), 0);
}

TEST_F(DaemonAdminXPCServerTest, InvalidateRemovesTheSocket) {
  start();
  server->invalidate();
  EXPECT_FALSE(std::filesystem::exists(socketPath));
  server->invalidate();
}

}  // namespace
}  // namespace qd
