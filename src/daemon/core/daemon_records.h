#pragma once

// Small records of the daemon core, passed between its call handling, the request queue
// and tool-call logging.

#include <cstdint>
#include <optional>
#include <string>

#include "daemon/mcp/mcp_types.h"
#include "daemon/utilities/json.h"

namespace qd {

// What tool-call logging learns of one finished call.
struct ToolCallLogContext {
  std::string clientId;         // the socket client's id
  std::string toolName;         // as the client called it
  Json arguments;               // an object
  std::int64_t durationMs = 0;  // how long the call took
  bool success = false;
  std::optional<std::string> error;  // none after success; the call handler's text of the error otherwise
};

// One tool of the list offered on the socket and the daemon tool that answers it.
struct ExternalToolBinding {
  MCPTool externalTool;                        // as offered to clients
  std::string internalName;                    // the daemon tool that answers it
  std::optional<std::string> forcedOperation;  // put into the "operation" argument when called
};

// A tool result on its way from the task that ran the call, through the request queue,
// back to the call handler. A plain value: it owns its JSON and may cross between tasks.
struct SendableData {
  Json value;  // an object
};

}  // namespace qd
