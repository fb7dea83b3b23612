#pragma once

#include <asio/awaitable.hpp>

#include "daemon/core/coordination_context.h"
#include "daemon/utilities/json.h"

namespace qd {

// The "workstreams" tool: units of work the user can follow. "operation" (exact,
// case-sensitive) selects start, update, complete or list. A writing operation changes the
// tracker, mirrors the record's note, writes an agent-log note for the agent
// "workstreams" and answers "Workstream started|updated|completed: <id>"; an update or
// completion of an unknown id changes and mirrors nothing but is answered the same way.
// "id" must be a string (used as given); "metadata" counts only as an object of strings.
// Throws DaemonError for a missing operation or id and an unknown operation.
asio::awaitable<Json> handleWorkstreamsUnifiedTool(CoordinationContext& context, Json arguments);

asio::awaitable<Json> handleWorkstreamsStart(CoordinationContext& context, Json arguments);
asio::awaitable<Json> handleWorkstreamsUpdate(CoordinationContext& context, Json arguments);
asio::awaitable<Json> handleWorkstreamsComplete(CoordinationContext& context, Json arguments);
// The workstreams, newest first, as a pretty JSON array of {id, name, status, updatedAt,
// metadata}.
Json handleWorkstreamsList(CoordinationContext& context);

}  // namespace qd
