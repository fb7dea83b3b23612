// Our MCPClient drives the official reference server, @modelcontextprotocol/server-everything,
// over the child-process transport. The build names node (QD_NODE_PATH) and the folder the
// pinned packages are installed into (QD_INTEROP_MODULES, by npm ci in tests/interop).

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <asio/io_context.hpp>

#include "daemon/mcp/mcp_client.h"
#include "daemon/mcp/mcp_error.h"
#include "daemon/mcp/stdio_transport.h"
#include "support/test_io.h"

namespace qd {
namespace {

using test::runAwaitable;

class EverythingServer : public testing::Test {
 protected:
  void SetUp() override {
    const std::string modules = QD_INTEROP_MODULES;
    server_ = modules + "/@modelcontextprotocol/server-everything/dist/index.js";
    ASSERT_TRUE(std::filesystem::exists(server_))
        << "the reference server is not installed at " << server_ << "; run \"npm ci\" in tests/interop";
    ASSERT_FALSE(std::string(QD_NODE_PATH).empty()) << "node was not found when the build was configured";
  }

  std::shared_ptr<MCPClient> connect(double timeoutSeconds) {
    transport_ = std::make_shared<StdioTransport>(io_.get_executor(), std::string(QD_NODE_PATH),
                                                  std::vector<std::string>{server_, "stdio"});
    auto client = MCPClient::create(io_.get_executor(), transport_, {"tinderbox-supervisor", "0.1.0"}, timeoutSeconds);
    runAwaitable(io_, client->start());
    return client;
  }

  asio::io_context io_;
  std::string server_;
  std::shared_ptr<StdioTransport> transport_;
};

TEST_F(EverythingServer, InitializesPagesThroughToolsAndCallsOne) {
  auto client = connect(60);
  const auto init = runAwaitable(io_, client->initialize({}));
  EXPECT_FALSE(init.serverInfo.name.empty());
  EXPECT_TRUE(init.capabilities.tools.has_value());

  std::set<std::string> names;
  std::optional<std::string> cursor;
  for (int page = 0; page < 100; ++page) {
    const auto result = runAwaitable(io_, client->listTools(cursor));
    for (const auto& tool : result.tools) names.insert(tool.name);
    cursor = result.nextCursor;
    if (!cursor) break;
  }
  EXPECT_TRUE(names.count("echo")) << "tools: " << names.size();

  const auto echo = runAwaitable(io_, client->callTool("echo", Json{{"message", "from qd"}}));
  ASSERT_FALSE(echo.content.empty());
  EXPECT_EQ(echo.content[0].text, "Echo: from qd");
  EXPECT_FALSE(echo.isError.value_or(false));
  runAwaitable(io_, client->ping());
  runAwaitable(io_, client->close());
}

TEST_F(EverythingServer, ACallLongerThanTheTimeOutFailsWithTheMethodName) {
  // Long enough for node to start and answer initialize on a busy machine (as long as the
  // daemon gives its note app to start), far shorter than the 30 s operation.
  auto client = connect(12);
  runAwaitable(io_, client->initialize({}));
  try {
    runAwaitable(io_, client->callTool("trigger-long-running-operation", Json{{"duration", 30}, {"steps", 2}}));
    FAIL() << "the call did not time out";
  } catch (const MCPError& e) {
    EXPECT_EQ(e.description(), "MCP request timed out: tools/call");
  }
  runAwaitable(io_, client->close());
  EXPECT_FALSE(transport_->processPID().has_value());
}

}  // namespace
}  // namespace qd
