#include <gtest/gtest.h>
#include <unistd.h>

#include "daemon/utilities/agent_name.h"
#include "daemon/utilities/process_alive.h"
#include "daemon/utilities/unicode_text.h"
#include "daemon/utilities/unix_time.h"

namespace qd {
namespace {

TEST(AgentName, OnlyAsciiLettersDigitsUnderscoreAndHyphen) {
  for (const char* ok : {"alice", "Agent_7", "a-b", "_", "-", "0"}) EXPECT_TRUE(isValidAgentName(ok)) << ok;
  for (const char* bad : {"", "a b", "a.b", "alice\n", "\nalice", "caf\u00e9", "a/b"}) {
    EXPECT_FALSE(isValidAgentName(bad)) << bad;
  }
  EXPECT_FALSE(isValidAgentName(std::string_view("a\0b", 3)));
}

TEST(UnixTime, TruncatesTowardZeroOnBothSidesOf1970) {
  using namespace std::chrono;
  const auto epoch = system_clock::time_point{};
  EXPECT_EQ(unixMilliseconds(epoch + microseconds(900)), 0);
  EXPECT_EQ(unixMilliseconds(epoch - microseconds(1500)), -1);
  EXPECT_EQ(unixMilliseconds(epoch + milliseconds(1772719629042)), 1772719629042);
  EXPECT_EQ(unixMilliseconds(dateFromUnixMilliseconds(-123456)), -123456);
}

TEST(ProcessAlive, OwnPidIsAliveAndAnUnusedPidIsNot) {
  EXPECT_TRUE(isProcessAlive(::getpid()));
  EXPECT_FALSE(isProcessAlive(0x3fffffff));  // above any pid_max
}

TEST(UnicodeText, Utf8ValidityAndNormalForm) {
  EXPECT_TRUE(unicode::isValidUtf8("plain \u00e9 \U0001F600"));
  for (const char* bad : {"\xff", "\xc3", "\xed\xa0\x80", "\xc0\xaf"}) EXPECT_FALSE(unicode::isValidUtf8(bad));
  EXPECT_EQ(unicode::normalizedNFC("e\u0301"), "\u00e9");
  EXPECT_EQ(unicode::normalizedNFC("\xff"), "\xff");
}

}  // namespace
}  // namespace qd
