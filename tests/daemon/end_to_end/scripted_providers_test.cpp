// The scripted application providers through the real daemon program, in tier dev: a fake
// osascript first on PATH records its arguments (and refuses once the test says so), and
// HOME holds a small Messages database. Messages are read from the database newest first
// within the row cap; scripts carry escaped text; a refused automation check answers with
// the guidance; a missing database is named with its path; an argument holding a NUL byte
// never reaches osascript.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "daemon/providers/chat_db_fixture.h"
#include "socket_session.h"
#include "support/recording_fakes.h"

namespace qd {
namespace {

std::string readText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class ScriptedProvidersEndToEnd : public test::SocketSession {
 protected:
  void SetUp() override {
    buildChatDb();
    const std::filesystem::path bin = home_.path() / "bin";
    // Exits 0 without output, one line per argument in the log; exits 1 while the switch
    // file exists, as osascript does when automation is refused.
    writeFileAtomically(bin / "osascript",
                        "#!/bin/sh\n"
                        "for a in \"$@\"; do printf '%s\\n' \"$a\"; done >> '" +
                            scriptLog().string() + "'\n" + "[ -e '" + refuseSwitch().string() +
                            "' ] && exit 1\n"
                            "exit 0\n",
                        AtomicWriteOptions{}.withMode(0755).creatingFolder());
    const char* path = std::getenv("PATH");
    const Json readOnly{{"read", true}, {"write", false}};
    startDaemon("dev",
                Json{{"helperToolEnabled", {{"messages", true}, {"notes", true}, {"reminders", true}}},
                     {"defaultCategoryPolicy", {{"messages", readOnly}, {"notes", readOnly}, {"reminders", readOnly}}}},
                {{"PATH", bin.string() + ":" + (path ? path : "/usr/bin:/bin")}, {"TZ", "UTC"}});
    client_ = connect();
  }

  std::filesystem::path chatDb() const { return home_.path() / "Library/Messages/chat.db"; }
  std::filesystem::path scriptLog() const { return home_.path() / "osascript-arguments.log"; }
  std::filesystem::path refuseSwitch() const { return home_.path() / "osascript-refuses"; }

  // Handle 1 is (902) 555-1234 with 60 read messages "m0".."m59", a minute apart; handle 2
  // has two unread incoming messages, one unread of our own and one read.
  void buildChatDb() {
    test::ChatDb db(chatDb());
    db.addHandle(1, "+19025551234");
    db.addHandle(2, "+15555550100");
    const std::int64_t start = 1'780'000'000;
    for (int i = 0; i < 60; ++i) {
      db.addMessage({.handle = 1, .text = "m" + std::to_string(i), .unixSeconds = start + 60 * i, .isFromMe = i % 2});
    }
    db.addMessage({.handle = 2, .text = "u1", .unixSeconds = start + 10, .isRead = 0});
    db.addMessage({.handle = 2, .text = "mine", .unixSeconds = start + 20, .isFromMe = 1, .isRead = 0});
    db.addMessage({.handle = 2, .text = "u2", .unixSeconds = start + 30, .isRead = 0});
    db.addMessage({.handle = 2, .text = "seen", .unixSeconds = start + 40});
  }

  // The contents of the messages a read answered, in its order.
  std::vector<std::string> contents(const Json& reply) {
    std::vector<std::string> out;
    const std::string body = text(reply);
    const Json records = parseJson(body);
    if (!records.is_array()) {
      ADD_FAILURE() << "not a list of messages: " << body;
      return out;
    }
    for (const Json& record : records) out.push_back(record.value("content", "<none>"));
    return out;
  }

  std::vector<std::string> newestFirst(int from, int to) {
    std::vector<std::string> out;
    for (int i = from; i >= to; --i) out.push_back("m" + std::to_string(i));
    return out;
  }

  std::unique_ptr<test::SocketLineClient> client_;
};

TEST_F(ScriptedProvidersEndToEnd, MessagesAreReadFromTheDatabaseNewestFirstWithinTheCap) {
  const Json number{{"phoneNumber", "(902) 555-1234"}};
  EXPECT_EQ(contents(call(*client_, "messages_read", number)), newestFirst(59, 50));
  Json many = number;
  many["limit"] = 500;
  EXPECT_EQ(contents(call(*client_, "messages_read", many)), newestFirst(59, 10));
  Json negative = number;
  negative["limit"] = -1;
  EXPECT_EQ(text(call(*client_, "messages_read", negative)), "[]");

  const Json unread = parseJson(text(call(*client_, "messages_unread")));
  ASSERT_EQ(unread.size(), 2u) << unread;
  EXPECT_EQ(unread[0]["content"], "u2");
  EXPECT_EQ(unread[1]["content"], "u1");
  EXPECT_EQ(unread[0]["sender"], "+15555550100");

  // The database gone: the failure names where it was looked for.
  std::filesystem::rename(chatDb(), home_.path() / "chat.db.moved");
  const std::string missing = error(call(*client_, "messages_unread"));
  EXPECT_NE(missing.find("chat.db not found at " + chatDb().string()), std::string::npos) << missing;
}

TEST_F(ScriptedProvidersEndToEnd, ScriptsCarryEscapedTextAndARefusedCheckAnswersWithGuidance) {
  call(*client_, "notes_search", {{"searchText", "a\"b"}});
  const std::string arguments = readText(scriptLog());
  EXPECT_NE(arguments.find(R"(contains "a\"b")"), std::string::npos) << arguments;

  std::ofstream(refuseSwitch()).put('\n');
  const std::string refused = error(call(*client_, "reminders_list"));
  EXPECT_TRUE(refused.starts_with("Reminders access is required for automation request to Reminders")) << refused;
  EXPECT_NE(refused.find("Privacy & Security > Automation"), std::string::npos) << refused;
  EXPECT_TRUE(refused.ends_with("Details: Permission preflight failed")) << refused;
}

// A NUL byte would end the C string the program gets, cutting a script line inside its
// quoted literal, so that a second argument the caller controls became script code: such a
// call fails before osascript runs it.
class NulBytesEndToEnd : public test::SocketSession {
 protected:
  void SetUp() override {
    fakes_.add("osascript");
    const char* path = std::getenv("PATH");
    const Json readWrite{{"read", true}, {"write", true}};
    startDaemon("dev",
                Json{{"helperToolEnabled", {{"mail", true}, {"messages", true}}},
                     {"defaultCategoryPolicy", {{"mail", readWrite}, {"messages", readWrite}}}},
                {{"PATH", fakes_.bin().string() + ":" + (path ? path : "/usr/bin:/bin")}});
  }

  test::RecordingFakes fakes_;
};

TEST_F(NulBytesEndToEnd, AnArgumentWithANulByteFailsAndNeverReachesOsascript) {
  auto client = connect();
  const std::string escape = R"(" & (do shell script "touch /tmp/qd-nul-escaped") & ")";
  const std::string nul(1, '\0');
  struct Case {
    const char* tool;
    Json arguments;
    const char* application;  // whose access the provider checks first, with a script of its own
    const char* domain;
  };
  const Case cases[] = {
      {"mail_send", {{"to", escape}, {"subject", "s"}, {"body", "body" + nul}}, "Mail", "MailToolProvider"},
      {"messages_send", {{"phoneNumber", "+1" + nul}, {"message", escape}}, "Messages", "MessagesToolProvider"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(error(call(*client, c.tool, c.arguments)),
              "Error Domain=" + std::string(c.domain) + " Code=1 \"AppleScript failed: argument contains a NUL byte\"");
  }
  // osascript ran only the access checks, which carry no text of the caller.
  std::vector<std::vector<std::string>> expected;
  for (const Case& c : cases) expected.push_back({"tell application \"" + std::string(c.application) + "\" to get name"});
  EXPECT_EQ(fakes_.scripts(), expected);
}

}  // namespace
}  // namespace qd
