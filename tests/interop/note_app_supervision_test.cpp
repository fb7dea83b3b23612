// The daemon supervising the official reference server (@modelcontextprotocol/server-everything)
// as its note app, all real processes: the server's tools reach list_tools and calls reach
// it; a killed or hanging server is restarted by the health check; quit and open give a new
// server; the restart limit holds; and a daemon killed by SIGKILL leaves no server behind.

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "daemon/utilities/atomic_file.h"
#include "daemon/utilities/json.h"
#include "support/daemon_process.h"
#include "support/process_table.h"
#include "support/temp_dir.h"

namespace qd {
namespace {

using namespace std::chrono_literals;

const auto* const orphanReaper = testing::AddGlobalTestEnvironment(new test::OrphanReaper);

class NoteAppSupervision : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(std::string(QD_NODE_PATH).empty()) << "node was not found when the build was configured";
    const std::filesystem::path server =
        std::filesystem::path(QD_INTEROP_MODULES) / "@modelcontextprotocol/server-everything/dist/index.js";
    ASSERT_TRUE(std::filesystem::exists(server)) << "run npm ci in tests/interop";
    // The wrapper execs the server, so the server is the daemon's direct child and gets
    // its parent-death signal.
    // It refuses to start while the file "broken" exists beside it.
    wrapper_ = home_ / "note-app";
    std::ofstream(wrapper_) << "#!/bin/sh\n[ -e \"$(dirname \"$0\")/broken\" ] && exit 1\nexec " << QD_NODE_PATH << " "
                            << server.string() << " stdio\n";
    std::filesystem::permissions(wrapper_, std::filesystem::perms::owner_all);
  }

  void startDaemon(std::map<std::string, std::string> extra = {}) {
    std::map<std::string, std::string> environment{{"TINDERBOX_DISABLE", "0"},
                                                   {"TINDERBOX_MCP_PATH", wrapper_.string()},
                                                   {"TINDERBOX_RATE_LIMIT_REQUESTS", "10000"}};
    for (auto& [name, value] : extra) environment[name] = value;
    daemon_.emplace(home_.path(), environment);
    daemon_->startAndWait();
    client_.emplace(daemon_->socketPath());
  }

  Json request(Json message) {
    message["_requestId"] = ++requestId_;
    const std::optional<std::string> line = client_->request(dumpJson(message));
    if (!line) throw std::runtime_error("no reply; daemon stderr: " + daemon_->stderrText());
    return parseJson(*line);
  }
  Json callTool(const std::string& name, Json arguments = Json::object()) {
    return request(Json{{"method", "call_tool"}, {"params", {{"name", name}, {"arguments", std::move(arguments)}}}});
  }
  static std::string text(const Json& reply) {
    if (!reply.contains("content")) return "error: " + reply.value("error", std::string("?"));
    return reply["content"][0]["text"].get<std::string>();
  }
  bool listsTool(const std::string& name) {
    const Json listed = request(Json{{"method", "list_tools"}});
    for (const Json& tool : listed["tools"]) {
      if (tool["name"] == name) return true;
    }
    return false;
  }

  // The note app's pid from the PID file once it names a live process other than `old`.
  std::optional<pid_t> waitForServer(std::optional<pid_t> old = std::nullopt) {
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (std::chrono::steady_clock::now() < deadline) {
      std::optional<std::string> content;
      try {
        content = readFileIfPresent(daemon_->configuration().pidFilePath());
      } catch (const std::exception&) {
      }
      if (content && !content->empty()) {
        const pid_t pid = std::stoi(*content);
        if (pid != old && ::kill(pid, 0) == 0) return pid;
      }
      std::this_thread::sleep_for(50ms);
    }
    return std::nullopt;
  }
  void expectEchoWorks() {
    EXPECT_EQ(text(callTool("echo", Json{{"message", "hello"}})), "Echo: hello");
  }

  test::TempDir home_;
  std::filesystem::path wrapper_;
  std::optional<test::DaemonProcess> daemon_;
  std::optional<test::SocketLineClient> client_;
  std::int64_t requestId_ = 0;
};

TEST_F(NoteAppSupervision, ToolsAppearCallsWorkAndAKilledServerIsRestartedByTheHealthCheck) {
  startDaemon();
  const std::optional<pid_t> first = waitForServer();
  ASSERT_TRUE(first);
  // The catalog is merged right after the connect; poll for it rather than race it.
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (!listsTool("echo") && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(50ms);
  EXPECT_TRUE(listsTool("echo"));
  EXPECT_TRUE(listsTool("tbx_doc_restart_tinderbox"));
  expectEchoWorks();

  ::kill(*first, SIGKILL);
  const std::optional<pid_t> second = waitForServer(first);
  ASSERT_TRUE(second) << daemon_->stderrText();
  expectEchoWorks();

  // Quit, then open: a new server.
  EXPECT_NE(text(callTool("tbx_doc_quit_tinderbox")).find("\"wasRunning\": true"), std::string::npos);
  EXPECT_EQ(text(callTool("echo", Json{{"message", "x"}})), "error: Tinderbox is not connected");
  const std::string opened = text(callTool("tbx_doc_open_tinderbox"));
  EXPECT_NE(opened.find("\"alreadyRunning\": false"), std::string::npos) << opened;
  const std::optional<pid_t> third = waitForServer(second);
  ASSERT_TRUE(third);
  EXPECT_NE(opened.find("\"tinderboxPid\": " + std::to_string(*third)), std::string::npos) << opened;
  expectEchoWorks();

  // The daemon dies without a chance to clean up: the kernel ends its server.
  daemon_->signal(SIGKILL);
  daemon_->waitForExit();
  EXPECT_TRUE(test::groupEmptiesWithin(*third, 60s));
}

// Every request to the note app has the one time-out, its start included: long enough for
// node to start the server and answer on a busy machine.
TEST_F(NoteAppSupervision, AHangingServerFailsCallsWithinTheirTimeOutAndIsRestarted) {
  startDaemon({{"TINDERBOX_REQUEST_TIMEOUT", "15000"}});
  const std::optional<pid_t> first = waitForServer();
  ASSERT_TRUE(first);
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (!listsTool("echo") && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(50ms);
  expectEchoWorks();

  ::kill(*first, SIGSTOP);
  const Json reply = callTool("echo", Json{{"message", "stuck"}});
  EXPECT_TRUE(reply.contains("error")) << dumpJson(reply);
  const std::optional<pid_t> second = waitForServer(first);
  ASSERT_TRUE(second) << daemon_->stderrText();
  expectEchoWorks();
  EXPECT_TRUE(test::groupEmptiesWithin(*first, 60s));  // the stopped server was killed
}

TEST_F(NoteAppSupervision, TheSixthRestartWithinFiveMinutesIsRefused) {
  startDaemon();
  ASSERT_TRUE(waitForServer());
  for (int i = 1; i <= 5; ++i) {
    const std::string answer = text(callTool("tbx_doc_restart_tinderbox", Json{{"reason", "test"}}));
    EXPECT_NE(answer.find("\"restarted\": true"), std::string::npos) << answer;
    EXPECT_NE(answer.find("\"totalRestarts\": " + std::to_string(i)), std::string::npos) << answer;
  }
  const std::string denial = "Restart denied: rate limit exceeded (max 5 restarts per 5 minutes). Wait before retrying.";
  const Json refused = callTool("tbx_doc_restart_tinderbox");
  EXPECT_EQ(text(refused), denial);
  EXPECT_EQ(refused.value("isError", false), true);
  expectEchoWorks();  // the refused restart left the server running
  const std::string opened = text(callTool("tbx_doc_open_tinderbox"));
  EXPECT_NE(opened.find("\"alreadyRunning\": true"), std::string::npos) << opened;

  // The command-line modes against the same daemon: the refusal is a failure, an open a success.
  const struct {
    const char* flag;
    int status;
    std::string output;
  } modes[] = {{"--restart-tinderbox", 1, "Error: " + denial + "\n"}, {"--start-tinderbox", 0, ""}};
  for (const auto& mode : modes) {
    test::TempDir outputs;
    test::DaemonProcess oneShot(outputs.path(), daemon_->environment());
    oneShot.start({mode.flag});
    EXPECT_EQ(oneShot.waitForExit(), mode.status) << mode.flag << ": " << oneShot.stderrText();
    EXPECT_EQ(oneShot.stdoutText(), mode.output) << mode.flag;
  }
}

TEST_F(NoteAppSupervision, AfterAFailedRespawnCallsAnswerThatTheNoteAppIsNotConnected) {
  startDaemon();
  ASSERT_TRUE(waitForServer());
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (!listsTool("echo") && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(50ms);
  expectEchoWorks();

  std::ofstream(home_ / "broken") << "";
  const Json failed = callTool("tbx_doc_restart_tinderbox", Json{{"reason", "test"}});
  EXPECT_TRUE(failed.contains("error")) << dumpJson(failed);
  EXPECT_EQ(text(callTool("echo", Json{{"message", "x"}})), "error: Tinderbox is not connected");
  EXPECT_FALSE(std::filesystem::exists(daemon_->configuration().pidFilePath()));

  std::filesystem::remove(home_ / "broken");
  EXPECT_NE(text(callTool("tbx_doc_open_tinderbox")).find("\"tinderboxConnected\": true"), std::string::npos);
  expectEchoWorks();
}

}  // namespace
}  // namespace qd
