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

// White space and line breaks cut from both ends.
inline std::string trimmed(std::string_view text) {
  constexpr std::string_view blanks = " \t\n\r\v\f";
  const auto first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(blanks);
  return std::string(text.substr(first, last - first + 1));
}

// One of the eleven helper tool definitions' names.
bool isHelperToolName(std::string_view name);

// The error of a handler whose module is not part of the daemon yet: a call reaches it
// through its router and is refused plainly, never answered as if it had run.
[[noreturn]] void notAvailableYet(const std::string& what);

}  // namespace qd::router
