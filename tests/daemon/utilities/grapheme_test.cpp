#include <gtest/gtest.h>

#include "daemon/utilities/unicode_text.h"

namespace qd {
namespace {

TEST(Graphemes, CountsUserPerceivedCharacters) {
  struct Case {
    const char* text;
    std::size_t count;
  };
  const Case cases[] = {
      {"", 0},
      {"abc", 3},
      {"e\u0301", 1},                          // e + combining acute
      {"\U0001F1E9\U0001F1EA", 1},             // a flag: two regional indicators
      {"\U0001F468\u200D\U0001F469\u200D\U0001F467", 1},  // a family joined by ZWJs
      {"\r\n", 1},
      {"a\xff" "b", 3},                        // an ill-formed byte is a character of its own
  };
  for (const auto& c : cases) EXPECT_EQ(unicode::graphemeCount(c.text), c.count) << c.text;
}

TEST(Graphemes, TruncatesOnClusterBoundariesOnly) {
  EXPECT_EQ(unicode::truncatedToGraphemes("abcdef", 3), "abc");
  EXPECT_EQ(unicode::truncatedToGraphemes("ab", 3), "ab");
  EXPECT_EQ(unicode::truncatedToGraphemes("abc", 0), "");

  // 600 accented letters of three bytes each: cut to 500 whole clusters, 1500 bytes.
  std::string accented;
  for (int i = 0; i < 600; ++i) accented += "e\u0301";
  const std::string cut = unicode::truncatedToGraphemes(accented, 500);
  EXPECT_EQ(cut.size(), 1500u);
  EXPECT_EQ(unicode::graphemeCount(cut), 500u);

  // A four-byte emoji after one letter: never half a sequence.
  const std::string emoji = "x\U0001F600\U0001F600";
  EXPECT_EQ(unicode::truncatedToGraphemes(emoji, 2), "x\U0001F600");
  EXPECT_TRUE(unicode::isValidUtf8(unicode::truncatedToGraphemes(emoji, 2)));

  // Ill-formed input is cut without touching the bytes kept.
  EXPECT_EQ(unicode::truncatedToGraphemes("\xff\xfe\xfd", 2), "\xff\xfe");
}

TEST(Graphemes, ByteLimitedCutsEndOnACharacterBoundary) {
  struct Case {
    std::string text;
    std::size_t maxBytes;
    std::string expected;
  };
  const Case cases[] = {
      {"abc", 3, "abc"},
      {"abcd", 3, "abc"},
      {"a\u00e9", 2, "a"},                 // "é" is two bytes: not split
      {"ae\u0301x", 3, "a"},               // e + combining accent stays whole
      {"\U0001F600\U0001F600", 6, "\U0001F600"},
      {"xyz", 0, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(unicode::truncatedToBytes(c.text, c.maxBytes), c.expected) << c.text;
}

TEST(Graphemes, IllFormedSequencesBecomeReplacementCharacters) {
  struct Case {
    std::string bytes;
    std::string expected;
  };
  const Case cases[] = {
      {"plain \u00e9", "plain \u00e9"},
      {"a\xff" "b", "a\uFFFD" "b"},
      {"\xe2\x82", "\uFFFD"},                 // a truncated sequence is one maximal subpart
      {"\xc0\xaf", "\uFFFD\uFFFD"},           // an overlong form: each byte on its own
      {"ok\xed\xa0\x80", "ok\uFFFD\uFFFD\uFFFD"},  // a surrogate
  };
  for (const auto& c : cases) {
    const std::string out = unicode::replacingInvalidUtf8(c.bytes);
    EXPECT_EQ(out, c.expected);
    EXPECT_TRUE(unicode::isValidUtf8(out));
  }
}

}  // namespace
}  // namespace qd
