#pragma once

// MCP records for resources and prompts, as a client reads them from "resources/list",
// "resources/read", "prompts/list" and "prompts/get". No part of the system serves them.

#include <optional>
#include <string>
#include <vector>

#include "daemon/utilities/json.h"

namespace qd {

struct MCPResource {
  std::string uri;
  std::string name;
  std::optional<std::string> description;
  std::optional<std::string> mimeType;

  Json toJson() const;
  static MCPResource fromJson(const Json& value);
  bool operator==(const MCPResource&) const = default;
};

// What the server sent, unchecked: text, blob (base64 text, not decoded), both or neither.
struct ResourceContents {
  std::string uri;
  std::optional<std::string> mimeType;
  std::optional<std::string> text;
  std::optional<std::string> blob;

  Json toJson() const;
  static ResourceContents fromJson(const Json& value);
  bool operator==(const ResourceContents&) const = default;
};

struct ListResourcesResult {
  std::vector<MCPResource> resources;
  std::optional<std::string> nextCursor;

  Json toJson() const;
  static ListResourcesResult fromJson(const Json& value);
  bool operator==(const ListResourcesResult&) const = default;
};

struct ReadResourceResult {
  std::vector<ResourceContents> contents;

  Json toJson() const;
  static ReadResourceResult fromJson(const Json& value);
  bool operator==(const ReadResourceResult&) const = default;
};

struct PromptArgument {
  std::string name;
  std::optional<std::string> description;
  std::optional<bool> required;  // absent stays absent, never false

  Json toJson() const;
  static PromptArgument fromJson(const Json& value);
  bool operator==(const PromptArgument&) const = default;
};

struct MCPPrompt {
  std::string name;
  std::optional<std::string> description;
  std::optional<std::vector<PromptArgument>> arguments;

  Json toJson() const;
  static MCPPrompt fromJson(const Json& value);
  bool operator==(const MCPPrompt&) const = default;
};

enum class PromptRole { user, assistant };

std::optional<PromptRole> promptRoleFromString(std::string_view raw);
std::string toString(PromptRole role);

struct ListPromptsResult {
  std::vector<MCPPrompt> prompts;
  std::optional<std::string> nextCursor;

  Json toJson() const;
  static ListPromptsResult fromJson(const Json& value);
  bool operator==(const ListPromptsResult&) const = default;
};

}  // namespace qd
