#include "daemon/router/daemon_note_app_client.h"

#include "daemon/core/daemon_error.h"

namespace qd {

asio::awaitable<CallToolResult> DaemonNoteAppClient::callTool(std::string name, Json arguments) {
  // Hold the client for the whole call: the daemon may drop or replace it meanwhile.
  std::shared_ptr<MCPClient> client = client_;
  if (!client) throw DaemonError::notConnected();
  std::optional<Json> args = std::move(arguments);
  co_return co_await client->callTool(std::move(name), std::move(args));
}

}  // namespace qd
