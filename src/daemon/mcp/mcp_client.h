#pragma once

// The client end of one MCP connection: JSON-RPC requests over any MCPTransport, each
// matched to its response by id and given its own time-out. It never answers requests
// from the server. It lives on the io thread: create it, start it and call it from there.

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/steady_timer.hpp>

#include "daemon/mcp/mcp_transport.h"
#include "daemon/mcp/mcp_types.h"
#include "daemon/runtime/one_shot.h"
#include "daemon/utilities/json.h"

namespace qd {

class MCPClient : public std::enable_shared_from_this<MCPClient> {
 public:
  // `requestTimeoutSeconds` applies to every request. Does not touch the transport.
  static std::shared_ptr<MCPClient> create(asio::any_io_executor executor, std::shared_ptr<MCPTransport> transport,
                                           Implementation clientInfo, double requestTimeoutSeconds);

  // Starts the transport; every received line is handled in a task of its own. The
  // transport's start error is thrown unchanged. When the transport reports that the
  // server's output ended (the server exited or closed it), every waiting request fails
  // at once with TransportError::connectionClosed, and so does every later one.
  asio::awaitable<void> start();
  // Sends "initialize" (protocol "2024-11-05"), stores the server's capabilities and
  // information, then sends "notifications/initialized".
  asio::awaitable<InitializeResult> initialize(ClientCapabilities capabilities);
  // Fails every pending request with TransportError::connectionClosed, closes the
  // transport. Ids keep counting; stored server information stays.
  asio::awaitable<void> close();

  asio::awaitable<ListToolsResult> listTools(std::optional<std::string> cursor = std::nullopt);
  // `arguments` is an object; absent sends no "arguments" member.
  asio::awaitable<CallToolResult> callTool(std::string name, std::optional<Json> arguments = std::nullopt);
  asio::awaitable<ListResourcesResult> listResources(std::optional<std::string> cursor = std::nullopt);
  asio::awaitable<ReadResourceResult> readResource(std::string uri);
  asio::awaitable<ListPromptsResult> listPrompts(std::optional<std::string> cursor = std::nullopt);
  asio::awaitable<GetPromptResult> getPrompt(std::string name,
                                             std::optional<std::map<std::string, std::string>> arguments = std::nullopt);
  asio::awaitable<void> ping();

  const std::optional<ServerCapabilities>& capabilities() const { return serverCapabilities_; }
  const std::optional<Implementation>& server() const { return serverInfo_; }
  bool isInitialized() const { return isInitialized_; }
  std::size_t pendingRequestCount() const { return pendingRequests_.size(); }

 private:
  struct PendingRequest {
    std::shared_ptr<OneShot<Json>> continuation;
    std::string method;
    std::shared_ptr<asio::steady_timer> timeoutTimer;
  };

  MCPClient(asio::any_io_executor executor, std::shared_ptr<MCPTransport> transport, Implementation clientInfo,
            double requestTimeoutSeconds);

  // The response's result; the error that settled the request otherwise.
  asio::awaitable<Json> sendRequest(std::string method, std::optional<Json> params,
                                    std::optional<double> timeoutSeconds = std::nullopt);
  // Sends the request and decodes its result as the record T. Callers pass named values
  // with std::move: g++ 12 destroys a temporary passed to a coroutine twice.
  template <class T>
  asio::awaitable<T> requestRecord(std::string method, std::optional<Json> params) {
    const Json raw = co_await sendRequest(std::move(method), std::move(params));
    co_return T::fromJson(raw);
  }
  void handleMessage(const std::string& line);
  void handleTimeout(const std::string& id, const std::string& method);
  void handleSendError(const std::string& id, std::exception_ptr error);
  void handleInputEnded();
  void failAllPending();
  std::optional<PendingRequest> takePending(const std::string& id);
  static asio::awaitable<void> sendTask(std::shared_ptr<MCPClient> self, std::string id, std::string bytes);

  asio::any_io_executor executor_;
  std::shared_ptr<MCPTransport> transport_;
  Implementation clientInfo_;
  double defaultRequestTimeout_;
  std::int64_t nextRequestId_ = 1;
  std::unordered_map<std::string, PendingRequest> pendingRequests_;
  std::optional<ServerCapabilities> serverCapabilities_;
  std::optional<Implementation> serverInfo_;
  bool isInitialized_ = false;
  bool inputEnded_ = false;
};

}  // namespace qd
