#pragma once

// The server side of MCP over any MCPTransport: initialize, ping, tools/list and
// tools/call from a table of registered tools, each with an asynchronous handler. Every
// received line is handled in a task of its own, so concurrent tool calls run side by
// side and are answered as they finish. No resources, prompts, cancellation or version
// checks. Lives on the io thread.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>

#include "daemon/mcp/jsonrpc.h"
#include "daemon/mcp/mcp_transport.h"
#include "daemon/mcp/mcp_types.h"

namespace qd {

// A tool's handler. The server keeps its own copy of the function for as long as a call
// runs, so a capturing lambda coroutine stays valid even if the tool is removed meanwhile.
using ToolHandler = std::function<asio::awaitable<CallToolResult>(CallToolParams)>;

class MCPServer : public std::enable_shared_from_this<MCPServer> {
 public:
  static std::shared_ptr<MCPServer> create(asio::any_io_executor executor, std::shared_ptr<MCPTransport> transport,
                                           Implementation serverInfo, ServerCapabilities capabilities);

  // Replaces a tool of the same name.
  void registerTool(MCPTool definition, ToolHandler handler);
  void removeTool(const std::string& name);
  // Empties the table, then registers each pair in order (a later repeat replaces).
  void setTools(std::vector<std::pair<MCPTool, ToolHandler>> tools);
  std::vector<MCPTool> toolDefinitions() const;

  // Starts the transport; logs "Server started" (name, tools). The transport's error is
  // thrown (the server then still counts as running).
  asio::awaitable<void> start();
  // Closes the transport; logs "Server stopped".
  asio::awaitable<void> stop();
  asio::awaitable<void> sendNotification(std::string method, std::optional<Json> params = std::nullopt);
  asio::awaitable<void> notifyToolsChanged();

  bool isRunning() const { return isRunning_; }

 private:
  struct RegisteredTool {
    MCPTool definition;
    ToolHandler handler;
  };

  MCPServer(asio::any_io_executor executor, std::shared_ptr<MCPTransport> transport, Implementation serverInfo,
            ServerCapabilities capabilities);

  static asio::awaitable<void> handleMessage(std::shared_ptr<MCPServer> self, std::string line);
  asio::awaitable<void> handleRequest(JSONRPCRequest request);
  asio::awaitable<void> handleCallTool(JSONRPCRequest request);
  void handleNotification(const JSONRPCNotification& notification);
  asio::awaitable<void> sendMessage(JSONRPCMessage message);
  asio::awaitable<void> sendError(std::optional<RequestID> id, JSONRPCError error);

  asio::any_io_executor executor_;
  Implementation serverInfo_;
  std::shared_ptr<MCPTransport> transport_;
  std::map<std::string, RegisteredTool> tools_;
  bool isRunning_ = false;
  ServerCapabilities capabilities_;
};

}  // namespace qd
