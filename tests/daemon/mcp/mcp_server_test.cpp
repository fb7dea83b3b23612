#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>

#include "daemon/mcp/fake_transport.h"
#include "daemon/mcp/mcp_server.h"
#include "support/test_io.h"

namespace qd {
namespace {

using test::FakeTransport;

MCPTool toolNamed(const std::string& name) {
  MCPTool tool;
  tool.name = name;
  tool.inputSchema.type = "object";
  return tool;
}

asio::awaitable<CallToolResult> describeArguments(CallToolParams params) {
  co_return CallToolResult::text(params.arguments ? dumpJson(*params.arguments) : "none");
}

asio::awaitable<CallToolResult> throwing(CallToolParams) {
  throw std::runtime_error("handler broke");
  co_return CallToolResult{};
}

asio::awaitable<CallToolResult> sleeping(CallToolParams params) {
  const auto ms = params.arguments->at("ms").get<int>();
  asio::steady_timer timer(co_await asio::this_coro::executor, std::chrono::milliseconds(ms));
  co_await timer.async_wait(asio::use_awaitable);
  co_return CallToolResult::text(std::to_string(ms));
}

struct ServerFixture {
  asio::io_context io;
  std::shared_ptr<FakeTransport> transport = std::make_shared<FakeTransport>();
  std::shared_ptr<MCPServer> server;

  ServerFixture() {
    ServerCapabilities capabilities;
    capabilities.tools = ToolsCapability{};
    server = MCPServer::create(io.get_executor(), transport, {"srv", "2.0.0"}, capabilities);
    server->registerTool(toolNamed("args"), describeArguments);
    server->registerTool(toolNamed("throws"), throwing);
    server->registerTool(toolNamed("sleep"), sleeping);
    test::runAwaitable(io, server->start());
  }
  // Delivers the line and returns every reply it caused.
  std::vector<Json> exchange(const std::string& line) {
    const auto before = transport->sent.size();
    transport->deliver(line);
    io.restart();
    io.run();
    std::vector<Json> replies;
    for (auto i = before; i < transport->sent.size(); ++i) replies.push_back(transport->sentJson(i));
    return replies;
  }
};

TEST(MCPServer, AnswersEachRequestAsTheProtocolSays) {
  ServerFixture f;
  struct Case {
    std::string line;
    Json expected;  // the whole reply; null: no reply at all
  } cases[] = {
      {R"({"jsonrpc":"2.0","id":7,"method":"ping"})", {{"jsonrpc", "2.0"}, {"id", 7}, {"result", Json::object()}}},
      {R"({"jsonrpc":"2.0","id":1,"method":"resources/list"})",
       {{"jsonrpc", "2.0"}, {"id", 1}, {"error", {{"code", -32601}, {"message", "Method not found: resources/list"}}}}},
      {R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":5}})",
       {{"jsonrpc", "2.0"}, {"id", 2}, {"error", {{"code", -32602}, {"message", "Missing tool name"}}}}},
      {R"({"jsonrpc":"2.0","id":3,"method":"tools/call"})",
       {{"jsonrpc", "2.0"}, {"id", 3}, {"error", {{"code", -32602}, {"message", "Missing tool name"}}}}},
      {R"({"jsonrpc":"2.0","id":"s","method":"tools/call","params":{"name":"nope"}})",
       {{"jsonrpc", "2.0"}, {"id", "s"}, {"error", {{"code", -32602}, {"message", "Unknown tool: nope"}}}}},
      {R"({"jsonrpc":"2.0","id":4,"method":"tools/call","params":{"name":"args","arguments":[1]}})",
       {{"jsonrpc", "2.0"}, {"id", 4}, {"result", {{"content", {{{"type", "text"}, {"text", "none"}}}}}}}},
      {R"({"jsonrpc":"2.0","id":5,"method":"tools/call","params":{"name":"args","arguments":{"k":1}}})",
       {{"jsonrpc", "2.0"}, {"id", 5}, {"result", {{"content", {{{"type", "text"}, {"text", R"({"k":1})"}}}}}}}},
      {R"({"jsonrpc":"2.0","id":6,"method":"tools/call","params":{"name":"throws"}})",
       {{"jsonrpc", "2.0"},
        {"id", 6},
        {"result", {{"content", {{{"type", "text"}, {"text", "Error: handler broke"}}}}, {"isError", true}}}}},
      {R"({"jsonrpc":"2.0","id":null,"method":"ping"})", nullptr},
      {R"({"jsonrpc":"2.0","method":"notifications/initialized"})", nullptr},
      {R"({"jsonrpc":"2.0","id":9,"result":{}})", nullptr},
      // Refused before dispatch: the id goes back whenever it can be read.
      {R"({"id":8,"method":"ping"})",
       {{"jsonrpc", "2.0"},
        {"id", 8},
        {"error", {{"code", -32600}, {"message", "Invalid request: Missing or invalid jsonrpc version"}}}}},
      {R"({"id":"a","jsonrpc":"1.0","method":"ping"})",
       {{"jsonrpc", "2.0"},
        {"id", "a"},
        {"error", {{"code", -32600}, {"message", "Invalid request: Missing or invalid jsonrpc version"}}}}},
      {R"({"id":1.5,"jsonrpc":"2.0","method":"ping"})",
       {{"jsonrpc", "2.0"},
        {"error", {{"code", -32600}, {"message", "Invalid request: Request ID must be a string or integer"}}}}},
  };
  for (const auto& c : cases) {
    const auto replies = f.exchange(c.line);
    if (c.expected.is_null()) {
      EXPECT_TRUE(replies.empty()) << c.line;
    } else {
      ASSERT_EQ(replies.size(), 1u) << c.line;
      EXPECT_EQ(replies[0], c.expected) << c.line;
    }
  }
  // Text that is not JSON is a parse error without an id; so is a line whose bytes after a
  // NUL would otherwise be ignored. Valid JSON that is no request is an invalid request.
  struct Refusal {
    std::string line;
    std::int64_t code;
    std::optional<std::int64_t> id;
  } refusals[] = {
      {"not json", -32700, std::nullopt},
      {std::string(R"({"jsonrpc":"2.0","id":7,"method":"ping"})") + '\0' + "junk", -32700, std::nullopt},
      {std::string(R"({"jsonrpc":"2.0","id":7,"method":"ping"})") + '\0', -32700, std::nullopt},
      {R"([{"jsonrpc":"2.0","id":1,"method":"ping"}])", -32600, std::nullopt},
      {R"({"id":13,"jsonrpc":"2.0","method":"tools/call","params":[1]})", -32600, 13},
      {R"({"jsonrpc":"2.0","id":14,"method":5})", -32600, 14},
  };
  for (const auto& r : refusals) {
    const auto replies = f.exchange(r.line);
    ASSERT_EQ(replies.size(), 1u) << r.line;
    EXPECT_EQ(replies[0]["error"]["code"], r.code) << r.line;
    if (r.id) {
      EXPECT_EQ(replies[0]["id"], *r.id) << r.line;
    } else {
      EXPECT_FALSE(replies[0].contains("id")) << r.line;
    }
    const char* prefix = r.code == -32700 ? "Failed to parse message: " : "Invalid request: ";
    EXPECT_EQ(replies[0]["error"]["message"].get<std::string>().rfind(prefix, 0), 0u) << r.line;
  }
}

TEST(MCPServer, ALineTheTransportDropsForItsLengthIsRefusedToItsSenderAndTheSessionGoesOn) {
  ServerFixture f;
  const auto report = [&](std::string head, std::string tail, bool ended) {
    OversizedLine line;
    line.head = std::move(head);
    line.tail = std::move(tail);
    line.maxLineBytes = 16 << 20;
    line.ended = ended;
    const auto before = f.transport->sent.size();
    f.transport->onOversized(line);
    f.io.restart();
    f.io.run();
    std::vector<Json> replies;
    for (auto i = before; i < f.transport->sent.size(); ++i) replies.push_back(f.transport->sentJson(i));
    return replies;
  };
  const Json refusal{{"code", -32600}, {"message", "Message too large (over 16 MiB)"}};
  const std::string sdkHead = R"({"method":"tools/call","params":{"name":"args","arguments":{"text":"aaaa)";
  const std::string sdkTail = R"(aaaa"}},"jsonrpc":"2.0","id":9})";

  // Told at once, though the id is not known yet; told again with it at the line's end.
  EXPECT_EQ(report(sdkHead, "", false), (std::vector<Json>{{{"jsonrpc", "2.0"}, {"error", refusal}}}));
  EXPECT_EQ(report(sdkHead, sdkTail, true), (std::vector<Json>{{{"jsonrpc", "2.0"}, {"id", 9}, {"error", refusal}}}));
  // An id the start shows is answered at once, and only then.
  const std::string idFirst = R"({"jsonrpc":"2.0","id":"q","method":"tools/call","params":{"a":"aaaa)";
  EXPECT_EQ(report(idFirst, "", false), (std::vector<Json>{{{"jsonrpc", "2.0"}, {"id", "q"}, {"error", refusal}}}));
  EXPECT_EQ(report(idFirst, sdkTail, true), std::vector<Json>{});
  // Neither end shows one: the line's end adds nothing.
  EXPECT_EQ(report("aaaa", "aaaa", true), std::vector<Json>{});
  EXPECT_EQ(f.server->messagesInFlight(), 0u);

  const auto replies = f.exchange(R"({"jsonrpc":"2.0","id":10,"method":"ping"})");
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0]["id"], 10);
}

// The reading stops at 256 lines in flight, or at 64 MiB of lines in flight, whichever
// comes first, and goes on once they are answered.
TEST(MCPServer, StopsReadingWhileTooManyRepliesWaitAndResumesAsTheyDrain) {
  const std::size_t mebibyte = std::size_t{1} << 20;
  const struct {
    const char* name;
    std::size_t length;    // of each line; 0 for a ping (a line of another length is no JSON
                           // and is answered with a parse error, which is quick to tell)
    std::size_t pausesAt;  // the line after which reading stops
  } cases[] = {
      {"small lines", 0, MCPServer::kMaxMessagesInFlight},
      {"lines of 1 MiB", mebibyte, MCPServer::kMaxBytesInFlight / mebibyte},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ServerFixture f;
    f.transport->holdSends(f.io.get_executor());  // the peer does not read our output
    const std::size_t total = c.pausesAt + 50;
    for (std::size_t i = 0; i < total; ++i) {
      f.transport->deliver(c.length ? std::string(c.length, 'x')
                                    : R"({"jsonrpc":"2.0","id":)" + std::to_string(i) + R"(,"method":"ping"})");
      // The reading stops at the bound: a real transport delivers no further line then.
      EXPECT_EQ(f.transport->readingPaused, i + 1 >= c.pausesAt) << i;
    }
    f.io.restart();
    f.io.poll();
    EXPECT_TRUE(f.transport->readingPaused);
    EXPECT_EQ(f.server->messagesInFlight(), total);

    f.transport->releaseSends();
    f.io.restart();
    f.io.run();
    EXPECT_FALSE(f.transport->readingPaused);
    EXPECT_EQ(f.server->messagesInFlight(), 0u);
    EXPECT_EQ(f.server->bytesInFlight(), 0u);
    EXPECT_EQ(f.transport->sent.size(), total);
    test::runAwaitable(f.io, f.server->drain());  // nothing in flight: returns at once
  }
}

TEST(MCPServer, InitializeAndToolsListReflectTheTableAtThatMoment) {
  ServerFixture f;
  const auto init = f.exchange(R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2099-01-01"}})");
  EXPECT_EQ(init.at(0)["result"], (Json{{"protocolVersion", "2024-11-05"},
                                        {"capabilities", {{"tools", Json::object()}}},
                                        {"serverInfo", {{"name", "srv"}, {"version", "2.0.0"}}}}));

  f.server->registerTool(toolNamed("args"), throwing);  // replaces
  f.server->removeTool("sleep");
  EXPECT_EQ(f.server->toolDefinitions().size(), 2u);
  const auto list = f.exchange(R"({"jsonrpc":"2.0","id":2,"method":"tools/list"})");
  const Json tools = list.at(0)["result"]["tools"];
  ASSERT_EQ(tools.size(), 2u);
  EXPECT_FALSE(list.at(0)["result"].contains("nextCursor"));
  const auto replaced = f.exchange(R"({"jsonrpc":"2.0","id":3,"method":"tools/call","params":{"name":"args"}})");
  EXPECT_EQ(replaced.at(0)["result"]["isError"], true);
  const auto removed = f.exchange(R"({"jsonrpc":"2.0","id":4,"method":"tools/call","params":{"name":"sleep"}})");
  EXPECT_EQ(removed.at(0)["error"]["message"], "Unknown tool: sleep");
}

TEST(MCPServer, RunsCallsSideBySideAndAnswersThemAsTheyFinish) {
  ServerFixture f;
  f.transport->deliver(R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"sleep","arguments":{"ms":300}}})");
  f.transport->deliver(R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"sleep","arguments":{"ms":10}}})");
  // A cancellation does not stop the call it names.
  f.transport->deliver(R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":1}})");
  f.io.restart();
  f.io.run();
  ASSERT_EQ(f.transport->sent.size(), 2u);
  EXPECT_EQ(f.transport->sentJson(0)["id"], 2);
  EXPECT_EQ(f.transport->sentJson(1)["id"], 1);
  EXPECT_EQ(f.transport->sentJson(1)["result"]["content"][0]["text"], "300");
}

TEST(MCPServer, NotifiesToolChangesAndStopsItsTransport) {
  ServerFixture f;
  test::runAwaitable(f.io, f.server->notifyToolsChanged());
  EXPECT_EQ(f.transport->sentJson(0), (Json{{"jsonrpc", "2.0"}, {"method", "notifications/tools/list_changed"}}));
  test::runAwaitable(f.io, f.server->stop());
  EXPECT_TRUE(f.transport->closed);
  EXPECT_FALSE(f.server->isRunning());
}

}  // namespace
}  // namespace qd
