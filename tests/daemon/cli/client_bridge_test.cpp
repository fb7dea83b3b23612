#include "daemon/cli/client_bridge.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>

#include <asio/io_context.hpp>
#include <asio/local/stream_protocol.hpp>

#include "daemon/cli/fake_daemon.h"
#include "daemon/core/socket_peer.h"
#include "support/temp_dir.h"
#include "support/test_io.h"

namespace qd {
namespace {

using namespace std::chrono_literals;
using test::finishAwaitable;
using test::startAwaitable;

Json tool(const std::string& name) { return {{"name", name}, {"inputSchema", {{"type", "object"}}}}; }

Json textResult(const std::string& text) { return {{"content", {{{"type", "text"}, {"text", text}}}}}; }

std::string mcpCall(int id, const std::string& name, const std::optional<Json>& arguments = std::nullopt) {
  Json params = {{"name", name}};
  if (arguments) params["arguments"] = *arguments;
  return dumpJson(Json{{"jsonrpc", "2.0"}, {"id", id}, {"method", "tools/call"}, {"params", params}}) + "\n";
}

// The bridge between the test's AI-client end of a socket pair (standing in for standard
// input and output) and a fake daemon.
struct BridgeFixture {
  test::TempDir dir{"bridge"};
  asio::io_context io;
  std::string path = (dir / "daemon.sock").string();
  test::FakeDaemon daemon{io, path};
  UniqueFd bridgeEnd, errorRead, errorWrite;
  std::optional<test::SocketPeer> aiClient;
  std::shared_ptr<test::StartedAwaitable<int>> bridge;

  explicit BridgeFixture(ClientProfile profile, std::chrono::milliseconds connectionTimeout = 30s) {
    int pair[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    bridgeEnd.reset(pair[1]);
    aiClient.emplace(io, asio::local::stream_protocol::socket(io, asio::local::stream_protocol(), pair[0]));
    int errors[2];
    EXPECT_EQ(::pipe2(errors, O_CLOEXEC | O_NONBLOCK), 0);
    errorRead.reset(errors[0]);
    errorWrite.reset(errors[1]);

    ClientBridgeOptions options;
    options.daemon.socketPath = path;
    options.daemon.connectionTimeout = connectionTimeout;
    options.daemon.attemptWindow = 100ms;
    options.daemon.retryPause = 50ms;
    options.profile = profile;
    options.inputFd = options.outputFd = bridgeEnd.get();
    options.errorFd = errorWrite.get();
    bridge = startAwaitable(io, runClientBridge(options));
  }

  // Accepts the bridge's connection and answers its one "list_tools".
  void serveToolList(const std::vector<Json>& tools) {
    daemon.accept();
    const Json request = daemon.readRequest();
    EXPECT_EQ(request["method"], "list_tools");
    daemon.reply(request, {{"tools", Json(tools)}});
  }

  Json exchange(const std::string& line) {
    aiClient->write(line);
    return readReply();
  }
  Json readReply() {
    auto line = aiClient->readLine();
    if (!line) throw std::runtime_error("the bridge closed its output");
    return parseJson(*line);
  }
  std::string errorText() {
    char buffer[4096];
    const ssize_t n = ::read(errorRead.get(), buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : "";
  }
};

TEST(ClientBridge, ServesTheProfilesToolsAndForwardsCallsUnderTheirDaemonNames) {
  BridgeFixture f(ClientProfile::tbxDoc);
  f.serveToolList({tool("tbx_doc_open_tinderbox"), tool("tbx_doc_quit_tinderbox"), tool("health_check")});

  const Json init = f.exchange(
      R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2024-11-05","capabilities":{},"clientInfo":{"name":"t","version":"1"}}})"
      "\n");
  EXPECT_EQ(init["result"]["serverInfo"], (Json{{"name", "quarvel-toolbox"}, {"version", "2.0.0"}}));
  EXPECT_EQ(init["result"]["capabilities"], (Json{{"tools", Json::object()}}));

  const Json list = f.exchange(R"({"jsonrpc":"2.0","id":2,"method":"tools/list"})" "\n");
  std::vector<std::string> names;
  for (const auto& t : list["result"]["tools"]) names.push_back(t["name"]);
  EXPECT_EQ(names, (std::vector<std::string>{"open_tinderbox", "quit_tinderbox"}));

  // Without arguments: the daemon gets an empty object, under the full name.
  f.aiClient->write(mcpCall(3, "open_tinderbox"));
  const Json call = f.daemon.readRequest();
  EXPECT_EQ(call["params"], (Json{{"name", "tbx_doc_open_tinderbox"}, {"arguments", Json::object()}}));
  f.daemon.reply(call, textResult("opened"));
  EXPECT_EQ(f.readReply(), (Json{{"jsonrpc", "2.0"}, {"id", 3}, {"result", textResult("opened")}}));

  // Two calls in flight on the one connection, answered in the opposite order.
  f.aiClient->write(mcpCall(4, "open_tinderbox", Json{{"n", 4}}) + mcpCall(5, "quit_tinderbox", Json{{"n", 5}}));
  const Json first = f.daemon.readRequest();
  const Json second = f.daemon.readRequest();
  f.daemon.reply(second, textResult("five"));
  f.daemon.reply(first, textResult("four"));
  for (int i = 0; i < 2; ++i) {
    const Json reply = f.readReply();
    EXPECT_EQ(reply["result"]["content"][0]["text"], reply["id"] == 4 ? "four" : "five");
  }

  // A daemon error becomes an error result.
  f.aiClient->write(mcpCall(6, "quit_tinderbox"));
  f.daemon.reply(f.daemon.readRequest(), {{"error", "Feature is disabled in settings: x"}});
  const Json failed = f.readReply();
  EXPECT_EQ(failed["result"], (Json{{"content", {{{"type", "text"}, {"text", "Error: Daemon error: Feature is disabled in settings: x"}}}},
                                    {"isError", true}}));

  ::kill(::getpid(), SIGTERM);
  EXPECT_EQ(finishAwaitable(f.io, f.bridge), 0);
  EXPECT_FALSE(f.daemon.peer().readLine().has_value());  // the daemon connection was closed
}

TEST(ClientBridge, TheEndOfInputAnswersWhatWasSentThenEndsTheBridge) {
  BridgeFixture f(ClientProfile::all);
  f.serveToolList({tool("health_check")});
  f.aiClient->write(mcpCall(1, "health_check"));
  f.aiClient->shutdownWrite();
  const Json call = f.daemon.readRequest();
  f.daemon.reply(call, textResult("healthy"));
  EXPECT_EQ(f.readReply()["result"], textResult("healthy"));
  EXPECT_EQ(finishAwaitable(f.io, f.bridge), 0);
  EXPECT_FALSE(f.daemon.peer().readLine().has_value());
}

TEST(ClientBridge, ALostDaemonFailsTheCallsInFlightAndTheNextCallReconnects) {
  BridgeFixture f(ClientProfile::all);
  f.serveToolList({tool("slow")});
  f.aiClient->write(mcpCall(1, "slow"));
  f.daemon.readRequest();
  f.daemon.closeConnection();
  const Json lost = f.readReply();
  EXPECT_EQ(lost["result"]["content"][0]["text"], "Error: Connection to daemon closed");
  EXPECT_EQ(lost["result"]["isError"], true);

  // The next call goes over a new connection; the tool list read at start stays.
  f.aiClient->write(mcpCall(2, "slow"));
  f.daemon.accept();
  const Json call = f.daemon.readRequest();
  EXPECT_EQ(call["params"], (Json{{"name", "slow"}, {"arguments", Json::object()}}));
  f.daemon.reply(call, textResult("done"));
  EXPECT_EQ(f.readReply()["result"], textResult("done"));
  EXPECT_FALSE(f.bridge->done);
  f.aiClient->shutdownWrite();
  EXPECT_EQ(finishAwaitable(f.io, f.bridge), 0);
}

TEST(ClientBridge, AStartFailureGoesToStandardErrorNeverToTheMCPChannel) {
  {
    BridgeFixture f(ClientProfile::all);
    f.daemon.accept();
    f.daemon.reply(f.daemon.readRequest(), {{"error", "Internal error"}});
    EXPECT_EQ(finishAwaitable(f.io, f.bridge), 1);
    EXPECT_EQ(f.errorText(), "Error: Daemon error: Internal error\n");
    EXPECT_EQ(f.aiClient->socket().available(), 0u);
  }
  {
    BridgeFixture f(ClientProfile::all, 200ms);
    std::filesystem::remove(f.path);  // nobody listens there any more
    EXPECT_EQ(finishAwaitable(f.io, f.bridge), 1);
    EXPECT_EQ(f.errorText(), "Error: Failed to connect to daemon\n");
    EXPECT_EQ(f.aiClient->socket().available(), 0u);
  }
}

}  // namespace
}  // namespace qd
