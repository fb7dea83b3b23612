#include "daemon/mcp/mcp_types.h"

#include "daemon/utilities/any_codable.h"
#include "daemon/utilities/json_codec.h"

namespace qd {

using namespace codec;

namespace {

Json listChangedOnly(const std::optional<bool>& listChanged) {
  Json out = Json::object();
  putOptional(out, "listChanged", listChanged);
  return out;
}

}  // namespace

Json ToolsCapability::toJson() const { return listChangedOnly(listChanged); }
ToolsCapability ToolsCapability::fromJson(const Json& v) {
  expectObject(v, "the tools capability");
  return {optionalBool(v, "listChanged")};
}

Json ResourcesCapability::toJson() const {
  Json out = Json::object();
  putOptional(out, "subscribe", subscribe);
  putOptional(out, "listChanged", listChanged);
  return out;
}
ResourcesCapability ResourcesCapability::fromJson(const Json& v) {
  expectObject(v, "the resources capability");
  return {optionalBool(v, "subscribe"), optionalBool(v, "listChanged")};
}

Json PromptsCapability::toJson() const { return listChangedOnly(listChanged); }
PromptsCapability PromptsCapability::fromJson(const Json& v) {
  expectObject(v, "the prompts capability");
  return {optionalBool(v, "listChanged")};
}

Json ServerCapabilities::toJson() const {
  Json out = Json::object();
  putOptional(out, "tools", tools);
  putOptional(out, "resources", resources);
  putOptional(out, "prompts", prompts);
  putOptional(out, "logging", logging);
  return out;
}
ServerCapabilities ServerCapabilities::fromJson(const Json& v) {
  expectObject(v, "server capabilities");
  return {optionalRecord<ToolsCapability>(v, "tools"), optionalRecord<ResourcesCapability>(v, "resources"),
          optionalRecord<PromptsCapability>(v, "prompts"), optionalRecord<LoggingCapability>(v, "logging")};
}

Json RootsCapability::toJson() const { return listChangedOnly(listChanged); }
RootsCapability RootsCapability::fromJson(const Json& v) {
  expectObject(v, "the roots capability");
  return {optionalBool(v, "listChanged")};
}

Json ClientCapabilities::toJson() const {
  Json out = Json::object();
  putOptional(out, "roots", roots);
  putOptional(out, "sampling", sampling);
  return out;
}
ClientCapabilities ClientCapabilities::fromJson(const Json& v) {
  expectObject(v, "client capabilities");
  return {optionalRecord<RootsCapability>(v, "roots"), optionalRecord<SamplingCapability>(v, "sampling")};
}

Json Implementation::toJson() const { return {{"name", name}, {"version", version}}; }
Implementation Implementation::fromJson(const Json& v) {
  expectObject(v, "an implementation");
  return {requiredString(v, "name"), requiredString(v, "version")};
}

Json InitializeParams::toJson() const {
  return {{"protocolVersion", protocolVersion}, {"capabilities", capabilities.toJson()}, {"clientInfo", clientInfo.toJson()}};
}
InitializeParams InitializeParams::fromJson(const Json& v) {
  expectObject(v, "initialize params");
  return {requiredString(v, "protocolVersion"), ClientCapabilities::fromJson(requiredMember(v, "capabilities")),
          Implementation::fromJson(requiredMember(v, "clientInfo"))};
}

Json InitializeResult::toJson() const {
  Json out = {{"protocolVersion", protocolVersion},
              {"capabilities", capabilities.toJson()},
              {"serverInfo", serverInfo.toJson()}};
  putOptional(out, "instructions", instructions);
  return out;
}
InitializeResult InitializeResult::fromJson(const Json& v) {
  expectObject(v, "an initialize result");
  return {requiredString(v, "protocolVersion"), ServerCapabilities::fromJson(requiredMember(v, "capabilities")),
          Implementation::fromJson(requiredMember(v, "serverInfo")), optionalString(v, "instructions")};
}

Json ToolInputSchema::toJson() const& { return ToolInputSchema(*this).toJson(); }
Json ToolInputSchema::toJson() && {
  Json out = Json::object();
  putOptional(out, "$schema", schema);
  out["type"] = std::move(type);
  if (properties) {
    ensureEncodable(*properties);
    out["properties"] = std::move(*properties);
  }
  putOptional(out, "required", required);
  putOptional(out, "additionalProperties", additionalProperties);
  return out;
}
ToolInputSchema ToolInputSchema::fromJson(const Json& v) {
  expectObject(v, "a tool input schema");
  return {optionalString(v, "$schema"), requiredString(v, "type"), optionalObject(v, "properties"),
          optionalStringList(v, "required"), optionalBool(v, "additionalProperties")};
}

Json MCPTool::toJson() const& { return MCPTool(*this).toJson(); }
Json MCPTool::toJson() && {
  Json out = Json::object();
  out["name"] = std::move(name);
  putOptional(out, "description", description);
  out["inputSchema"] = std::move(inputSchema).toJson();
  return out;
}
MCPTool MCPTool::fromJson(const Json& v) {
  expectObject(v, "a tool");
  return {requiredString(v, "name"), optionalString(v, "description"),
          ToolInputSchema::fromJson(requiredMember(v, "inputSchema"))};
}

Json PaginatedParams::toJson() const {
  Json out = Json::object();
  putOptional(out, "cursor", cursor);
  return out;
}
PaginatedParams PaginatedParams::fromJson(const Json& v) {
  expectObject(v, "paginated params");
  return {optionalString(v, "cursor")};
}

Json ListToolsResult::toJson() const {
  Json out = {{"tools", toJsonList(tools)}};
  putOptional(out, "nextCursor", nextCursor);
  return out;
}
ListToolsResult ListToolsResult::fromJson(const Json& v) {
  expectObject(v, "a tools list");
  return {requiredRecordList<MCPTool>(v, "tools"), optionalString(v, "nextCursor")};
}

Json CallToolParams::toJson() const {
  Json out = {{"name", name}};
  if (arguments) {
    ensureEncodable(*arguments);
    out["arguments"] = *arguments;
  }
  return out;
}
CallToolParams CallToolParams::fromJson(const Json& v) {
  expectObject(v, "tool call params");
  return {requiredString(v, "name"), optionalObject(v, "arguments")};
}

std::optional<ToolContentType> toolContentTypeFromString(std::string_view raw) {
  if (raw == "text") return ToolContentType::text;
  if (raw == "image") return ToolContentType::image;
  if (raw == "resource") return ToolContentType::resource;
  return std::nullopt;
}

std::string toString(ToolContentType type) {
  switch (type) {
    case ToolContentType::text: return "text";
    case ToolContentType::image: return "image";
    case ToolContentType::resource: return "resource";
  }
  return "text";
}

ToolContent ToolContent::textItem(std::string text) {
  ToolContent c;
  c.type = ToolContentType::text;
  c.text = std::move(text);
  return c;
}

ToolContent ToolContent::imageItem(std::string base64Data, std::string mimeType) {
  ToolContent c;
  c.type = ToolContentType::image;
  c.data = std::move(base64Data);
  c.mimeType = std::move(mimeType);
  return c;
}

ToolContent ToolContent::resourceItem(ResourceContents resource) {
  ToolContent c;
  c.type = ToolContentType::resource;
  c.resource = std::move(resource);
  return c;
}

Json ToolContent::toJson() const {
  Json out = {{"type", toString(type)}};
  putOptional(out, "text", text);
  putOptional(out, "data", data);
  putOptional(out, "mimeType", mimeType);
  putOptional(out, "resource", resource);
  return out;
}

ToolContent ToolContent::fromJson(const Json& v) {
  expectObject(v, "a content item");
  const std::string rawType = requiredString(v, "type");
  const auto type = toolContentTypeFromString(rawType);
  if (!type) {
    throw DecodingError(DecodingError::Kind::dataCorrupted, "Cannot read content type \"" + rawType + "\"");
  }
  ToolContent c;
  c.type = *type;
  c.text = optionalString(v, "text");
  c.data = optionalString(v, "data");
  if (!c.data) c.data = optionalString(v, "image");
  c.mimeType = optionalString(v, "mimeType");
  if (!c.mimeType) c.mimeType = optionalString(v, "mime_type");
  c.resource = optionalRecord<ResourceContents>(v, "resource");
  return c;
}

CallToolResult CallToolResult::text(std::string text, bool isError) {
  CallToolResult r;
  r.content.push_back(ToolContent::textItem(std::move(text)));
  if (isError) r.isError = true;
  return r;
}

Json CallToolResult::toJson() const {
  Json out = {{"content", toJsonList(content)}};
  putOptional(out, "isError", isError);
  return out;
}

CallToolResult CallToolResult::fromJson(const Json& v) {
  expectObject(v, "a tool result");
  return {requiredRecordList<ToolContent>(v, "content"), optionalBool(v, "isError")};
}

Json PromptMessage::toJson() const { return {{"role", toString(role)}, {"content", content.toJson()}}; }

PromptMessage PromptMessage::fromJson(const Json& v) {
  expectObject(v, "a prompt message");
  const Json& rawRole = requiredMember(v, "role");
  const auto role = promptRoleFromString(asString(rawRole, "role"));
  if (!role) {
    throw DecodingError(DecodingError::Kind::dataCorrupted,
                        "Cannot read prompt role \"" + rawRole.get<std::string>() + "\"");
  }
  return {*role, ToolContent::fromJson(requiredMember(v, "content"))};
}

Json GetPromptResult::toJson() const {
  Json out = Json::object();
  putOptional(out, "description", description);
  out["messages"] = toJsonList(messages);
  return out;
}

GetPromptResult GetPromptResult::fromJson(const Json& v) {
  expectObject(v, "a prompt result");
  return {optionalString(v, "description"), requiredRecordList<PromptMessage>(v, "messages")};
}

Json textToolResult(std::string text) {
  Json item = Json::object();
  item["type"] = "text";
  item["text"] = std::move(text);
  Json result = Json::object();
  result["content"] = Json::array({std::move(item)});
  return result;
}

}  // namespace qd
