#include "daemon/utilities/json.h"

#include <gtest/gtest.h>

#include <limits>

namespace qd {
namespace {

TEST(ParseJson, KeepsIntegerKindsAndMemberOrder) {
  const Json v = parseJson(R"({"z":1,"a":-2,"big":18446744073709551615,"huge":18446744073709551616,"f":1.5})");
  EXPECT_EQ(v.begin().key(), "z");
  EXPECT_TRUE(v["z"].is_number_integer());
  EXPECT_FALSE(v["z"].is_number_unsigned());
  EXPECT_EQ(v["a"].get<std::int64_t>(), -2);
  EXPECT_TRUE(v["big"].is_number_float());   // beyond the signed range
  EXPECT_TRUE(v["huge"].is_number_float());
  EXPECT_TRUE(v["f"].is_number_float());
  EXPECT_EQ(parseJson("9223372036854775807").get<std::int64_t>(), std::numeric_limits<std::int64_t>::max());
}

TEST(ParseJson, RejectsMalformedTextWithReadableError) {
  using namespace std::string_literals;
  // A NUL byte ends the parser's input, so the bytes after it must not be ignored.
  for (const std::string& text : {""s, "{"s, "[1,]"s, "{\"a\" 1}"s, "nul"s, "1 2"s, "{\"a\":1}x"s, "// c\n1"s,
                                 "{\"a\":1}\0x"s, "{\"a\":1}\0"s, "\0"s}) {
    try {
      parseJson(text);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const JsonParseError& e) {
      EXPECT_EQ(e.kind(), JsonParseError::Kind::malformed) << text;
      EXPECT_EQ(e.description().rfind("Invalid JSON: ", 0), 0u) << e.description();
    }
  }
}

TEST(ParseJson, EnforcesDepthWhileParsing) {
  EXPECT_NO_THROW(parseJson("[[[1]]]", 3));
  EXPECT_NO_THROW(parseJson("7", 0));
  try {
    parseJson(R"({"a":[[{}]]})", 3);
    ADD_FAILURE();
  } catch (const JsonParseError& e) {
    EXPECT_EQ(e.kind(), JsonParseError::Kind::tooDeep);
  }
  // Ten million opening brackets must be refused without recursion or a huge allocation.
  const std::string deep(10'000'000, '[');
  EXPECT_THROW(parseJson(deep), JsonParseError);
  EXPECT_THROW(parseJson(std::string(100'000, '[') + std::string(100'000, ']')), JsonParseError);
}

TEST(ParseJson, DuplicateKeysKeepTheLastValue) {
  const Json v = parseJson(R"({"a":1,"a":2})");
  EXPECT_EQ(v.size(), 1u);
  EXPECT_EQ(v["a"], 2);
}

TEST(ParseJson, UnpairedSurrogateEscapesBecomeTheReplacementCharacter) {
  // JSON's grammar allows any \u escape; a surrogate without its partner names no
  // character, so it reads as U+FFFD rather than failing the whole message.
  const std::string fffd = "\xEF\xBF\xBD";
  const struct {
    const char* text;
    std::string expected;
  } cases[] = {
      {R"("\uD83D")", fffd},
      {R"("\udc00")", fffd},
      {R"("a\uD83Db")", "a" + fffd + "b"},
      {R"("\uD83D\uD83D\uDE00")", fffd + "\xF0\x9F\x98\x80"},  // the second high one has its partner
      {R"("\uDE00\uD83D")", fffd + fffd},                           // the wrong order pairs nothing
      {R"("\uD83D\u0041")", fffd + "A"},
      {R"("\uD83D\uDE00")", "\xF0\x9F\x98\x80"},                  // a real pair is untouched
      {R"("\\uD83D")", "\\uD83D"},                                   // an escaped backslash, no escape
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parseJson(c.text).get<std::string>(), c.expected) << c.text;
  }
  const Json call = parseJson(R"({"id":7,"params":{"\uDBFF":["x\uD800"]}})");
  EXPECT_EQ(call["id"], 7);
  EXPECT_EQ(call["params"][fffd][0], "x" + fffd);
  // A broken escape stays an error.
  EXPECT_THROW(parseJson(R"("\uD83")"), JsonParseError);
  // A file that is written back keeps refusing it: U+FFFD would replace the user's text.
  EXPECT_THROW(parseJsonExactly(R"({"a":"\uD83D"})"), JsonParseError);
}

TEST(ParseJsonExactly, RefusesWhatARewriteWouldChange) {
  for (const char* text : {R"({"a":1,"a":2})", R"({"o":{"k":[{"x":1,"x":1}]}})", R"([18446744073709551615])",
                           R"({"n":-9223372036854775809})"}) {
    try {
      (void)parseJsonExactly(text);
      ADD_FAILURE() << "accepted " << text;
    } catch (const JsonParseError& e) {
      EXPECT_EQ(e.kind(), JsonParseError::Kind::inexact) << text;
    }
  }
  // The same key in sibling objects, the extreme integers and ordinary floats are fine.
  const Json v = parseJsonExactly(R"({"a":{"k":1},"b":{"k":2},"min":-9223372036854775808,"max":9223372036854775807,"f":1.5e3})");
  EXPECT_EQ(v["min"], std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(v["max"], std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(v["f"], 1500.0);
  EXPECT_THROW(parseJsonExactly("{"), JsonParseError);
  EXPECT_THROW(parseJsonExactly("[1e999]"), JsonParseError);  // out of range for a double
}

TEST(WithSortedKeys, SortsEveryObjectByBytes) {
  const Json v = parseJson(R"({"b":[{"z":1,"a":2}],"B":0,"é":1,"a":{"y":1,"x":2}})");
  EXPECT_EQ(dumpJson(withSortedKeys(v)), "{\"B\":0,\"a\":{\"x\":2,\"y\":1},\"b\":[{\"a\":2,\"z\":1}],\"\u00e9\":1}");
}

TEST(DumpJson, ReplacesInvalidUtf8InsteadOfThrowing) {
  const Json v = {{"out", std::string("ok\xff")}};
  EXPECT_EQ(dumpJson(v), "{\"out\":\"ok\xEF\xBF\xBD\"}");
  EXPECT_EQ(dumpJson(Json{{"a", 1}}, 2), "{\n  \"a\": 1\n}");
}

}  // namespace
}  // namespace qd
