#pragma once

// Small helpers shared by the daemon's files; not part of its interface.

#include <optional>
#include <string>
#include <string_view>

#include "daemon/utilities/json.h"
#include "daemon/mcp/mcp_types.h"

namespace qd::router {

inline constexpr std::string_view kComponent = "Daemon";

// The plain text answer of a tool: {"content": [{"type": "text", "text": text}]}.
inline Json textResult(const std::string& text) { return textToolResult(text); }

// The member when it is a string.
inline std::optional<std::string> stringMember(const Json& object, std::string_view key) {
  if (!object.is_object()) return std::nullopt;
  auto found = object.find(key);
  if (found == object.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

// One of the eleven helper tool definitions' names.
bool isHelperToolName(std::string_view name);

// The error of a handler whose module is not part of the daemon yet: a call reaches it
// through its router and is refused plainly, never answered as if it had run.
[[noreturn]] void notAvailableYet(const std::string& what);

}  // namespace qd::router
