#include "daemon/cli/one_shot_modes.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include <asio/io_context.hpp>

#include "daemon/cli/fake_daemon.h"
#include "support/stderr_capture.h"
#include "support/temp_dir.h"
#include "support/test_io.h"

namespace qd {
namespace {

using namespace std::chrono_literals;
using test::finishAwaitable;
using test::startAwaitable;

struct OneShotFixture {
  test::TempDir dir{"oneshot"};
  asio::io_context io;
  TinderboxClientOptions options;
  std::optional<test::FakeDaemon> daemon;
  UniqueFd outputRead, outputWrite;

  OneShotFixture() {
    options.socketPath = (dir / "daemon.sock").string();
    options.connectionTimeout = 200ms;
    options.attemptWindow = 50ms;
    options.retryPause = 50ms;
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
    outputRead.reset(fds[0]);
    outputWrite.reset(fds[1]);
  }
  void listen() { daemon.emplace(io, options.socketPath); }
  std::string output() {
    char buffer[4096];
    const ssize_t n = ::read(outputRead.get(), buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : "";
  }
  // Plays the daemon for one call: returns its params and answers with `result`.
  Json serveOneCall(const Json& result = Json{{"content", Json::array()}}) {
    daemon->accept();
    const Json request = daemon->readRequest();
    EXPECT_EQ(request["method"], "call_tool");
    daemon->reply(request, result);
    return request["params"];
  }
};

TEST(NotifyMode, RefusesAMissingAgentOrDataThatIsNoJSONObjectWithoutConnecting) {
  struct Case {
    std::vector<std::string> args;
    std::string output;
  } cases[] = {
      {{"qd", "--notify", "--data", "{}"},
       "Usage: quarvel-toolbox --notify --agents <agent-name> --data '{\"message\":\"hello\"}'\n"},
      {{"qd", "--notify", "--agents", "a"}, "Error: Invalid JSON data\n"},
      {{"qd", "--notify", "--agents", "a", "--data", "[1]"}, "Error: Invalid JSON data\n"},
      {{"qd", "--notify", "--agents", "a", "--data", "\"text\""}, "Error: Invalid JSON data\n"},
      {{"qd", "--notify", "--agents", "a", "--data", "{oops"}, "Error: Invalid JSON data\n"},
  };
  for (const auto& c : cases) {
    OneShotFixture f;  // nobody listens: a connection attempt would fail the call
    EXPECT_EQ(test::runAwaitable(f.io, notifyOnce(f.options, c.args, f.outputWrite.get())), 1) << c.args.back();
    EXPECT_EQ(f.output(), c.output) << c.args.back();
  }
}

TEST(NotifyMode, SendsOneNotifyCallWithTheAgentsTextUnchanged) {
  OneShotFixture f;
  f.listen();
  auto run = startAwaitable(
      f.io, notifyOnce(f.options, {"qd", "--notify", "--agents", "*", "--data", R"({"message":"hi"})"},
                       f.outputWrite.get()));
  EXPECT_EQ(f.serveOneCall(),
            (Json{{"name", "notify"}, {"arguments", {{"agents", "*"}, {"data", {{"message", "hi"}}}}}}));
  EXPECT_EQ(finishAwaitable(f.io, run), 0);
  EXPECT_EQ(f.output(), "");
}

TEST(SyncHookMode, SendsTheTrimmedTextUnparsedAndSkipsBlankOrNonUTF8Input) {
  for (const std::string& input : std::vector<std::string>{"  \n\t\n", "{\"a\":\"\xff\"}", ""}) {
    test::StderrCapture capture;
    OneShotFixture f;  // nobody listens
    EXPECT_EQ(test::runAwaitable(f.io, syncHookOnce(f.options, input)), 0);
    EXPECT_NE(capture.text().find("sync-hook received empty or invalid JSON payload"), std::string::npos);
  }
  for (const auto& [input, payload] : std::vector<std::pair<std::string, std::string>>{
           {"  {\"hook\":\"Stop\"}\n", "{\"hook\":\"Stop\"}"}, {"not json at all", "not json at all"}}) {
    OneShotFixture f;
    f.listen();
    auto run = startAwaitable(f.io, syncHookOnce(f.options, input));
    EXPECT_EQ(f.serveOneCall(), (Json{{"name", "sync_claude_hook"}, {"arguments", {{"payloadJSON", payload}}}}));
    EXPECT_EQ(finishAwaitable(f.io, run), 0);
  }
}

TEST(TinderboxControlModes, CallTheirToolAndFailWithTheTextOfAnErrorResult) {
  struct Case {
    TinderboxControl control;
    Json params;
  } cases[] = {
      {TinderboxControl::restart,
       {{"name", "tbx_doc_restart_tinderbox"}, {"arguments", {{"reason", "menu-bar restart"}}}}},
      {TinderboxControl::start, {{"name", "tbx_doc_open_tinderbox"}, {"arguments", Json::object()}}},
      {TinderboxControl::stop, {{"name", "tbx_doc_quit_tinderbox"}, {"arguments", Json::object()}}},
  };
  for (const auto& c : cases) {
    OneShotFixture f;
    f.listen();
    auto run = startAwaitable(f.io, tinderboxControlOnce(f.options, c.control));
    EXPECT_EQ(f.serveOneCall(textToolResult("[\"started\": true]")), c.params);
    EXPECT_EQ(finishAwaitable(f.io, run), 0);

    run = startAwaitable(f.io, tinderboxControlOnce(f.options, c.control));
    f.serveOneCall({{"content", {{{"type", "text"}, {"text", "Restart denied: daemon is shutting down"}}}},
                    {"isError", true}});
    try {
      finishAwaitable(f.io, run);
      ADD_FAILURE() << "an error result counted as done: " << c.params;
    } catch (const Error& e) {
      EXPECT_EQ(e.description(), "Restart denied: daemon is shutting down");
    }
  }
}

TEST(OneShotModes, ThrowTheClientsTextWhenTheDaemonIsUnreachableOrTheCallFails) {
  OneShotFixture f;
  try {
    test::runAwaitable(f.io, tinderboxControlOnce(f.options, TinderboxControl::stop));
    ADD_FAILURE() << "no failure";
  } catch (const ClientError& e) {
    EXPECT_EQ(e.description(), "Failed to connect to daemon");
  }

  f.listen();
  auto run = startAwaitable(f.io, syncHookOnce(f.options, "{}"));
  f.serveOneCall({{"error", "Unknown tool: sync_claude_hook"}});
  try {
    finishAwaitable(f.io, run);
    ADD_FAILURE() << "no failure";
  } catch (const ClientError& e) {
    EXPECT_EQ(e.description(), "Daemon error: Unknown tool: sync_claude_hook");
  }
}

}  // namespace
}  // namespace qd
