#pragma once

// The server side of MCP over any MCPTransport: initialize, ping, tools/list and
// tools/call from a table of registered tools, each with an asynchronous handler. Every
// received line is handled in a task of its own, so concurrent tool calls run side by
// side and are answered as they finish. No resources, prompts, cancellation or version
// checks. Lives on the io thread.
//
// Lines refused before dispatch: text that is not JSON is answered -32700 without an id;
// JSON that is not a valid request is answered -32600 (invalid request), carrying the
// line's "id" when that is a string or an integer, so the caller can match the refusal.
// A line the transport drops for its length is answered -32600 "Message too large (over
// <the limit>)" as soon as it goes over, so even a line that never ends is answered, with
// its id when the line's start shows it. When the id stands at the line's end instead,
// the refusal is repeated with it once the line has ended, so the sender can match it.
//
// Back-pressure: while kMaxMessagesInFlight lines, or lines of kMaxBytesInFlight bytes in
// all, are being handled (running calls and replies not yet written, say because the peer
// does not read, or calls that wait for a peer of their own), the server asks the transport
// to stop reading, and lets it read again once both have fallen to half. Nothing is refused
// for it: later lines wait in the transport's input. A line's text and its parsed forms are
// let go before its handler is awaited, so a call that waits holds what its handler keeps.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/steady_timer.hpp>

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

  // Returns once no received line is being handled any more (at once when none is).
  asio::awaitable<void> drain();

  bool isRunning() const { return isRunning_; }
  std::size_t messagesInFlight() const { return messagesInFlight_; }
  // The bytes of the lines being handled.
  std::size_t bytesInFlight() const { return bytesInFlight_; }

  static constexpr std::size_t kMaxMessagesInFlight = 256;
  static constexpr std::size_t kMaxBytesInFlight = std::size_t{64} << 20;

 private:
  struct RegisteredTool {
    MCPTool definition;
    ToolHandler handler;
  };

  MCPServer(asio::any_io_executor executor, std::shared_ptr<MCPTransport> transport, Implementation serverInfo,
            ServerCapabilities capabilities);

  static asio::awaitable<void> handleMessage(std::shared_ptr<MCPServer> self, std::string line);
  static asio::awaitable<void> refuseOversizedLine(std::shared_ptr<MCPServer> self, OversizedLine line);
  asio::awaitable<void> processLine(std::string line);
  void messageArrived(std::size_t bytes);
  void messageFinished(std::size_t bytes);
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
  std::size_t messagesInFlight_ = 0;
  std::size_t bytesInFlight_ = 0;
  bool readingPaused_ = false;
  asio::steady_timer idle_;  // never expires; cancelled whenever the last line is done
};

}  // namespace qd
