#include <gtest/gtest.h>

#include "chat_db_fixture.h"
#include "daemon/providers/messages_database.h"
#include "daemon/providers/messages_provider.h"
#include "scripted_provider_harness.h"
#include "support/temp_dir.h"

namespace qd {
namespace {

class MessagesProviderTest : public testing::Test, protected test::ScriptedProviderHarness {
 protected:
  std::string text(Json arguments) { return ScriptedProviderHarness::text(provider, "messages", std::move(arguments)); }
  std::string failure(Json arguments) {
    return ScriptedProviderHarness::failure(provider, "messages", std::move(arguments));
  }
  void makeDatabase() {
    db = std::make_unique<test::ChatDb>(MessagesDatabase::databasePath(home.path()));
    db->addHandle(1, "+19025551234");
    for (int i = 0; i < 60; ++i) {
      db->addMessage({.handle = 1, .text = "m" + std::to_string(i), .unixSeconds = 1704164645 + i, .isRead = 0});
    }
  }
  std::size_t rowsIn(const std::string& reply) { return parseJson(reply).size(); }

  test::TempDir home{"messages-home"};
  std::unique_ptr<test::ChatDb> db;
  BlockingPool pool{2};
  MessagesToolProvider provider{"messages", FeatureTier::dev, runner, pool,
                                platform::Environment{{"HOME", home.string()}}};
};

TEST_F(MessagesProviderTest, SendRunsItsEscapedScriptOnTheMessagesLane) {
  runner->answer("messages", "sent");
  EXPECT_EQ(text({{"operation", "send"}, {"phoneNumber", "902\"555"}, {"message", "a \"quote\" \\ and\nline"}}), "sent");
  EXPECT_EQ(preflights(), std::vector<std::string>{"permissions-messages"});
  ASSERT_EQ(scripts().size(), 1u);
  test::expectRun(scripts()[0], "messages", 15.0, "MessagesToolProvider", "AppleScript failed",
                  {"tell application \"Messages\"", "set targetService to 1st service whose service type = SMS",
                   "set targetBuddy to buddy \"902\\\"555\" of targetService",
                   "send \"a \\\"quote\\\" \\\\ and\nline\" to targetBuddy", "return \"sent\"", "end tell"},
                  "send");
  // An empty message is still sent.
  runner->runs.clear();
  EXPECT_EQ(text({{"operation", "send"}, {"phoneNumber", "1"}, {"message", ""}}), "sent");
  EXPECT_EQ(test::RecordingScriptRunner::lines(scripts()[0])[3], "send \"\" to targetBuddy");

  runner->fail("messages", ProcessRunnerError("MessagesToolProvider", 2, "AppleScript failed: timed out after 15s"));
  EXPECT_EQ(failure({{"operation", "send"}, {"phoneNumber", "1"}, {"message", "x"}}),
            "MessagesToolProvider 2 AppleScript failed: timed out after 15s");
}

TEST_F(MessagesProviderTest, RepliesThatRunNoScript) {
  makeDatabase();
  const struct {
    Json arguments;
    std::string reply;
    std::size_t preflights;
  } cases[] = {
      {{{"operation", "send"}, {"phoneNumber", "1"}}, "Missing phoneNumber or message", 1},
      {{{"operation", "send"}, {"message", "x"}, {"phoneNumber", 5}}, "Missing phoneNumber or message", 1},
      {{{"operation", "read"}, {"phoneNumber", ""}}, "Missing phoneNumber", 1},
      {{{"operation", "schedule"}, {"message", "x"}},
       R"({"success":false,"error":"Message scheduling is not supported by Messages.app. Consider using shortcuts.app or a third-party scheduling tool."})",
       1},
      {{{"operation", "Send"}}, "Unsupported messages operation: Send", 0},
      {{{"operation", "read"}, {"phoneNumber", "(902) 555-1234"}, {"limit", -1}}, "[]", 1},
      {{{"operation", "read"}, {"phoneNumber", "+44 20"}}, "[]", 1},
  };
  for (const auto& c : cases) {
    runner->runs.clear();
    EXPECT_EQ(text(c.arguments), c.reply) << c.arguments.dump();
    EXPECT_TRUE(scripts().empty()) << c.arguments.dump();
    EXPECT_EQ(preflights().size(), c.preflights) << c.arguments.dump();
  }
  runner->runs.clear();
  EXPECT_NE(text({{"operation", "help"}}).find("# Apple Messages Operations"), std::string::npos);
  EXPECT_TRUE(runner->runs.empty());
}

TEST_F(MessagesProviderTest, ReadsComeFromTheDatabaseNewestFirst) {
  makeDatabase();
  // No operation: the unread messages, ten at most.
  const Json unread = parseJson(text(Json::object()));
  ASSERT_EQ(unread.size(), 10u);
  EXPECT_EQ(unread[0]["content"], "m59");
  EXPECT_EQ(rowsIn(text({{"operation", "unread"}, {"limit", 2.9}})), 2u);
  EXPECT_EQ(rowsIn(text({{"operation", "read"}, {"phoneNumber", "(902) 555-1234"}, {"limit", 500}})), 50u);
  EXPECT_EQ(rowsIn(text({{"operation", "read"}, {"phoneNumber", "19025551234"}, {"limit", 1e300}})), 50u);
  EXPECT_EQ(rowsIn(text({{"operation", "read"}, {"phoneNumber", "9025551234"}, {"limit", "7"}})), 10u);
  EXPECT_EQ(preflights(), std::vector<std::string>(5, "permissions-messages"));
}

TEST_F(MessagesProviderTest, RefusedChecksAreThrown) {
  // No database under the home folder: guidance with the path, before any query.
  const std::string missing = failure({{"operation", "unread"}});
  EXPECT_TRUE(missing.starts_with("PermissionGuidance 2 Messages access is required for Messages database access"))
      << missing;
  EXPECT_NE(missing.find("Details: chat.db not found at " + home.string() + "/Library/Messages/chat.db"),
            std::string::npos);
  EXPECT_EQ(failure({{"operation", "read"}, {"phoneNumber", ""}}).substr(0, 20), "PermissionGuidance 2");

  refusePreflight("permissions-messages");
  for (const char* operation : {"send", "read", "unread", "schedule"}) {
    const std::string refused = failure({{"operation", operation}, {"phoneNumber", "1"}, {"message", "x"}});
    EXPECT_TRUE(refused.starts_with("PermissionGuidance 1 Messages access is required")) << refused;
    EXPECT_TRUE(refused.ends_with("Details: Permission preflight failed")) << refused;
  }
  EXPECT_TRUE(scripts().empty());
}

}  // namespace
}  // namespace qd
