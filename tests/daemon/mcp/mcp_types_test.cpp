#include "daemon/mcp/mcp_types.h"

#include <gtest/gtest.h>

#include "daemon/utilities/json_codec.h"

namespace qd {
namespace {

TEST(McpTypes, ContentItemsReadAlternateKeysAndWriteCanonicalOnes) {
  const auto image = ToolContent::fromJson(parseJson(R"({"type":"image","image":"QUJD","mime_type":"image/png"})"));
  EXPECT_EQ(image.type, ToolContentType::image);
  EXPECT_EQ(image.data, "QUJD");
  EXPECT_EQ(image.mimeType, "image/png");
  EXPECT_EQ(dumpJson(image.toJson()), R"({"type":"image","data":"QUJD","mimeType":"image/png"})");

  const auto both = ToolContent::fromJson(
      parseJson(R"({"type":"image","data":"A","image":"B","mimeType":"x/a","mime_type":"x/b"})"));
  EXPECT_EQ(both.data, "A");
  EXPECT_EQ(both.mimeType, "x/a");

  EXPECT_THROW(ToolContent::fromJson(parseJson(R"({"type":"audio"})")), DecodingError);
  EXPECT_THROW(CallToolResult::fromJson(parseJson(R"({"content":[{"type":"text","text":"a"},{"type":"audio"}]})")),
               DecodingError);

  const auto resource = ToolContent::resourceItem(ResourceContents{"file:///a", "text/plain", "hi", std::nullopt});
  EXPECT_EQ(ToolContent::fromJson(resource.toJson()), resource);
}

TEST(McpTypes, TextResultLeavesOutFalseIsError) {
  EXPECT_EQ(dumpJson(CallToolResult::text("ok").toJson()), R"({"content":[{"type":"text","text":"ok"}]})");
  EXPECT_EQ(dumpJson(CallToolResult::text("bad", true).toJson()),
            R"({"content":[{"type":"text","text":"bad"}],"isError":true})");
  const auto read = CallToolResult::fromJson(parseJson(R"({"content":[],"isError":false})"));
  EXPECT_EQ(read.isError, false);
}

TEST(McpTypes, ToolSchemaKeepsFiveMembersAndWholeProperties) {
  const auto tool = MCPTool::fromJson(parseJson(R"({
    "name":"echo","extra":1,
    "inputSchema":{"$schema":"http://json-schema.org/draft-07/schema#","type":"object","description":"dropped",
      "definitions":{},"properties":{"msg":{"type":"string","enum":["a"],"anyOf":[{}]}},
      "required":["msg"],"additionalProperties":false}})"));
  EXPECT_EQ(tool.inputSchema.schema, "http://json-schema.org/draft-07/schema#");
  EXPECT_EQ(dumpJson(tool.toJson()),
            R"({"name":"echo","inputSchema":{"$schema":"http://json-schema.org/draft-07/schema#","type":"object",)"
            R"("properties":{"msg":{"type":"string","enum":["a"],"anyOf":[{}]}},"required":["msg"],)"
            R"("additionalProperties":false}})");

  EXPECT_THROW(ListToolsResult::fromJson(parseJson(
                   R"({"tools":[{"name":"a","inputSchema":{"type":"object"}},{"name":"b","inputSchema":{}}]})")),
               DecodingError);
  const auto list = ListToolsResult::fromJson(parseJson(R"({"tools":[],"nextCursor":null})"));
  EXPECT_FALSE(list.nextCursor);
}

TEST(McpTypes, CapabilitiesWriteEmptyObjectsAndReadAnyNonNullAsPresent) {
  ServerCapabilities caps;
  caps.tools = ToolsCapability{};
  EXPECT_EQ(dumpJson(caps.toJson()), R"({"tools":{}})");
  caps.logging = LoggingCapability{};
  EXPECT_EQ(dumpJson(caps.toJson()), R"({"tools":{},"logging":{}})");

  for (const char* logging : {R"({"level":"x"})", "7", "\"s\""}) {
    const auto read = ServerCapabilities::fromJson(parseJson(std::string(R"({"logging":)") + logging + "}"));
    EXPECT_TRUE(read.logging) << logging;
  }
  EXPECT_FALSE(ServerCapabilities::fromJson(parseJson(R"({"logging":null})")).logging);
  EXPECT_THROW(ServerCapabilities::fromJson(parseJson(R"({"tools":7})")), DecodingError);
}

TEST(McpTypes, InitializeRoundTrip) {
  const InitializeParams params{mcpProtocolVersion, ClientCapabilities{RootsCapability{true}, SamplingCapability{}},
                                Implementation{"client", "1.0"}};
  EXPECT_EQ(InitializeParams::fromJson(params.toJson()), params);
  const InitializeResult result{mcpProtocolVersion, ServerCapabilities{ToolsCapability{}, {}, {}, {}},
                                Implementation{"quarvel-toolbox", "2.0.0"}, std::nullopt};
  EXPECT_EQ(InitializeResult::fromJson(result.toJson()), result);
  EXPECT_FALSE(result.toJson().contains("instructions"));
  EXPECT_THROW(InitializeResult::fromJson(parseJson(R"({"protocolVersion":"x","capabilities":{}})")), DecodingError);
}

TEST(McpTypes, CallParamsKeepArgumentsWhole) {
  const auto params = CallToolParams::fromJson(parseJson(R"({"name":"t","arguments":{"b":[1,{"c":null}],"a":0}})"));
  EXPECT_EQ(dumpJson(params.toJson()), R"({"name":"t","arguments":{"b":[1,{"c":null}],"a":0}})");
  EXPECT_FALSE(CallToolParams::fromJson(parseJson(R"({"name":"t","arguments":null})")).arguments);
  EXPECT_THROW(CallToolParams::fromJson(parseJson(R"({"name":"t","arguments":[1]})")), DecodingError);
}

}  // namespace
}  // namespace qd
