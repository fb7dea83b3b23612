#include "daemon/tinderbox/argument_helpers.h"

#include <gtest/gtest.h>

namespace qd {
namespace {

TEST(ArgumentHelpers, StringArrayTakesStringsAndNumbersButNeverBooleans) {
  EXPECT_EQ(stringArray(Json::parse(R"(["a", 7, -2, 1.5, true, false, null, ["x"], {"k": 1}])")),
            (std::vector<std::string>{"a", "7", "-2", "1.5"}));
  EXPECT_TRUE(stringArray(Json("a")).empty());
  EXPECT_TRUE(stringArray(Json()).empty());
}

TEST(ArgumentHelpers, StringDictionary) {
  const auto map = stringDictionary(Json::parse(R"({"s": "text", "i": 3, "b": true, "d": 2.5, "n": null})"));
  EXPECT_EQ(map, (std::map<std::string, std::string>{{"s", "text"}, {"i", "3"}, {"b", "true"}, {"d", "2.5"}, {"n", "nil"}}));
  EXPECT_TRUE(stringDictionary(Json::array({1})).empty());
  EXPECT_TRUE(stringDictionary(Json()).empty());
}

TEST(ArgumentHelpers, NonEmptyString) {
  EXPECT_EQ(nonEmptyString(Json("  hi \n")), "hi");
  EXPECT_FALSE(nonEmptyString(Json(" \t\n ")));
  EXPECT_FALSE(nonEmptyString(Json(5)));
  EXPECT_FALSE(nonEmptyString(Json()));
}

TEST(ArgumentHelpers, ValidAgentIds) {
  const std::pair<const char*, bool> cases[] = {
      {"router-core", true}, {"a1", true}, {"", false}, {"Alice", false}, {"a_b", false}, {"a b", false}, {"a\n", false},
  };
  for (const auto& [text, valid] : cases) EXPECT_EQ(isValidAgentID(text), valid) << text;
}

}  // namespace
}  // namespace qd
