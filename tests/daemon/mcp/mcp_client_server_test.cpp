// Our MCPClient over the child-process transport against our MCPServer in the fixture
// program (tests/fixtures/mcp_fixture_server), both ends real.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>

#include "daemon/mcp/mcp_client.h"
#include "daemon/mcp/mcp_error.h"
#include "daemon/mcp/stdio_transport.h"
#include "support/process_table.h"
#include "support/test_io.h"

namespace qd {
namespace {

using test::runAwaitable;

// The fixture is built beside the tests: <build>/tests/fixtures/mcp_fixture_server.
std::string fixturePath() {
  const auto self = std::filesystem::read_symlink("/proc/self/exe");
  return (self.parent_path().parent_path().parent_path() / "fixtures" / "mcp_fixture_server").string();
}

struct Connected {
  asio::io_context io;
  std::shared_ptr<StdioTransport> transport;
  std::shared_ptr<MCPClient> client;

  explicit Connected(double timeoutSeconds = 60, bool initialize = true) {
    transport = std::make_shared<StdioTransport>(io.get_executor(), fixturePath(), std::vector<std::string>{});
    client = MCPClient::create(io.get_executor(), transport, {"tinderbox-supervisor", "0.1.0"}, timeoutSeconds);
    runAwaitable(io, client->start());
    if (initialize) runAwaitable(io, client->initialize({}));
  }
  ~Connected() {
    const auto pid = transport->processPID();
    runAwaitable(io, client->close());
    if (pid) {
      EXPECT_TRUE(test::groupEmptiesWithin(*pid, std::chrono::seconds(60)));
    }
  }
};

asio::awaitable<CallToolResult> callSlow(std::shared_ptr<MCPClient> client, int ms) {
  Json arguments = {{"ms", ms}};
  co_return co_await client->callTool("slow", std::move(arguments));
}

TEST(MCPClientAgainstServer, InitializesListsAndCallsTools) {
  ASSERT_TRUE(std::filesystem::exists(fixturePath())) << fixturePath();
  Connected c;
  EXPECT_EQ(c.client->server()->name, "qd-fixture");
  const auto tools = runAwaitable(c.io, c.client->listTools());
  EXPECT_EQ(tools.tools.size(), 3u);
  const auto echo = runAwaitable(c.io, c.client->callTool("echo", Json{{"text", "hi"}}));
  EXPECT_EQ(echo.content.at(0).text, "hi");
  const auto failed = runAwaitable(c.io, c.client->callTool("fail"));
  EXPECT_EQ(failed.isError, true);
  EXPECT_EQ(failed.content.at(0).text, "Error: the fail tool always fails");
  try {
    runAwaitable(c.io, c.client->callTool("missing"));
    FAIL();
  } catch (const MCPError& e) {
    EXPECT_EQ(e.description(), "MCP server error [-32602]: Unknown tool: missing");
  }
  runAwaitable(c.io, c.client->ping());
}

TEST(MCPClientAgainstServer, ConcurrentCallsAreEachAnsweredToTheirOwnCaller) {
  Connected c;
  constexpr int calls = 50;
  std::vector<std::string> answers(calls);
  int finished = 0;
  for (int i = 0; i < calls; ++i) {
    const int ms = (calls - i) * 4;  // later calls finish first
    asio::co_spawn(c.io, callSlow(c.client, ms), [&, i](std::exception_ptr e, CallToolResult r) {
      answers[i] = e ? "error" : r.content.at(0).text.value_or("");
      ++finished;
    });
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (finished < calls && std::chrono::steady_clock::now() < deadline) c.io.run_one_for(std::chrono::milliseconds(100));
  for (int i = 0; i < calls; ++i) EXPECT_EQ(answers[i], "done after " + std::to_string((calls - i) * 4) + "ms");
}

TEST(MCPClientAgainstServer, ASlowCallTimesOutWithTheMethodName) {
  // No initialize first (the server does not ask for it), so nothing else races the short
  // time-out; the call would take a minute.
  Connected c(0.2, false);
  try {
    runAwaitable(c.io, callSlow(c.client, 60000));
    FAIL();
  } catch (const MCPError& e) {
    EXPECT_EQ(e.description(), "MCP request timed out: tools/call");
  }
  EXPECT_EQ(c.client->pendingRequestCount(), 0u);
}

}  // namespace
}  // namespace qd
