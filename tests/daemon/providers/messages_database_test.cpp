#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "chat_db_fixture.h"
#include "daemon/providers/attributed_body.h"
#include "daemon/providers/messages_database.h"
#include "daemon/runtime/process_runner.h"
#include "support/temp_dir.h"

namespace qd {
namespace {

using namespace MessagesDatabase;
using test::ChatDb;

std::string hexOf(std::string_view bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// 2024-01-02 03:04:05 UTC and a minute later per step.
constexpr std::int64_t kT0 = 1704164645;

class MessagesDatabaseTest : public testing::Test {
 protected:
  void SetUp() override {
    // 'localtime' follows the process's time zone.
    const char* tz = std::getenv("TZ");
    savedTz_ = tz ? std::optional<std::string>(tz) : std::nullopt;
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    db.addHandle(1, "+19025551234");
    db.addHandle(2, "+447700900123");
  }
  void TearDown() override {
    if (savedTz_) ::setenv("TZ", savedTz_->c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
  }

  Json read(const std::string& phone, std::int64_t limit) { return queryMessagesDatabase(path, conversationQuery(phone, limit)); }
  Json unread(std::int64_t limit) { return queryMessagesDatabase(path, unreadQuery(limit)); }
  static std::vector<std::string> contents(const Json& records) {
    std::vector<std::string> out;
    for (const auto& r : records) out.push_back(r["content"].get<std::string>());
    return out;
  }

  test::TempDir home{"chatdb"};
  std::filesystem::path path = databasePath(home.path());
  ChatDb db{path};

 private:
  std::optional<std::string> savedTz_;
};

TEST(MessagesPhoneNumbers, NormalisedToOneHandleId) {
  const std::pair<const char*, const char*> cases[] = {
      {"(902) 555-1234", "+19025551234"},   {"1-902-555-1234", "+19025551234"}, {"+19025551234", "+19025551234"},
      {"55512", "+155512"},                 {"call me", "+1"},                  {"", "+1"},
      {"+44 7700 900123", "+447700900123"}, {"+1 902", "+1902"},                {"1902", "+1902"},
      {"902'555", "+1902555"},              {"+0123", "+0123"},                 {"+", "+1+"},
  };
  for (const auto& [input, expected] : cases) {
    EXPECT_EQ(normalizePhoneNumber(input), std::vector<std::string>{expected}) << input;
  }
  // The id is an SQL literal even if a quote ever reached it.
  EXPECT_NE(conversationQuery("902'555", 1).find("WHERE h.id IN ('+1902555')"), std::string::npos);
}

TEST_F(MessagesDatabaseTest, ConversationReadsBothDirectionsNewestFirstAndSkipsOtherKinds) {
  db.addMessage({.handle = 1, .text = "first", .unixSeconds = kT0, .isFromMe = 0});
  db.addMessage({.handle = 1, .text = "reply", .unixSeconds = kT0 + 60, .isFromMe = 1});
  db.addMessage({.handle = 2, .text = "other person", .unixSeconds = kT0 + 120});
  db.addMessage({.handle = 1, .text = "group event", .unixSeconds = kT0 + 180, .itemType = 1});
  db.addMessage({.handle = 1, .text = "voice", .unixSeconds = kT0 + 240, .isAudio = 1});
  db.addMessage({.handle = 1, .unixSeconds = kT0 + 300});  // nothing to show
  db.addMessage({.handle = 1, .unixSeconds = kT0 + 360, .hasAttachments = 1});

  const Json records = read("(902) 555-1234", 10);
  EXPECT_EQ(contents(records), (std::vector<std::string>{"[No text content]", "reply", "first"}));
  EXPECT_EQ(records[0], (Json{{"sender", "+19025551234"}, {"is_from_me", false}, {"date", "2024-01-02 03:10:05"},
                              {"content", "[No text content]"}, {"has_attachments", true}}));
  EXPECT_EQ(records[1], (Json{{"sender", "+19025551234"}, {"is_from_me", true}, {"date", "2024-01-02 03:05:05"},
                              {"content", "reply"}}));
  EXPECT_EQ(contents(read("+44 7700 900123", 10)), std::vector<std::string>{"other person"});
  EXPECT_EQ(read("5550000", 10), Json::array());
  EXPECT_EQ(formatMessagesJSON(Json::array()), "[]");
}

TEST_F(MessagesDatabaseTest, AHomeWithUriCharactersIsAPlainPath) {
  test::TempDir oddHome("a?mode=ro%20#b");
  ChatDb odd(databasePath(oddHome.path()));
  odd.addHandle(1, "+19025551234");
  odd.addMessage({.handle = 1, .text = "found", .unixSeconds = kT0, .isRead = 0});
  EXPECT_EQ(contents(queryMessagesDatabase(databasePath(oddHome.path()), unreadQuery(5))),
            std::vector<std::string>{"found"});
}

TEST_F(MessagesDatabaseTest, UnreadListsUnreadIncomingOfEveryHandle) {
  db.addMessage({.handle = 1, .text = "read already", .unixSeconds = kT0, .isRead = 1});
  db.addMessage({.handle = 1, .text = "new one", .unixSeconds = kT0 + 60, .isRead = 0});
  db.addMessage({.handle = 2, .text = "newer", .unixSeconds = kT0 + 120, .isRead = 0});
  db.addMessage({.handle = 2, .text = "mine", .unixSeconds = kT0 + 180, .isFromMe = 1, .isRead = 0});
  db.addMessage({.handle = 2, .text = "voice", .unixSeconds = kT0 + 240, .isRead = 0, .isAudio = 1});
  EXPECT_EQ(contents(unread(10)), (std::vector<std::string>{"newer", "new one"}));
  EXPECT_EQ(contents(unread(1)), std::vector<std::string>{"newer"});
}

TEST_F(MessagesDatabaseTest, LimitsAreHeldBetweenNoneAndFifty) {
  for (int i = 0; i < 60; ++i) db.addMessage({.handle = 1, .text = "m" + std::to_string(i), .unixSeconds = kT0 + i, .isRead = 0});
  EXPECT_EQ(read("9025551234", 500).size(), 50u);
  EXPECT_EQ(read("9025551234", 500)[0]["content"], "m59");
  // A negative LIMIT would mean "no limit" to SQLite.
  EXPECT_EQ(read("9025551234", -1), Json::array());
  EXPECT_EQ(unread(-1), Json::array());
  EXPECT_EQ(unread(0), Json::array());
  EXPECT_EQ(unread(500).size(), 50u);
  EXPECT_EQ(conversationQuery("1", 500).substr(conversationQuery("1", 500).size() - 9), "\nLIMIT 50");
}

TEST_F(MessagesDatabaseTest, BodiesAreDecodedWhenTheTextIsEmpty) {
  db.addMessage({.handle = 1, .text = "", .attributedBody = std::string("\x04\x0bstreamtyped NSString\">Hello from the body<"), .unixSeconds = kT0});
  // A capture of five characters loses to a later pattern.
  db.addMessage({.handle = 1, .attributedBody = std::string("NSString\">short< message>the real text<"), .unixSeconds = kT0 + 1});
  db.addMessage({.handle = 1, .text = "plain", .attributedBody = std::string("NSString\">ignored body<"), .unixSeconds = kT0 + 2});
  EXPECT_EQ(contents(read("9025551234", 10)),
            (std::vector<std::string>{"plain", "the real text", "Hello from the body"}));
}

TEST_F(MessagesDatabaseTest, InvalidUtf8SpoilsOnlyItsOwnValue) {
  db.addMessage({.handle = 1, .text = std::string("bad \xff\xfe text"), .unixSeconds = kT0});
  db.addMessage({.handle = 1, .text = "good", .unixSeconds = kT0 + 1});
  const Json records = read("9025551234", 10);
  EXPECT_EQ(contents(records), (std::vector<std::string>{"good", "bad \xEF\xBF\xBD\xEF\xBF\xBD text"}));
  EXPECT_NE(formatMessagesJSON(records).find("good"), std::string::npos);
}

TEST_F(MessagesDatabaseTest, FailuresCarryTheDomainCodeAndSqliteText) {
  const auto failure = [&](const std::filesystem::path& p, const std::string& query, std::chrono::milliseconds limit) {
    try {
      queryMessagesDatabase(p, query, limit);
    } catch (const ProcessRunnerError& e) {
      EXPECT_EQ(e.domain(), "MessagesToolProvider");
      return std::to_string(e.code()) + " " + e.message();
    }
    return std::string("no error");
  };
  EXPECT_EQ(failure(home / "missing.db", unreadQuery(1), kQueryTimeLimit),
            "1 Failed to query Messages database: unable to open database file");

  // A writer holding the database: the reader waits briefly, then reports it locked.
  db.exec("BEGIN EXCLUSIVE; INSERT INTO handle (ROWID, id) VALUES (9, 'x');");
  EXPECT_EQ(failure(path, unreadQuery(1), kQueryTimeLimit), "1 Failed to query Messages database: database is locked");
  db.exec("ROLLBACK;");

  // A query past its time is interrupted.
  db.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
          "INSERT INTO message (text, date, handle_id, is_from_me, is_read, cache_has_attachments, item_type, "
          "is_audio_message) SELECT 'x', i, 1, 0, 0, 0, 0, 0 FROM n;");
  EXPECT_EQ(failure(path, unreadQuery(50), std::chrono::milliseconds(0)),
            "2 Failed to query Messages database: timed out after 0s");
  EXPECT_EQ(failure(path, unreadQuery(50), kQueryTimeLimit), "no error");

  if (::geteuid() != 0) {
    std::filesystem::permissions(path, std::filesystem::perms::none);
    EXPECT_EQ(failure(path, unreadQuery(1), kQueryTimeLimit),
              "1 Failed to query Messages database: unable to open database file");
    std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  }
}

TEST(AttributedBody, CapturesThenCleanUpThenNotReadable) {
  const std::pair<std::string, std::string> cases[] = {
      {hexOf("xx NSString\">  Hi there, you  < yy"), "Hi there, you"},
      {hexOf("NSArray\">a NSString\">12345< b \"string\": \"a json text\""), "a json text"},
      {hexOf("streamtyped\x81\x01NSString\x01+Hi there friend\x86NSDictionary\x01rest"), "there friend"},
      {hexOf("\x01\x02tiny\x03"), "[Message content not readable]"},
      {"zz", "[Message content not readable]"},
      // Not UTF-8: read one character per byte.
      {hexOf("NSString\">caf\xe9 au lait<"), "caf\xC3\xA9 au lait"},
  };
  for (const auto& [hex, expected] : cases) EXPECT_EQ(decodeAttributedBody(hex), expected) << hex;
}

TEST(AttributedBody, CraftedMegabyteBodyStopsAtTheTimeLimit) {
  // Every lazy pattern would rescan the rest of the body from each of its 80,000 starts.
  std::string body;
  while (body.size() < (1u << 20)) body += "NSNumber\">1<";
  const std::string decoded = decodeAttributedBody(hexOf(body));
  EXPECT_EQ(decoded.size(), body.size());
  EXPECT_EQ(decoded.substr(0, 12), "NSNumber\">1<");
}

// A clean-up that runs out of time is not applied at all: never half the body cleaned and
// the rest not.
TEST(AttributedBody, ACleanUpPastTheTimeLimitLeavesTheTextAsItWas) {
  std::string body;
  while (body.size() < (1u << 20)) body += "+ab ";
  const std::string decoded = decodeAttributedBody(hexOf(body));
  EXPECT_EQ(decoded.size(), body.size() - 1);  // only the trailing blank trimmed
  EXPECT_EQ(decoded, body.substr(0, body.size() - 1));
}

}  // namespace
}  // namespace qd
