#pragma once

// The MCP vocabulary the daemon speaks as a client and as a server: protocol version,
// method names, capabilities, initialize, tools, tool results and their content items,
// and the prompt messages that carry content items.

#include <optional>
#include <string>
#include <vector>

#include "daemon/mcp/mcp_resources.h"
#include "daemon/utilities/json.h"

namespace qd {

inline constexpr const char* mcpProtocolVersion = "2024-11-05";

namespace MCPMethod {
inline constexpr const char* initialize = "initialize";
inline constexpr const char* initialized = "notifications/initialized";
inline constexpr const char* ping = "ping";
inline constexpr const char* toolsList = "tools/list";
inline constexpr const char* toolsCall = "tools/call";
inline constexpr const char* resourcesList = "resources/list";
inline constexpr const char* resourcesRead = "resources/read";
inline constexpr const char* resourcesSubscribe = "resources/subscribe";
inline constexpr const char* resourcesUnsubscribe = "resources/unsubscribe";
inline constexpr const char* promptsList = "prompts/list";
inline constexpr const char* promptsGet = "prompts/get";
inline constexpr const char* loggingSetLevel = "logging/setLevel";
inline constexpr const char* notificationToolsListChanged = "notifications/tools/list_changed";
inline constexpr const char* notificationResourcesListChanged = "notifications/resources/list_changed";
inline constexpr const char* notificationPromptsListChanged = "notifications/prompts/list_changed";
inline constexpr const char* notificationCancelled = "notifications/cancelled";
}  // namespace MCPMethod

struct ToolsCapability {
  std::optional<bool> listChanged;
  Json toJson() const;
  static ToolsCapability fromJson(const Json& value);
  bool operator==(const ToolsCapability&) const = default;
};

struct ResourcesCapability {
  std::optional<bool> subscribe;
  std::optional<bool> listChanged;
  Json toJson() const;
  static ResourcesCapability fromJson(const Json& value);
  bool operator==(const ResourcesCapability&) const = default;
};

struct PromptsCapability {
  std::optional<bool> listChanged;
  Json toJson() const;
  static PromptsCapability fromJson(const Json& value);
  bool operator==(const PromptsCapability&) const = default;
};

// Written as {}; any non-null value in its place reads as present.
struct LoggingCapability {
  Json toJson() const { return Json::object(); }
  static LoggingCapability fromJson(const Json&) { return {}; }
  bool operator==(const LoggingCapability&) const = default;
};

struct ServerCapabilities {
  std::optional<ToolsCapability> tools;
  std::optional<ResourcesCapability> resources;
  std::optional<PromptsCapability> prompts;
  std::optional<LoggingCapability> logging;
  Json toJson() const;
  static ServerCapabilities fromJson(const Json& value);
  bool operator==(const ServerCapabilities&) const = default;
};

struct RootsCapability {
  std::optional<bool> listChanged;
  Json toJson() const;
  static RootsCapability fromJson(const Json& value);
  bool operator==(const RootsCapability&) const = default;
};

// Written as {}; any non-null value in its place reads as present.
struct SamplingCapability {
  Json toJson() const { return Json::object(); }
  static SamplingCapability fromJson(const Json&) { return {}; }
  bool operator==(const SamplingCapability&) const = default;
};

struct ClientCapabilities {
  std::optional<RootsCapability> roots;
  std::optional<SamplingCapability> sampling;
  Json toJson() const;
  static ClientCapabilities fromJson(const Json& value);
  bool operator==(const ClientCapabilities&) const = default;
};

struct Implementation {
  std::string name;
  std::string version;
  Json toJson() const;
  static Implementation fromJson(const Json& value);
  bool operator==(const Implementation&) const = default;
};

struct InitializeParams {
  std::string protocolVersion;
  ClientCapabilities capabilities;
  Implementation clientInfo;
  Json toJson() const;
  static InitializeParams fromJson(const Json& value);
  bool operator==(const InitializeParams&) const = default;
};

struct InitializeResult {
  std::string protocolVersion;
  ServerCapabilities capabilities;
  Implementation serverInfo;
  std::optional<std::string> instructions;
  Json toJson() const;
  static InitializeResult fromJson(const Json& value);
  bool operator==(const InitializeResult&) const = default;
};

// A tool's argument schema, kept to five members; other JSON-schema keywords at the top
// level are dropped, the schemas inside "properties" are kept whole.
struct ToolInputSchema {
  std::optional<std::string> schema;  // "$schema"
  std::string type;
  std::optional<Json> properties;  // an object: property name to its schema
  std::optional<std::vector<std::string>> required;
  std::optional<bool> additionalProperties;
  Json toJson() const&;
  // The same, moving the schema's members instead of copying them.
  Json toJson() &&;
  static ToolInputSchema fromJson(const Json& value);
  bool operator==(const ToolInputSchema&) const = default;
};

struct MCPTool {
  std::string name;
  std::optional<std::string> description;
  ToolInputSchema inputSchema;
  Json toJson() const&;
  // The same, moving the tool's members instead of copying them (a long tool list is
  // encoded on every request).
  Json toJson() &&;
  static MCPTool fromJson(const Json& value);
  bool operator==(const MCPTool&) const = default;
};

struct PaginatedParams {
  std::optional<std::string> cursor;
  Json toJson() const;
  static PaginatedParams fromJson(const Json& value);
  bool operator==(const PaginatedParams&) const = default;
};

struct ListToolsResult {
  std::vector<MCPTool> tools;
  std::optional<std::string> nextCursor;
  Json toJson() const;
  static ListToolsResult fromJson(const Json& value);
  bool operator==(const ListToolsResult&) const = default;
};

struct CallToolParams {
  std::string name;
  std::optional<Json> arguments;  // an object
  Json toJson() const;
  static CallToolParams fromJson(const Json& value);
  bool operator==(const CallToolParams&) const = default;
};

enum class ToolContentType { text, image, resource };

std::optional<ToolContentType> toolContentTypeFromString(std::string_view raw);
std::string toString(ToolContentType type);

// One item of a tool result. Reads the image text from "data" or else "image", and the
// MIME type from "mimeType" or else "mime_type"; always writes "data" and "mimeType".
struct ToolContent {
  ToolContentType type = ToolContentType::text;
  std::optional<std::string> text;
  std::optional<std::string> data;
  std::optional<std::string> mimeType;
  std::optional<ResourceContents> resource;

  static ToolContent textItem(std::string text);
  static ToolContent imageItem(std::string base64Data, std::string mimeType);
  static ToolContent resourceItem(ResourceContents resource);

  Json toJson() const;
  static ToolContent fromJson(const Json& value);
  bool operator==(const ToolContent&) const = default;
};

struct CallToolResult {
  std::vector<ToolContent> content;
  std::optional<bool> isError;

  // One text item; isError is set only when true, never written as false.
  static CallToolResult text(std::string text, bool isError = false);

  Json toJson() const;
  static CallToolResult fromJson(const Json& value);
  bool operator==(const CallToolResult&) const = default;
};

// The plain text answer of a tool as JSON: {"content": [{"type": "text", "text": text}]}.
Json textToolResult(std::string text);

struct PromptMessage {
  PromptRole role = PromptRole::user;
  ToolContent content;
  Json toJson() const;
  static PromptMessage fromJson(const Json& value);
  bool operator==(const PromptMessage&) const = default;
};

struct GetPromptResult {
  std::optional<std::string> description;
  std::vector<PromptMessage> messages;
  Json toJson() const;
  static GetPromptResult fromJson(const Json& value);
  bool operator==(const GetPromptResult&) const = default;
};

}  // namespace qd
