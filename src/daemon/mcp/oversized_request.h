#pragma once

// Which request a line too long to keep was, from the ends of it that were kept, so its
// refusal can be matched by its sender instead of leaving the request to its time-out.
// Each reads an "id" only where it is certain to be the top-level object's: an integer, or
// a string without escapes; none otherwise.

#include <optional>
#include <string_view>

#include "daemon/mcp/jsonrpc.h"

namespace qd {

// A member of the top-level object read from the line's start, before any nested value
// makes the rest unreadable (some senders put "id" first). A value cut by the end of
// `head` does not count.
std::optional<RequestID> requestIdFromLineStart(std::string_view head);

// The last member of the top-level object, right before the line's closing brace (the
// official SDKs put "id" last).
std::optional<RequestID> requestIdFromLineEnd(std::string_view tail);

}  // namespace qd
