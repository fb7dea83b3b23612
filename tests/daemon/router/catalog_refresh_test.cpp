// Refreshing the catalog with a note app attached: its tool list is asked for (the answer
// is not used) and a failure is logged without stopping the refresh.

#include <gtest/gtest.h>

#include <asio/post.hpp>

#include "daemon/mcp/fake_transport.h"
#include "daemon/mcp/mcp_client.h"
#include "daemon_fixture.h"
#include "support/stderr_capture.h"

namespace qd {
namespace {

class CatalogRefreshTest : public test::DaemonFixture {
 protected:
  std::shared_ptr<MCPClient> attachClient() {
    auto client = MCPClient::create(io_.get_executor(), transport_, {"test-client", "0.1.0"}, 3600);
    test::runAwaitable(io_, client->start());
    return client;
  }
  std::shared_ptr<test::FakeTransport> transport_ = std::make_shared<test::FakeTransport>();
};

TEST_F(CatalogRefreshTest, AsksTheNoteAppForItsToolsAndLogsAFailureWithoutStopping) {
  transport_->onSend = [this](const std::string& line) {
    const Json request = parseJson(line);
    if (!request.contains("id")) return;
    asio::post(io_, [this, request] {
      transport_->deliver(dumpJson({{"jsonrpc", "2.0"}, {"id", request["id"]}, {"result", {{"tools", Json::array()}}}}));
    });
  };
  std::shared_ptr<MCPClient> client = attachClient();
  test::runAwaitable(io_, daemon_->setTinderboxProviderClient(client));
  ASSERT_EQ(transport_->sent.size(), 1u);
  EXPECT_EQ(transport_->sentJson(0)["method"], "tools/list");
  EXPECT_FALSE(daemon_->discoveredTools().empty());

  // A note app that answers with an error: the refresh warns and still builds the catalog.
  transport_->onSend = [this](const std::string& line) {
    const Json request = parseJson(line);
    asio::post(io_, [this, request] {
      transport_->deliver(dumpJson(
          {{"jsonrpc", "2.0"}, {"id", request["id"]}, {"error", {{"code", -32603}, {"message", "no document"}}}}));
    });
  };
  test::StderrCapture capture;
  buildCatalog();
  EXPECT_NE(capture.text().find("Failed to fetch Tinderbox native tools during refresh"), std::string::npos)
      << capture.text();
  EXPECT_EQ(daemon_->discoveredTools().front().name, "health_check");
}

}  // namespace
}  // namespace qd
