#pragma once

// The --client bridge: an MCP server on the process's standard input and output whose
// tools are the daemon's, chosen and renamed by a profile, each call forwarded over the
// one daemon connection under the tool's full daemon name. runClientMode() runs it with
// the process's configuration; tests run it with their own descriptors and socket.

#include <unistd.h>

#include <memory>

#include <asio/awaitable.hpp>

#include "daemon/cli/client_profile.h"
#include "daemon/cli/tinderbox_client.h"
#include "daemon/mcp/mcp_server.h"

namespace qd {

struct ClientBridgeOptions {
  TinderboxClientOptions daemon;
  ClientProfile profile = ClientProfile::all;
  int inputFd = STDIN_FILENO;
  int outputFd = STDOUT_FILENO;
  // Where a start-up failure's "Error: " line goes. Never standard output: that is the AI
  // client's MCP channel.
  int errorFd = STDERR_FILENO;
};

// The bridge's MCP identity: "quarvel-toolbox", the router version, tools without
// listChanged and nothing else.
Implementation clientServerInfo();
ServerCapabilities clientServerCapabilities();

// Reads the daemon's tool list once and registers a forwarding handler for each tool the
// profile offers, in the daemon's order. A failure to list is thrown.
asio::awaitable<void> registerClientTools(std::shared_ptr<TinderboxClient> client, std::shared_ptr<MCPServer> server,
                                          ClientProfile profile);

// Connects, lists, serves until SIGTERM, SIGINT or the end of standard input, then stops
// the server and shuts the daemon connection down; returns 0. At the end of input the
// calls already received are answered first (a signal cuts that short). A failure while
// starting logs "Fatal error", writes "Error: <description>" to `errorFd` and returns 1.
// A lost daemon connection does not end the bridge: later calls answer with error results.
asio::awaitable<int> runClientBridge(ClientBridgeOptions options);

}  // namespace qd
