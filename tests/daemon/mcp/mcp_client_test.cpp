#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <asio/io_context.hpp>
#include <asio/post.hpp>

#include "daemon/mcp/fake_transport.h"
#include "daemon/mcp/mcp_client.h"
#include "daemon/mcp/mcp_error.h"
#include "daemon/mcp/transport_error.h"
#include "support/test_io.h"
#include "daemon/utilities/json_codec.h"
#include "support/stderr_capture.h"

namespace qd {
namespace {

using test::FakeTransport;
using test::runAwaitable;

std::string response(const Json& id, const Json& result) {
  return dumpJson({{"jsonrpc", "2.0"}, {"id", id}, {"result", result}});
}

struct ClientFixture {
  asio::io_context io;
  std::shared_ptr<FakeTransport> transport = std::make_shared<FakeTransport>();
  std::shared_ptr<MCPClient> client;

  explicit ClientFixture(double timeoutSeconds = 3600) {
    client = MCPClient::create(io.get_executor(), transport, {"test-client", "0.1.0"}, timeoutSeconds);
    runAwaitable(io, client->start());
  }
  // Answers every request on the next turn with the result `answer(request)`.
  void answerWith(std::function<Json(const Json&)> answer) {
    transport->onSend = [this, answer](const std::string& line) {
      const Json request = parseJson(line);
      if (!request.contains("id")) return;
      asio::post(io, [this, request, answer] { transport->deliver(response(request["id"], answer(request))); });
    };
  }
};

TEST(MCPClient, RequestShapesAndIdsThatKeepCountingAfterClose) {
  ClientFixture f;
  f.answerWith([](const Json& request) -> Json {
    if (request["method"] == "tools/list") return {{"tools", Json::array()}};
    if (request["method"] == "tools/call") return {{"content", Json::array()}};
    return "a bare string";  // ping accepts any result
  });
  runAwaitable(f.io, f.client->ping());
  runAwaitable(f.io, f.client->listTools());
  runAwaitable(f.io, f.client->listTools(std::string("c1")));
  runAwaitable(f.io, f.client->callTool("t"));
  runAwaitable(f.io, f.client->callTool("t", Json::object()));
  runAwaitable(f.io, f.client->close());
  runAwaitable(f.io, f.client->ping());

  ASSERT_EQ(f.transport->sent.size(), 6u);
  for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(f.transport->sentJson(i)["id"], static_cast<int>(i + 1));
  EXPECT_FALSE(f.transport->sentJson(0).contains("params"));
  EXPECT_FALSE(f.transport->sentJson(1).contains("params"));
  EXPECT_EQ(f.transport->sentJson(2)["params"], (Json{{"cursor", "c1"}}));
  EXPECT_EQ(f.transport->sentJson(3)["params"], (Json{{"name", "t"}}));
  EXPECT_EQ(f.transport->sentJson(4)["params"], (Json{{"name", "t"}, {"arguments", Json::object()}}));
}

TEST(MCPClient, InitializeStoresTheServerAndAnnouncesItselfAndCloseKeepsIt) {
  ClientFixture f;
  f.answerWith([](const Json&) -> Json {
    return {{"protocolVersion", "2024-11-05"},
            {"capabilities", {{"tools", Json::object()}}},
            {"serverInfo", {{"name", "srv"}, {"version", "9"}}}};
  });
  auto result = runAwaitable(f.io, f.client->initialize({}));
  EXPECT_EQ(result.serverInfo.name, "srv");
  const Json init = f.transport->sentJson(0);
  EXPECT_EQ(init["params"], (Json{{"protocolVersion", "2024-11-05"},
                                  {"capabilities", Json::object()},
                                  {"clientInfo", {{"name", "test-client"}, {"version", "0.1.0"}}}}));
  EXPECT_EQ(f.transport->sentJson(1), (Json{{"jsonrpc", "2.0"}, {"method", "notifications/initialized"}}));
  EXPECT_TRUE(f.client->isInitialized());

  runAwaitable(f.io, f.client->close());
  EXPECT_FALSE(f.client->isInitialized());
  ASSERT_TRUE(f.client->server().has_value());
  EXPECT_EQ(f.client->server()->version, "9");
  EXPECT_TRUE(f.client->capabilities()->tools.has_value());
}

TEST(MCPClient, MatchesIdsAsTextAndReportsServerAndDecodingErrors) {
  ClientFixture f;
  f.transport->onSend = [&](const std::string& line) {
    const Json request = parseJson(line);
    const std::string id = std::to_string(request["id"].get<int>());
    asio::post(f.io, [&, request, id] {
      if (request["method"] == "ping") {
        f.transport->deliver(response(id, Json::object()));  // the id as a string
      } else if (request["method"] == "tools/list") {
        f.transport->deliver(response(request["id"], "not a record"));
      } else {
        f.transport->deliver(dumpJson(
            {{"jsonrpc", "2.0"}, {"id", request["id"]}, {"error", {{"code", -32601}, {"message", "Method not found: x"}}}}));
      }
    });
  };
  runAwaitable(f.io, f.client->ping());
  EXPECT_THROW(runAwaitable(f.io, f.client->listTools()), DecodingError);
  try {
    runAwaitable(f.io, f.client->readResource("file:///x"));
    FAIL();
  } catch (const MCPError& e) {
    EXPECT_EQ(e.kind(), MCPError::Kind::serverError);
    EXPECT_EQ(e.description(), "MCP server error [-32601]: Method not found: x");
  }
  EXPECT_EQ(f.client->pendingRequestCount(), 0u);
}

TEST(MCPClient, TimesOutAndThenIgnoresLateAnswers) {
  test::StderrCapture stderrCapture;
  ClientFixture f(0.05);
  f.transport->onSend = [&](const std::string&) {
    // An error without an id settles nothing.
    asio::post(f.io, [&] {
      f.transport->deliver(R"({"jsonrpc":"2.0","id":null,"error":{"code":-1,"message":"lost"}})");
    });
  };
  try {
    runAwaitable(f.io, f.client->ping());
    FAIL();
  } catch (const MCPError& e) {
    EXPECT_EQ(e.description(), "MCP request timed out: ping");
  }
  f.transport->deliver(response(1, Json::object()));
  f.io.poll();
  const std::string log = stderrCapture.text();
  EXPECT_NE(log.find(R"("message":"Received error without request ID")"), std::string::npos) << log;
  EXPECT_NE(log.find(R"("message":"Request timed out","metadata":{"id":"1","method":"ping"})"), std::string::npos) << log;
  EXPECT_NE(log.find(R"("message":"Received response for unknown request","metadata":{"id":"1"})"), std::string::npos)
      << log;
}

TEST(MCPClient, ARefusedSendFailsAtOnceAndCloseFailsWhatIsPending) {
  ClientFixture f;
  f.transport->sendError = std::make_exception_ptr(TransportError::connectionClosed());
  EXPECT_THROW(runAwaitable(f.io, f.client->ping()), TransportError);  // not after an hour
  f.transport->sendError = nullptr;

  std::exception_ptr pendingError;
  asio::co_spawn(f.io, f.client->ping(), [&](std::exception_ptr e) { pendingError = e; });
  f.io.poll();
  EXPECT_EQ(f.client->pendingRequestCount(), 1u);
  runAwaitable(f.io, f.client->close());
  f.io.poll();
  ASSERT_TRUE(pendingError);
  try {
    std::rethrow_exception(pendingError);
  } catch (const TransportError& e) {
    EXPECT_EQ(e.kind(), TransportError::Kind::connectionClosed);
  }
  EXPECT_TRUE(f.transport->closed);
}

}  // namespace
}  // namespace qd

#include "daemon/mcp/stdio_transport.h"

namespace qd {
namespace {

// A server that exits (its output ends) fails the request waiting for it at once, not at
// its time-out of ten minutes, and every later request as well.
TEST(MCPClient, AServerWhoseOutputEndsFailsWaitingAndLaterRequestsAtOnce) {
  asio::io_context io;
  auto transport = std::make_shared<StdioTransport>(io.get_executor(), "/bin/sh",
                                                    std::vector<std::string>{"-c", "read request; exit 0"});
  auto client = MCPClient::create(io.get_executor(), transport, Implementation{"t", "1"}, 600.0);
  test::runAwaitable(io, client->start());
  const auto kindOf = [&](asio::awaitable<ListToolsResult> call) {
    try {
      test::runAwaitable(io, std::move(call), std::chrono::seconds(120));
    } catch (const TransportError& e) {
      return e.kind();
    }
    return TransportError::Kind::writeFailed;
  };
  EXPECT_EQ(kindOf(client->listTools()), TransportError::Kind::connectionClosed);
  EXPECT_EQ(client->pendingRequestCount(), 0u);
  EXPECT_EQ(kindOf(client->listTools()), TransportError::Kind::connectionClosed);
  test::runAwaitable(io, client->close());
}

}  // namespace
}  // namespace qd
