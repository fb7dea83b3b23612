#include "daemon/mcp/mcp_resources.h"

#include "daemon/utilities/json_codec.h"

namespace qd {

using namespace codec;

Json MCPResource::toJson() const {
  Json out = {{"uri", uri}, {"name", name}};
  putOptional(out, "description", description);
  putOptional(out, "mimeType", mimeType);
  return out;
}

MCPResource MCPResource::fromJson(const Json& v) {
  expectObject(v, "a resource");
  return {requiredString(v, "uri"), requiredString(v, "name"), optionalString(v, "description"),
          optionalString(v, "mimeType")};
}

Json ResourceContents::toJson() const {
  Json out = {{"uri", uri}};
  putOptional(out, "mimeType", mimeType);
  putOptional(out, "text", text);
  putOptional(out, "blob", blob);
  return out;
}

ResourceContents ResourceContents::fromJson(const Json& v) {
  expectObject(v, "resource contents");
  return {requiredString(v, "uri"), optionalString(v, "mimeType"), optionalString(v, "text"),
          optionalString(v, "blob")};
}

Json ListResourcesResult::toJson() const {
  Json out = {{"resources", toJsonList(resources)}};
  putOptional(out, "nextCursor", nextCursor);
  return out;
}

ListResourcesResult ListResourcesResult::fromJson(const Json& v) {
  expectObject(v, "a resources list");
  return {requiredRecordList<MCPResource>(v, "resources"), optionalString(v, "nextCursor")};
}

Json ReadResourceResult::toJson() const { return {{"contents", toJsonList(contents)}}; }

ReadResourceResult ReadResourceResult::fromJson(const Json& v) {
  expectObject(v, "a resource read result");
  return {requiredRecordList<ResourceContents>(v, "contents")};
}

Json PromptArgument::toJson() const {
  Json out = {{"name", name}};
  putOptional(out, "description", description);
  putOptional(out, "required", required);
  return out;
}

PromptArgument PromptArgument::fromJson(const Json& v) {
  expectObject(v, "a prompt argument");
  return {requiredString(v, "name"), optionalString(v, "description"), optionalBool(v, "required")};
}

Json MCPPrompt::toJson() const {
  Json out = {{"name", name}};
  putOptional(out, "description", description);
  putOptionalList(out, "arguments", arguments);
  return out;
}

MCPPrompt MCPPrompt::fromJson(const Json& v) {
  expectObject(v, "a prompt");
  return {requiredString(v, "name"), optionalString(v, "description"),
          optionalRecordList<PromptArgument>(v, "arguments")};
}

std::optional<PromptRole> promptRoleFromString(std::string_view raw) {
  if (raw == "user") return PromptRole::user;
  if (raw == "assistant") return PromptRole::assistant;
  return std::nullopt;
}

std::string toString(PromptRole role) { return role == PromptRole::user ? "user" : "assistant"; }

Json ListPromptsResult::toJson() const {
  Json out = {{"prompts", toJsonList(prompts)}};
  putOptional(out, "nextCursor", nextCursor);
  return out;
}

ListPromptsResult ListPromptsResult::fromJson(const Json& v) {
  expectObject(v, "a prompts list");
  return {requiredRecordList<MCPPrompt>(v, "prompts"), optionalString(v, "nextCursor")};
}

}  // namespace qd
