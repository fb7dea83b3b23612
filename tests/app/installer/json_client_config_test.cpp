#include "app/installer/json_client_config.h"

#include <gtest/gtest.h>

#include "app/installer/managed_entries.h"

namespace qd {
namespace {

const std::string kCmd = "/opt/qd/bin/QuarvelDorarovDaemon";

TEST(JsonClientConfigTest, ReadsOnlyWhatARewriteKeeps) {
  struct Case {
    const char* name;
    std::string text;
    std::string cause;  // empty: accepted
  };
  const std::vector<Case> cases = {
      {"empty", "", ""},
      {"white space", " \n\t", ""},
      {"null top level", "null", ""},
      {"object", "{\"a\": 1}", ""},
      {"trailing comma", "{\"a\": 1,}", "line 1, column 9"},
      {"two values", "{} {}", "line 1, column 4"},
      {"truncated", "{\"a\":\n", "line 2"},
      {"line comment", "{\n  // mine\n  \"a\": 1\n}", "comments a rewrite would lose"},
      {"block comment", "{\"a\": /* x */ 1}", "comments a rewrite would lose"},
      {"array top level", "[]", "top level is not a JSON object"},
      {"string top level", "\"x\"", "top level is not a JSON object"},
      {"duplicate key", "{\"a\": 1, \"a\": 2}", "appears twice"},
      {"nested duplicate key", "{\"s\": {\"k\": 1, \"k\": 1}}", "appears twice"},
      {"integer beyond 64 bits", "{\"n\": 18446744073709551616}", "beyond 64 bits"},
      {"unsigned above the signed range", "{\"n\": 9223372036854775808}", "beyond 64 bits"},
      {"too deep", std::string(300, '[') + std::string(300, ']'), "nesting exceeds"},
      {"invalid UTF-8", "{\"a\": \"\xC3\x28\"}", "Invalid JSON"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      const Json config = parseClientConfigJson(c.text);
      EXPECT_TRUE(c.cause.empty()) << "accepted";
      EXPECT_TRUE(config.is_object());
    } catch (const ClientConfigContentError& e) {
      EXPECT_FALSE(c.cause.empty()) << e.description();
      EXPECT_NE(e.description().find(c.cause), std::string::npos) << e.description();
    }
  }
  // Large integers that fit stay exact.
  EXPECT_EQ(dumpJson(parseClientConfigJson("{\"n\": -9223372036854775808, \"m\": 1.5}")),
            "{\"n\":-9223372036854775808,\"m\":1.5}");
}

TEST(JsonClientConfigTest, RendersSortedPrettyWithoutEscapedSlashes) {
  const Json config = parseClientConfigJson("{\"b\": {\"z\": 1, \"a\": [\"/x/y\"]}, \"a\": {}, \"\xC3\xA9\": 0, \"B\": 2}");
  EXPECT_EQ(renderClientConfigJson(config),
            "{\n  \"B\": 2,\n  \"a\": {},\n  \"b\": {\n    \"a\": [\n      \"/x/y\"\n    ],\n    \"z\": 1\n  },\n"
            "  \"\xC3\xA9\": 0\n}\n");
}

TEST(JsonClientConfigTest, InstallShapesPerKind) {
  const Json other = {{"command", "npx"}};
  const Json before = {{"theme", "dark"}, {"mcpServers", {{"other", other}, {"quarvel-toolbox", {{"command", "x"}}}, {"tinderbox", "foreign"}}}};
  const Json generic = configByInstallingManagedJSONEntries(before, JsonClientKind::generic, kCmd);
  EXPECT_EQ(generic["theme"], "dark");
  EXPECT_EQ(generic["mcpServers"].size(), 6u);  // other + our five, legacy gone
  EXPECT_EQ(generic["mcpServers"]["other"], other);
  EXPECT_EQ(generic["mcpServers"]["tinderbox"], Json({{"command", kCmd}, {"args", {"--client", "--profile", "tinderbox"}}}));
  const Json droid = configByInstallingManagedJSONEntries(Json::object(), JsonClientKind::droid, kCmd);
  EXPECT_EQ(droid["mcpServers"]["tbx-nav"], Json({{"type", "stdio"}, {"command", kCmd},
                                                  {"args", {"--client", "--profile", "tbx-nav"}}, {"disabled", false}}));
  const Json openCode = configByInstallingManagedJSONEntries(Json{{"mcp", nullptr}}, JsonClientKind::openCode, kCmd);
  EXPECT_EQ(openCode["mcp"]["tbx-doc"],
            Json({{"type", "local"}, {"command", {kCmd, "--client", "--profile", "tbx-doc"}}, {"enabled", true}}));
  EXPECT_THROW(configByInstallingManagedJSONEntries(Json{{"mcpServers", Json::array()}}, JsonClientKind::generic, kCmd),
               ClientConfigContentError);
}

TEST(JsonClientConfigTest, RemovalFindsOursByNameOrCommand) {
  const Json servers = {{"tinderbox", {{"command", "/elsewhere/tb"}}},
                        {"renamed", {{"command", "/old/prefix/QuarvelDorarovDaemon"}}},
                        {"same", {{"command", kCmd}}},
                        {"router-core", "not an object"},
                        {"mine", {{"command", "npx"}}}};
  const auto removal = removingManagedJSONEntries(servers, kCmd);
  EXPECT_EQ(removal.removedKeys, (std::vector<std::string>{"renamed", "same", "tinderbox"}));
  EXPECT_EQ(removal.remaining, Json({{"router-core", "not an object"}, {"mine", {{"command", "npx"}}}}));

  const Json mcp = {{"tbx-nav", "anything"},
                    {"moved", {{"command", {"/x/QuarvelDorarovDaemon", "--client"}}}},
                    {"mixed", {{"command", {"/x/QuarvelDorarovDaemon", 1}}}},
                    {"mine", {{"command", {"node"}}}}};
  const auto openCode = removingManagedOpenCodeEntries(mcp, kCmd);
  EXPECT_EQ(openCode.removedKeys, (std::vector<std::string>{"moved", "tbx-nav"}));

  EXPECT_TRUE(holdsManagedEntries(Json{{"tinderbox", 1}}, JsonClientKind::generic, nullptr));
  EXPECT_TRUE(holdsManagedEntries(Json{{"x", {{"command", "/a/QuarvelDorarovDaemon"}}}}, JsonClientKind::generic, &kCmd));
  EXPECT_FALSE(holdsManagedEntries(Json{{"x", {{"command", "/a/QuarvelDorarovDaemon"}}}}, JsonClientKind::generic, nullptr));
  EXPECT_TRUE(holdsManagedEntries(mcp, JsonClientKind::openCode, nullptr));
  EXPECT_FALSE(holdsManagedEntries(Json{{"mine", {{"command", {"node"}}}}}, JsonClientKind::openCode, &kCmd));
}

}  // namespace
}  // namespace qd
