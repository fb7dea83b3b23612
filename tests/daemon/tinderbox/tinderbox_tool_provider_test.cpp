#include "daemon/tinderbox/tinderbox_tool_provider.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <asio/io_context.hpp>

#include "daemon/mcp/mcp_client.h"
#include "daemon/mcp/stdio_transport.h"
#include "daemon/utilities/json.h"
#include "support/process_table.h"
#include "support/stderr_capture.h"
#include "support/test_io.h"

namespace qd {
namespace {

using test::runAwaitable;

const auto* const orphanReaper = testing::AddGlobalTestEnvironment(new test::OrphanReaper);

// The provider over a client of the fixture server playing the note app.
class TinderboxToolProviderTest : public testing::Test {
 protected:
  void SetUp() override {
    auto transport = std::make_shared<StdioTransport>(io_.get_executor(), QD_FIXTURE_SERVER,
                                                      std::vector<std::string>{"--note-app"});
    client_ = MCPClient::create(io_.get_executor(), transport, Implementation{"test", "1"}, 60.0);
    runAwaitable(io_, connect(client_));
    provider_.setClient(client_);
  }
  void TearDown() override { runAwaitable(io_, client_->close()); }

  static asio::awaitable<void> connect(std::shared_ptr<MCPClient> client) {
    co_await client->start();
    co_await client->initialize(ClientCapabilities{});
  }

  std::optional<Json> call(const std::string& tool, Json arguments) {
    return runAwaitable(io_, provider_.handle(tool, "client-1", std::move(arguments)));
  }
  static std::string firstText(const Json& result) { return result["content"][0]["text"].get<std::string>(); }
  std::string failureOf(const std::string& tool, Json arguments) {
    try {
      call(tool, std::move(arguments));
    } catch (const ProviderError& e) {
      return e.message();
    }
    return "no failure";
  }
  std::vector<std::string> toolNames() const {
    std::vector<std::string> names;
    for (const MCPTool& tool : provider_.tools()) names.push_back(tool.name);
    return names;
  }

  asio::io_context io_;
  std::shared_ptr<MCPClient> client_;
  TinderboxToolProvider provider_;
};

TEST_F(TinderboxToolProviderTest, ListsNativeToolsThenTheGroupedOnesAndNeverShadowsThem) {
  EXPECT_EQ(toolNames(), (std::vector<std::string>{"tbx_nav", "tbx_doc", "tbx_export"}));
  const MCPTool grouped = provider_.tools().front();
  EXPECT_EQ(grouped.inputSchema.required, std::vector<std::string>{"operation"});
  EXPECT_FALSE(grouped.inputSchema.additionalProperties.has_value());
  EXPECT_FALSE(grouped.inputSchema.schema.has_value());

  runAwaitable(io_, provider_.fetchTinderboxOperations());
  // In the server's order (the fixture lists by name), the server's "tbx_doc" left out.
  EXPECT_EQ(toolNames(), (std::vector<std::string>{"arguments", "crash", "create_note", "echo", "evaluate", "fail",
                                                   "flagged", "get_notes", "set_value", "slow", "tbx_nav", "tbx_doc",
                                                   "tbx_export"}));
  EXPECT_EQ(provider_.cachedOperations(),
            (std::vector<std::string>{"arguments", "crash", "create_note", "echo", "evaluate", "fail", "flagged",
                                      "get_notes", "set_value", "slow"}));
  EXPECT_TRUE(provider_.canHandle("echo"));
  EXPECT_TRUE(provider_.canHandle("quit_tinderbox"));
  EXPECT_FALSE(provider_.canHandle("unknown"));
  EXPECT_EQ(call("tbx_doc", Json{{"operation", "help"}}), std::nullopt);
  EXPECT_EQ(provider_.availableOperations().at("tbx_doc"),
            (std::vector<std::string>{"close_tinderbox_document", "delete_note", "list_tinderbox_windows",
                                      "open_tinderbox", "open_tinderbox_document", "quit_tinderbox",
                                      "restart_tinderbox", "save_tinderbox_document"}));
}

TEST_F(TinderboxToolProviderTest, ForwardsWithoutTheOperationAndWithTheAttributeNameAlone) {
  runAwaitable(io_, provider_.fetchTinderboxOperations());
  const auto result = call("arguments", Json{{"operation", "x"}, {"attribute", "$Name"}, {"note", "/A/$B"}});
  ASSERT_TRUE(result);
  EXPECT_EQ(parseJson(firstText(*result)), (Json{{"attribute", "Name"}, {"note", "/A/$B"}}));
  EXPECT_FALSE(result->contains("isError"));

  const struct {
    Json given, expected;
  } prefixes[] = {{"$Name", "Name"}, {"$", "$"}, {"$$x", "$$x"}, {5, 5}, {"Name", "Name"}};
  for (const auto& c : prefixes) {
    Json arguments{{"attribute", c.given}};
    TinderboxToolProvider::normalizeAttributePrefix(arguments);
    EXPECT_EQ(arguments["attribute"], c.expected) << c.given;
  }

  EXPECT_EQ(failureOf("create_note", Json{{"name", " \n"}}), "create_note requires a non-empty 'name'");
  EXPECT_EQ(failureOf("create_note", Json{{"title", "x"}}), "create_note requires a non-empty 'name'");
  EXPECT_EQ(parseJson(firstText(*call("create_note", Json{{"name", "a"}}))), (Json{{"name", "a"}}));

  const auto flagged = call("flagged", Json::object());
  ASSERT_TRUE(flagged);
  EXPECT_EQ((*flagged)["isError"], true);
}

TEST_F(TinderboxToolProviderTest, ExplainsNotesThatWereNotFound) {
  runAwaitable(io_, provider_.fetchTinderboxOperations());
  const std::string hintStart = "\n\n\u26A0\uFE0F 1 note(s) not found: ";
  const std::string hintEnd =
      ". Paths must be fully qualified (e.g. '/Galaxy/Star 1'). Use get_notes with no parameters to browse all notes.";
  const std::string answer = "\u2022 A\n\u2022  ";
  EXPECT_EQ(firstText(*call("get_notes", Json{{"notes", "/A; /B"}, {"reply", answer}})),
            answer + hintStart + "1 of the requested path" + hintEnd);
  EXPECT_EQ(firstText(*call("get_notes", Json{{"notes", "/B"}, {"reply", answer}})), answer + hintStart + "/B" + hintEnd);
  EXPECT_EQ(firstText(*call("get_notes", Json{{"reply", answer}})), answer);
  EXPECT_EQ(firstText(*call("get_notes", Json{{"notes", "/A"}, {"reply", "\u2022 A"}})), "\u2022 A");

  const auto empty = call("evaluate", Json{{"note", "/Star 1"}, {"reply", " \n"}});
  EXPECT_EQ(*empty, TinderboxToolProvider::makeTextResponse(
                        "No result for note path(s): /Star 1. Ensure paths are fully qualified from the document root "
                        "(e.g. '/Galaxy/Star 1', not '/Star 1')."));
  EXPECT_EQ(firstText(*call("evaluate", Json{{"reply", " "}})), " ");
}

TEST_F(TinderboxToolProviderTest, FailuresWithoutAClientAfterAFailedCallAndAfterAFailedListing) {
  test::StderrCapture stderrCapture;
  runAwaitable(io_, provider_.fetchTinderboxOperations());
  runAwaitable(io_, client_->close());
  EXPECT_EQ(failureOf("echo", Json{{"text", "x"}}).rfind("Tinderbox operation 'echo' failed: ", 0), 0u);
  EXPECT_NE(stderrCapture.text().find("Failed to call Tinderbox tool"), std::string::npos);

  runAwaitable(io_, provider_.fetchTinderboxOperations());  // the listing fails now
  EXPECT_TRUE(provider_.cachedOperations().empty());
  EXPECT_EQ(toolNames(), (std::vector<std::string>{"tbx_nav", "tbx_doc", "tbx_export"}));
  EXPECT_FALSE(provider_.canHandle("echo"));
  EXPECT_TRUE(provider_.canHandle("open_tinderbox"));
  EXPECT_EQ(call("echo", Json::object()), std::nullopt);
  EXPECT_NE(stderrCapture.text().find("Failed to fetch operations"), std::string::npos);

  TinderboxToolProvider unbound;
  try {
    runAwaitable(io_, unbound.handle("echo", "c", Json::object()));
  } catch (const ProviderError&) {
    ADD_FAILURE() << "a name outside the cache was forwarded";
  }
}

TEST_F(TinderboxToolProviderTest, AClearedClientAnswersNotConnected) {
  runAwaitable(io_, provider_.fetchTinderboxOperations());
  provider_.setClient(nullptr);
  EXPECT_EQ(failureOf("echo", Json::object()), "Tinderbox is not connected");
  runAwaitable(io_, provider_.fetchTinderboxOperations());  // no client: the caches stay
  EXPECT_TRUE(provider_.canHandle("echo"));
}

}  // namespace
}  // namespace qd
