#pragma once

#include <string>

#include <asio/awaitable.hpp>

#include "daemon/core/coordination_context.h"
#include "daemon/utilities/json.h"

namespace qd {

// The "tasks" tool: the agents' shared task board. "operation" (trimmed, case-insensitive)
// is one of help, create, move_to_active, assign_to_me, complete, add_comment, update,
// list, list_waiting_for_me, stalled, heartbeat. Writing operations change the tracker,
// mirror the task's note and (all but add_comment) write an agent-log note; an unknown
// task id is answered as success. Throws DaemonError for a missing argument or an unknown
// operation, before anything changes. Answers one text item.
asio::awaitable<Json> handleTasksTool(CoordinationContext& context, std::string clientId, Json arguments);

}  // namespace qd
