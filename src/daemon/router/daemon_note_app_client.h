#pragma once

#include <memory>

#include "daemon/core/note_app_client.h"
#include "daemon/mcp/mcp_client.h"

namespace qd {

// The daemon's view of its note-app client for the code beneath it (journal writers, the
// record mirror, the coordination tools). It reads the daemon's current client at each
// call, so a client attached, replaced or dropped later is seen at once.
class DaemonNoteAppClient final : public NoteAppClient {
 public:
  explicit DaemonNoteAppClient(const std::shared_ptr<MCPClient>& client) : client_(client) {}

  bool isConnected() const override { return client_ != nullptr; }
  asio::awaitable<CallToolResult> callTool(std::string name, Json arguments) override;

 private:
  const std::shared_ptr<MCPClient>& client_;
};

}  // namespace qd
