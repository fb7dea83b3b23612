#pragma once

#include <string_view>

namespace qd {

// An agent name is one or more ASCII letters, digits, underscores and hyphens, and
// nothing else: no trailing newline, no non-ASCII letter.
constexpr bool isValidAgentName(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

}  // namespace qd
