#include <gtest/gtest.h>

#include "daemon/providers/mail_provider.h"
#include "scripted_provider_harness.h"

namespace qd {
namespace {

class MailTest : public testing::Test, protected test::ScriptedProviderHarness {
 protected:
  std::string text(Json arguments) { return ScriptedProviderHarness::text(provider, "mail", std::move(arguments)); }
  std::vector<std::string> lines(Json arguments) {
    runner->runs.clear();
    runner->answer("mail", "out");
    EXPECT_EQ(text(arguments), "out") << arguments.dump();
    EXPECT_EQ(preflights(), std::vector<std::string>{"permissions-mail"});
    EXPECT_EQ(scripts().size(), 1u);
    if (scripts().empty()) return {};
    const ScriptRun run = scripts()[0];
    EXPECT_EQ(run.lane, "mail");
    EXPECT_EQ(run.timeoutSeconds, 15.0);
    EXPECT_EQ(run.errorDomain, "MailToolProvider");
    EXPECT_EQ(run.failureDescription, "AppleScript failed");
    return test::RecordingScriptRunner::lines(run);
  }
  static bool has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  MailToolProvider provider{"mail", FeatureTier::dev, runner};
};

const std::vector<std::string> kClosing{"set AppleScript's text item delimiters to linefeed",
                                        "set outputText to outLines as text",
                                        "set AppleScript's text item delimiters to \"\"", "return outputText",
                                        "end tell"};

TEST_F(MailTest, ListingsBoundTheirLimits) {
  const struct {
    Json arguments;
    std::string source;
    std::string maxCount;
  } cases[] = {
      {Json::object(), "set allUnread to (messages of inbox whose read status is false)", "set maxCount to 10"},
      {{{"operation", "unread"}, {"limit", 0}}, "set allUnread to (messages of inbox whose read status is false)",
       "set maxCount to 1"},
      {{{"operation", "unread"}, {"limit", 500}}, "set allUnread to (messages of inbox whose read status is false)",
       "set maxCount to 500"},
      {{{"operation", "latest"}}, "set allUnread to (messages of inbox)", "set maxCount to 5"},
      {{{"operation", "latest"}, {"limit", 500}}, "set allUnread to (messages of inbox)", "set maxCount to 20"},
      {{{"operation", "latest"}, {"limit", -3}}, "set allUnread to (messages of inbox)", "set maxCount to 1"},
  };
  for (const auto& c : cases) {
    const auto script = lines(c.arguments);
    ASSERT_GE(script.size(), 8u);
    EXPECT_EQ(script[0], "tell application \"Mail\"");
    EXPECT_EQ(script[1], "set outLines to {}");
    EXPECT_EQ(script[2], c.source) << c.arguments.dump();
    EXPECT_EQ(script[3], c.maxCount) << c.arguments.dump();
    EXPECT_TRUE(std::equal(kClosing.begin(), kClosing.end(), script.end() - 5)) << c.arguments.dump();
  }
  EXPECT_TRUE(has(lines({{"operation", "unread"}}),
                  "set end of outLines to ((subject of m as string) & \" | \" & (sender of m as string))"));
  EXPECT_TRUE(has(lines({{"operation", "latest"}}),
                  "set end of outLines to ((subject of m as string) & \" | \" & (sender of m as string) & \" | \" & "
                  "((date sent of m) as string) & \" | \" & readText)"));
}

TEST_F(MailTest, SearchSendAndNameListings) {
  auto search = lines({{"operation", "search"}, {"searchTerm", "a \"b\" \\c\nd"}, {"limit", 500}});
  EXPECT_TRUE(has(search, "if emailSubject contains \"a \\\"b\\\" \\\\c\nd\" then"));
  EXPECT_TRUE(has(search, "if emailCount >= 20 then exit repeat"));
  EXPECT_TRUE(has(search, "set end of outLines to (emailSubject & \" | \" & emailSender & \" | \" & emailDate & \" | \" & "
                          "mailboxName)"));
  EXPECT_TRUE(has(lines({{"operation", "search"}, {"searchTerm", "x"}}), "if emailCount >= 10 then exit repeat"));

  EXPECT_EQ(lines({{"operation", "send"}, {"to", "a@b.c"}, {"subject", "S \"1\""}, {"body", ""}}),
            (std::vector<std::string>{
                "tell application \"Mail\"",
                "set newMessage to make new outgoing message with properties {subject:\"S \\\"1\\\"\", ¬\n"
                "content:\"\", visible:false}",
                "tell newMessage",
                "make new to recipient at end of to recipients with properties {address:\"a@b.c\"}", "send", "end tell",
                "return \"sent\"", "end tell"}));

  std::vector<std::string> mailboxes{"tell application \"Mail\"",
                                     "set outLines to {}",
                                     "try",
                                     "set allMailboxes to mailboxes",
                                     "repeat with mb in allMailboxes",
                                     "try",
                                     "set end of outLines to (name of mb as string)",
                                     "on error",
                                     "end try",
                                     "end repeat",
                                     "on error",
                                     "end try"};
  mailboxes.insert(mailboxes.end(), kClosing.begin(), kClosing.end());
  EXPECT_EQ(lines({{"operation", "mailboxes"}}), mailboxes);
  const auto accounts = lines({{"operation", "accounts"}});
  EXPECT_TRUE(has(accounts, "set allAccounts to accounts"));
  EXPECT_TRUE(has(accounts, "repeat with acct in allAccounts"));
  EXPECT_TRUE(has(accounts, "set end of outLines to (name of acct as string)"));
}

TEST_F(MailTest, RepliesThatRunNoScriptAndFailures) {
  const struct {
    Json arguments;
    std::string reply;
    std::size_t preflights;
  } cases[] = {
      {{{"operation", "search"}, {"searchTerm", ""}}, "Missing searchTerm", 1},
      {{{"operation", "send"}, {"to", "a"}, {"body", "b"}}, "Missing to/subject/body", 1},
      {{{"operation", "Send"}}, "Unsupported mail operation: Send", 0},
  };
  for (const auto& c : cases) {
    runner->runs.clear();
    EXPECT_EQ(text(c.arguments), c.reply) << c.arguments.dump();
    EXPECT_TRUE(scripts().empty());
    EXPECT_EQ(preflights().size(), c.preflights);
  }
  runner->runs.clear();
  EXPECT_NE(text({{"operation", "help"}}).find("(default: 10 for unread, 5 for latest, 10 for search; max: 20 for search)"),
            std::string::npos);
  EXPECT_TRUE(runner->runs.empty());

  runner->fail("mail", ProcessRunnerError("MailToolProvider", 2, "AppleScript failed: timed out after 15s"));
  EXPECT_EQ(failure(provider, "mail", {{"operation", "accounts"}}),
            "MailToolProvider 2 AppleScript failed: timed out after 15s");
  refusePreflight("permissions-mail");
  EXPECT_EQ(failure(provider, "mail", {{"operation", "unread"}}).substr(0, 50),
            "PermissionGuidance 1 Mail access is required for a");
}

}  // namespace
}  // namespace qd
