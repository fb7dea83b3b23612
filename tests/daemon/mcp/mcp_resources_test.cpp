#include "daemon/mcp/mcp_resources.h"

#include <gtest/gtest.h>

#include "daemon/mcp/mcp_types.h"
#include "daemon/utilities/json_codec.h"

namespace qd {
namespace {

TEST(McpResources, ListsAndOptionalMembers) {
  EXPECT_TRUE(ListResourcesResult::fromJson(parseJson(R"({"resources":[]})")).resources.empty());
  EXPECT_THROW(ListResourcesResult::fromJson(parseJson("{}")), DecodingError);

  const auto list = ListResourcesResult::fromJson(
      parseJson(R"({"resources":[{"uri":"u","name":"n","description":null,"other":1}],"nextCursor":"c"})"));
  EXPECT_FALSE(list.resources[0].description);
  EXPECT_EQ(dumpJson(list.toJson()), R"({"resources":[{"uri":"u","name":"n"}],"nextCursor":"c"})");

  const auto read = ReadResourceResult::fromJson(parseJson(R"({"contents":[{"uri":"u"}]})"));
  EXPECT_EQ(read.contents[0], (ResourceContents{"u", std::nullopt, std::nullopt, std::nullopt}));
  EXPECT_THROW(ReadResourceResult::fromJson(parseJson(R"({"contents":[{"uri":1}]})")), DecodingError);
}

TEST(McpResources, PromptArgumentsKeepAbsentRequired) {
  const auto prompts = ListPromptsResult::fromJson(
      parseJson(R"({"prompts":[{"name":"p","arguments":[{"name":"a"},{"name":"b","required":false}]}]})"));
  const auto& args = *prompts.prompts[0].arguments;
  EXPECT_FALSE(args[0].required);
  EXPECT_EQ(args[1].required, false);
  EXPECT_EQ(dumpJson(prompts.toJson()),
            R"({"prompts":[{"name":"p","arguments":[{"name":"a"},{"name":"b","required":false}]}]})");
}

TEST(McpResources, PromptMessagesCheckTheirRole) {
  const auto ok = GetPromptResult::fromJson(
      parseJson(R"({"messages":[{"role":"assistant","content":{"type":"text","text":"hi"}}]})"));
  EXPECT_EQ(ok.messages[0].role, PromptRole::assistant);
  EXPECT_EQ(GetPromptResult::fromJson(ok.toJson()), ok);
  const auto empty = GetPromptResult::fromJson(parseJson(R"({"messages":[]})"));
  EXPECT_FALSE(empty.description);
  EXPECT_TRUE(empty.messages.empty());
  for (const char* role : {"\"system\"", "1"}) {
    EXPECT_THROW(GetPromptResult::fromJson(parseJson(std::string(R"({"messages":[{"role":)") + role +
                                                     R"(,"content":{"type":"text"}}]})")),
                 DecodingError)
        << role;
  }
  EXPECT_EQ(promptRoleFromString("user"), PromptRole::user);
  EXPECT_FALSE(promptRoleFromString("User"));
}

}  // namespace
}  // namespace qd
