#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qd {

// Which layer ran out of time when a request timed out: the queue's own timer, a child
// process, or the transport to an MCP peer.
enum class TimeoutLayer { queue, subprocess, transport };

std::string toString(TimeoutLayer layer);  // "queue", "subprocess", "transport"
// Exactly the three lower-case raw values; anything else ("Queue") is none.
std::optional<TimeoutLayer> timeoutLayerFromString(std::string_view raw);

}  // namespace qd
