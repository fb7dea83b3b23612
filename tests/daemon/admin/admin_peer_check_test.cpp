// The peer check: the decision as a table, then with real processes in an installation
// tree of the test's own (the daemon stand-in as bin/QuarvelDorarovDaemon, the client as
// bin/QuarvelDorarov and elsewhere).

#include "daemon/admin/admin_peer_check.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "daemon/runtime/child_process.h"
#include "support/installed_program.h"
#include "support/temp_dir.h"

namespace qd {
namespace {

namespace fs = std::filesystem;

TEST(AdminPeerCheckTest, OnlyOurUserRunningTheExactApplicationPathIsAuthorized) {
  const std::string expected = "/opt/qd/bin/QuarvelDorarov";
  struct Case {
    AdminPeer peer;
    bool authorized;
  };
  const Case cases[] = {
      {{1000, 77, expected}, true},
      {{1001, 77, expected}, false},                                     // another user
      {{0, 77, expected}, false},                                        // root is another user too
      {{1000, 0, expected}, false},                                      // pid not visible
      {{1000, 77, ""}, false},                                           // executable unknown
      {{1000, 77, "/home/u/copy/bin/QuarvelDorarov"}, false},            // same name elsewhere
      {{1000, 77, "/opt/qd/bin/QuarvelDorarov (deleted)"}, false},       // replaced since it started
      {{1000, 77, "/opt/qd/bin/QuarvelDorarovDaemon"}, false},
      {{1000, 77, "/opt/qd/bin/../bin/QuarvelDorarov"}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(isAuthorizedAdminPeer(c.peer, 1000, expected), c.authorized) << c.peer.effectiveUserID << " " << c.peer.pid
                                                                            << " " << c.peer.executablePath;
  }
  EXPECT_FALSE(isAuthorizedAdminPeer({1000, 77, ""}, 1000, ""));
}

TEST(AdminPeerCheckTest, ExpectedPathResolvesTheFolderButNotTheApplication) {
  test::TempDir temp("admin-path");
  fs::create_directories(temp / "real" / "bin");
  fs::create_directory_symlink(temp / "real" / "bin", temp / "linked");
  fs::create_symlink("/bin/sh", temp / "real" / "bin" / "QuarvelDorarov");
  const fs::path realBin = fs::canonical(temp / "real" / "bin");

  AdminPeerPolicy policy;
  policy.daemonExecutableFolder = temp / "linked";
  // A link at the application's place does not admit what it points to.
  EXPECT_EQ(expectedApplicationPath(policy), (realBin / "QuarvelDorarov").string());
  policy.daemonExecutableFolder = temp / "missing";
  EXPECT_EQ(expectedApplicationPath(policy), "");
  // By default: beside this very program.
  EXPECT_EQ(expectedApplicationPath(AdminPeerPolicy{}),
            (fs::read_symlink("/proc/self/exe").parent_path() / "QuarvelDorarov").string());
}

class AdminPeerProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    install(QD_ADMIN_TEST_SERVER, temp / "bin" / "QuarvelDorarovDaemon");
    install(QD_ADMIN_TEST_PEER, temp / "bin" / "QuarvelDorarov");
    install(QD_ADMIN_TEST_PEER, temp / "bin" / "quarvel-helper");
    install(QD_ADMIN_TEST_PEER, temp / "other" / "bin" / "QuarvelDorarov");
    fs::create_directories(temp / "data");

    server = ChildProcess::spawn(spawnOptions((temp / "bin" / "QuarvelDorarovDaemon").string(),
                                              {socketPath, (temp / "data").string()}));
    serverStdin = server->takeStdin();
    serverStderr = server->takeStderr();
    UniqueFd out = server->takeStdout();
    ASSERT_EQ(test::readFrom(out.get(), true), "ready");
  }

  void TearDown() override {
    if (!server) return;
    serverStdin.reset();
    if (!server->waitForExit(std::chrono::seconds(60))) server->signalGroup(SIGKILL);
    server->reap();
  }

  static void install(const fs::path& program, const fs::path& at) { test::installProgram(program, at); }

  // Runs an installed client to its end; its one line of output.
  std::string runPeer(const fs::path& program, const std::string& mode, const std::vector<std::string>& prefix = {}) {
    SpawnOptions options;
    if (prefix.empty()) {
      options.executable = program.string();
      options.arguments = {socketPath, mode};
    } else {
      options.executable = prefix[0];
      options.arguments.assign(prefix.begin() + 1, prefix.end());
      options.arguments.insert(options.arguments.end(), {program.string(), socketPath, mode});
    }
    options.stdinMode = StdioMode::null;
    auto child = ChildProcess::spawn(options);
    UniqueFd out = child->takeStdout();
    std::string line = test::readFrom(out.get(), true);
    EXPECT_TRUE(child->waitForExit(std::chrono::seconds(120)));
    child->reap();
    return line;
  }

  // Stops the server and answers what it logged.
  std::string serverLog() {
    serverStdin.reset();
    EXPECT_TRUE(server->waitForExit(std::chrono::seconds(60)));
    std::string log = test::readFrom(serverStderr.get());
    server->reap();
    server.reset();
    return log;
  }

  static int countOf(const std::string& text, const std::string& needle) {
    int n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
  }

  test::TempDir temp{"admin-peer"};
  std::string socketPath = (temp / "admin.sock").string();
  std::unique_ptr<ChildProcess> server;
  UniqueFd serverStdin;
  UniqueFd serverStderr;
};

TEST_F(AdminPeerProcessTest, TheApplicationBesideTheDaemonIsAdmittedAndOthersAreClosedUnread) {
  EXPECT_EQ(runPeer(temp / "bin" / "QuarvelDorarov", "request"),
            R"({"connectedClients":2,"daemonPid":4242,"lastUpdate":1700000000000,"status":"healthy",)"
            R"("tinderboxConnected":false,"tinderboxRestarts":0,"uptime":12})");
  // The same program under another name, and under the application's name in another
  // installation: refused. A silent peer sees the connection end without having sent a
  // byte, so the refusal comes before anything is read.
  EXPECT_EQ(runPeer(temp / "bin" / "quarvel-helper", "silent"), "closed");
  EXPECT_EQ(runPeer(temp / "other" / "bin" / "QuarvelDorarov", "silent"), "closed");
  EXPECT_EQ(runPeer(temp / "other" / "bin" / "QuarvelDorarov", "request"),
            "error 16: XPC connection to daemon was rejected");

  const std::string log = serverLog();
  EXPECT_EQ(countOf(log, R"("message":"Rejected unauthorized XPC admin connection")"), 3) << log;
  EXPECT_EQ(countOf(log, R"("level":"WARN")"), 3) << log;
  EXPECT_NE(log.find(R"("euid":")" + std::to_string(::geteuid()) + "\""), std::string::npos) << log;
}

TEST_F(AdminPeerProcessTest, AnotherUserRunningTheApplicationIsRefused) {
  // Needs a second user: only root can start the application as somebody else here.
  if (::geteuid() != 0 || !fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "needs root and setpriv";
  // Let the other user reach the socket and run the program, so that only the uid check
  // stands in its way (the socket is 0600 in normal use, which already keeps others out).
  fs::permissions(temp.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                   fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(socketPath, fs::perms::all);
  EXPECT_EQ(runPeer(temp / "bin" / "QuarvelDorarov", "silent",
                    {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"}),
            "closed");
  const std::string log = serverLog();
  EXPECT_NE(log.find(R"("euid":"65534")"), std::string::npos) << log;
  EXPECT_EQ(countOf(log, R"("message":"Rejected unauthorized XPC admin connection")"), 1) << log;
}

}  // namespace
}  // namespace qd
