#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "daemon/providers/apple_script.h"
#include "daemon/providers/provider_arguments.h"

namespace qd {
namespace {

using AppleScriptHelpers::escape;
using AppleScriptHelpers::laneForScript;

TEST(AppleScriptEscape, DoublesBackslashesThenEscapesQuotes) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"plain", "plain"},
      {"say \"hi\"", "say \\\"hi\\\""},
      {"a\\b", "a\\\\b"},
      {"\\\"", "\\\\\\\""},  // a backslash then a quote: three backslashes, then the quote
      {"line\nbreak\ttab é", "line\nbreak\ttab é"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(escape(c.in), c.out) << c.in;
}

TEST(AppleScriptLane, FirstAddressedApplicationInAFixedOrder) {
  const struct {
    std::vector<std::string> lines;
    std::string lane;
  } cases[] = {
      {{"tell application \"Maps\"", "tell application \"Contacts\""}, "contacts"},
      {{"tell application \"Mail\" to x", "tell application \"Notes\" to y"}, "notes"},
      {{"tell application \"Reminders\""}, "reminders"},
      {{"tell application \"Calendar\""}, "calendar"},
      {{"tell application \"Maps\""}, "maps"},
      {{"tell application \"Messages\""}, "messages"},
      {{"tell application \"mail\""}, "apple-mcp"},  // case-sensitive
      {{"tell application", "\"Mail\""}, "apple-mcp"},  // the lines are joined with a line feed
      {{}, "apple-mcp"},
  };
  for (const auto& c : cases) EXPECT_EQ(laneForScript(c.lines), c.lane) << c.lines.size();
}

TEST(AppleScriptRun, EachLineIsOneArgumentAfterDashE) {
  EXPECT_EQ(AppleScriptHelpers::scriptArguments({"line 1", "two\nlines"}),
            (std::vector<std::string>{"-e", "line 1", "-e", "two\nlines"}));
  const Json reply = AppleScriptHelpers::textResult("x");
  EXPECT_EQ(reply, Json::parse(R"({"content": [{"type": "text", "text": "x"}]})"));
}

TEST(ProviderArguments, ReadByExactKind) {
  const Json args = Json::parse(R"({"i": 10, "d": 10.0, "f": 2.9, "b": true, "t": "10", "big": 1e300,
                                    "list": ["a", "b"], "mixed": ["a", 1], "empty": []})");
  EXPECT_EQ(integerArgument(args, "i"), 10);
  EXPECT_EQ(integerArgument(args, "d"), std::nullopt);
  EXPECT_EQ(integerArgument(args, "b"), std::nullopt);
  EXPECT_EQ(integerArgument(args, "t"), std::nullopt);
  EXPECT_EQ(integerArgument(args, "big"), std::nullopt);
  EXPECT_EQ(numberArgument(args, "i"), 10.0);
  EXPECT_EQ(numberArgument(args, "f"), 2.9);
  EXPECT_EQ(numberArgument(args, "b"), std::nullopt);
  EXPECT_EQ(numberArgument(args, "t"), std::nullopt);
  EXPECT_EQ(stringArgument(args, "t"), "10");
  EXPECT_EQ(stringArgument(args, "i"), std::nullopt);
  EXPECT_EQ(stringArgument(args, "missing"), std::nullopt);
  EXPECT_EQ(stringListArgument(args, "list"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(stringListArgument(args, "mixed"), std::nullopt);
  EXPECT_EQ(stringListArgument(args, "empty"), std::vector<std::string>{});
  EXPECT_EQ(stringArgument(Json::array(), "t"), std::nullopt);
}

TEST(ProviderArguments, LimitsTruncateTowardZeroAndStayInRange) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    std::optional<double> value;
    int expected;
  } cases[] = {
      {std::nullopt, 10}, {0, 1}, {-3, 1}, {2.9, 2}, {500, 200}, {200, 200}, {1e300, 200},
      {-1e300, 1},        {inf, 200}, {-inf, 1}, {std::numeric_limits<double>::quiet_NaN(), 1},
  };
  for (const auto& c : cases) EXPECT_EQ(parseLimit(c.value, 10, 200), c.expected) << c.value.value_or(-99);
}

}  // namespace
}  // namespace qd
