#include <gtest/gtest.h>

#include <memory>
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
      {R"({"id":8,"method":"ping"})",
       {{"jsonrpc", "2.0"},
        {"error", {{"code", -32700}, {"message", "Failed to parse message: Missing or invalid jsonrpc version"}}}}},
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
  for (const char* line : {"not json", R"([{"jsonrpc":"2.0","id":1,"method":"ping"}])"}) {
    const auto replies = f.exchange(line);
    ASSERT_EQ(replies.size(), 1u) << line;
    EXPECT_FALSE(replies[0].contains("id")) << line;
    EXPECT_EQ(replies[0]["error"]["code"], -32700) << line;
    EXPECT_EQ(replies[0]["error"]["message"].get<std::string>().rfind("Failed to parse message: ", 0), 0u) << line;
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
