#pragma once

#include <string>

#include <asio/awaitable.hpp>

#include "daemon/mcp/mcp_types.h"
#include "daemon/utilities/json.h"

namespace qd {

// How the code beneath the daemon reaches the note app's MCP server (the supervised child
// that keeps the journal). The daemon implements it over its current client; while no
// client is connected `isConnected` is false and every journal writer returns at once.
// Used on the io thread only.
class NoteAppClient {
 public:
  virtual ~NoteAppClient() = default;

  virtual bool isConnected() const = 0;

  // One "tools/call": the server's result (which may carry isError true), or a thrown
  // error when the call could not be made or answered (also when not connected).
  virtual asio::awaitable<CallToolResult> callTool(std::string name, Json arguments) = 0;
};

}  // namespace qd
