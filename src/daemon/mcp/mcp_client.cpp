#include "daemon/mcp/mcp_client.h"

#include <cmath>
#include <system_error>
#include <variant>

#include <asio/error.hpp>
#include <asio/post.hpp>

#include "daemon/logging/logger.h"
#include "daemon/mcp/jsonrpc.h"
#include "daemon/mcp/mcp_error.h"
#include "daemon/mcp/transport_error.h"
#include "daemon/runtime/coroutine_helpers.h"
#include "daemon/utilities/durations.h"

namespace qd {
namespace {

constexpr const char* component = "MCPClient";

// A list request's params: the cursor when one is given, else no params member at all.
std::optional<Json> pagedParams(const std::optional<std::string>& cursor) {
  if (!cursor) return std::nullopt;
  return Json{{"cursor", *cursor}};
}

}  // namespace

std::shared_ptr<MCPClient> MCPClient::create(asio::any_io_executor executor, std::shared_ptr<MCPTransport> transport,
                                             Implementation clientInfo, double requestTimeoutSeconds) {
  return std::shared_ptr<MCPClient>(
      new MCPClient(std::move(executor), std::move(transport), std::move(clientInfo), requestTimeoutSeconds));
}

MCPClient::MCPClient(asio::any_io_executor executor, std::shared_ptr<MCPTransport> transport,
                     Implementation clientInfo, double requestTimeoutSeconds)
    : executor_(std::move(executor)),
      transport_(std::move(transport)),
      clientInfo_(std::move(clientInfo)),
      defaultRequestTimeout_(requestTimeoutSeconds) {}

asio::awaitable<void> MCPClient::start() {
  std::weak_ptr<MCPClient> weak = weak_from_this();
  auto executor = executor_;
  MessageHandler onMessage = [weak, executor](std::string line) {
    if (weak.expired()) return;
    asio::post(executor, [weak, line = std::move(line)] {
      if (auto self = weak.lock()) self->handleMessage(line);
    });
  };
  // Posted like the lines, so the answers read before the end are delivered first.
  transport_->setInputEndedHandler([weak, executor] {
    asio::post(executor, [weak] {
      if (auto self = weak.lock()) self->handleInputEnded();
    });
  });
  co_await transport_->start(std::move(onMessage));
}

void MCPClient::handleInputEnded() {
  if (inputEnded_) return;
  inputEnded_ = true;
  if (!pendingRequests_.empty()) {
    Logger::warn(component, "Server output ended; failing waiting requests", {{"count", pendingRequests_.size()}});
  }
  failAllPending();
}

void MCPClient::failAllPending() {
  auto pending = std::move(pendingRequests_);
  pendingRequests_.clear();
  for (auto& [id, entry] : pending) {
    entry.timeoutTimer->cancel();
    entry.continuation->fail(std::make_exception_ptr(TransportError::connectionClosed()));
  }
}

asio::awaitable<Json> MCPClient::sendRequest(std::string method, std::optional<Json> params,
                                             std::optional<double> timeoutSeconds) {
  // Nothing can answer once the server's output has ended.
  if (inputEnded_) throw TransportError::connectionClosed();
  const double seconds = timeoutSeconds.value_or(defaultRequestTimeout_);
  const std::int64_t id = nextRequestId_++;
  // An encoding error leaves the id used and nothing registered.
  std::string bytes = JSONRPCMessage{JSONRPCRequest(RequestID::integer(id), method, std::move(params))}.encode();

  // Registered before the send task can run, so no response can come before its entry.
  const std::string key = std::to_string(id);
  auto self = shared_from_this();
  auto continuation = std::make_shared<OneShot<Json>>(executor_);
  auto timer = std::make_shared<asio::steady_timer>(executor_, timeoutFromSeconds(seconds));
  timer->async_wait([self, key, method](std::error_code ec) {
    if (!ec) self->handleTimeout(key, method);
  });
  pendingRequests_[key] = PendingRequest{continuation, method, timer};
  startTask(executor_, sendTask(self, key, std::move(bytes)), component, "send request");

  try {
    co_return co_await continuation->wait();
  } catch (const std::system_error& e) {
    // The caller itself was cancelled (it lost a race): its entry goes with it.
    if (e.code() == asio::error::operation_aborted && !continuation->isSettled()) {
      auto it = pendingRequests_.find(key);
      if (it != pendingRequests_.end() && it->second.continuation == continuation) {
        it->second.timeoutTimer->cancel();
        pendingRequests_.erase(it);
      }
    }
    throw;
  }
}

asio::awaitable<void> MCPClient::sendTask(std::shared_ptr<MCPClient> self, std::string id, std::string bytes) {
  try {
    co_await self->transport_->send(std::move(bytes));
  } catch (...) {
    self->handleSendError(id, std::current_exception());
  }
}

std::optional<MCPClient::PendingRequest> MCPClient::takePending(const std::string& id) {
  auto it = pendingRequests_.find(id);
  if (it == pendingRequests_.end()) return std::nullopt;
  PendingRequest entry = std::move(it->second);
  pendingRequests_.erase(it);
  return entry;
}

void MCPClient::handleMessage(const std::string& line) {
  JSONRPCMessage message;
  try {
    message = JSONRPCMessage::parse(line);
  } catch (...) {
    Logger::error(component, "Failed to parse message", {{"error", describeException(std::current_exception())}});
    return;
  }
  std::visit(
      [this](auto& m) {
        using M = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<M, JSONRPCRequest>) {
          Logger::warn(component, "Received unexpected request", {{"method", m.method}});
        } else if constexpr (std::is_same_v<M, JSONRPCNotification>) {
          Logger::debug(component, "Received notification", {{"method", m.method}});
        } else if constexpr (std::is_same_v<M, JSONRPCResponse>) {
          const std::string key = m.id.description();
          if (auto entry = takePending(key)) {
            entry->timeoutTimer->cancel();
            entry->continuation->resume(std::move(m.result));
          } else {
            Logger::warn(component, "Received response for unknown request", {{"id", key}});
          }
        } else {
          if (!m.id) {
            Logger::warn(component, "Received error without request ID",
                         {{"code", m.error.code}, {"message", m.error.message}});
            return;
          }
          if (auto entry = takePending(m.id->description())) {
            entry->timeoutTimer->cancel();
            entry->continuation->fail(std::make_exception_ptr(MCPError::serverError(m.error.code, m.error.message)));
          }
        }
      },
      message.value);
}

void MCPClient::handleTimeout(const std::string& id, const std::string& method) {
  auto entry = takePending(id);
  if (!entry) return;
  entry->continuation->fail(std::make_exception_ptr(MCPError::timeout(method)));
  Logger::warn(component, "Request timed out", {{"id", id}, {"method", method}});
}

void MCPClient::handleSendError(const std::string& id, std::exception_ptr error) {
  auto entry = takePending(id);
  if (!entry) return;
  entry->timeoutTimer->cancel();
  entry->continuation->fail(std::move(error));
}

asio::awaitable<InitializeResult> MCPClient::initialize(ClientCapabilities capabilities) {
  Json capabilitiesJson = Json::object();
  Json clientInfoJson = Json::object();
  try {
    capabilitiesJson = capabilities.toJson();
  } catch (const std::exception&) {
  }
  try {
    clientInfoJson = clientInfo_.toJson();
  } catch (const std::exception&) {
  }
  Json params = {{"protocolVersion", mcpProtocolVersion},
                 {"capabilities", std::move(capabilitiesJson)},
                 {"clientInfo", std::move(clientInfoJson)}};
  std::string method = MCPMethod::initialize;
  const Json raw = co_await sendRequest(std::move(method), std::move(params));
  InitializeResult result = InitializeResult::fromJson(raw);
  serverCapabilities_ = result.capabilities;
  serverInfo_ = result.serverInfo;
  isInitialized_ = true;

  std::string notification = JSONRPCMessage{JSONRPCNotification(MCPMethod::initialized)}.encode();
  co_await transport_->send(std::move(notification));
  Logger::info(component, "Initialized",
               {{"server", result.serverInfo.name},
                {"version", result.serverInfo.version},
                {"protocol", result.protocolVersion}});
  co_return result;
}

asio::awaitable<void> MCPClient::close() {
  failAllPending();
  co_await transport_->close();
  isInitialized_ = false;
  Logger::info(component, "Connection closed");
}

asio::awaitable<ListToolsResult> MCPClient::listTools(std::optional<std::string> cursor) {
  std::string method = MCPMethod::toolsList;
  std::optional<Json> params = pagedParams(cursor);
  co_return co_await requestRecord<ListToolsResult>(std::move(method), std::move(params));
}

asio::awaitable<CallToolResult> MCPClient::callTool(std::string name, std::optional<Json> arguments) {
  std::optional<Json> params = Json{{"name", std::move(name)}};
  if (arguments) (*params)["arguments"] = std::move(*arguments);
  std::string method = MCPMethod::toolsCall;
  co_return co_await requestRecord<CallToolResult>(std::move(method), std::move(params));
}

asio::awaitable<ListResourcesResult> MCPClient::listResources(std::optional<std::string> cursor) {
  std::string method = MCPMethod::resourcesList;
  std::optional<Json> params = pagedParams(cursor);
  co_return co_await requestRecord<ListResourcesResult>(std::move(method), std::move(params));
}

asio::awaitable<ReadResourceResult> MCPClient::readResource(std::string uri) {
  std::optional<Json> params = Json{{"uri", std::move(uri)}};
  std::string method = MCPMethod::resourcesRead;
  co_return co_await requestRecord<ReadResourceResult>(std::move(method), std::move(params));
}

asio::awaitable<ListPromptsResult> MCPClient::listPrompts(std::optional<std::string> cursor) {
  std::string method = MCPMethod::promptsList;
  std::optional<Json> params = pagedParams(cursor);
  co_return co_await requestRecord<ListPromptsResult>(std::move(method), std::move(params));
}

asio::awaitable<GetPromptResult> MCPClient::getPrompt(std::string name,
                                                      std::optional<std::map<std::string, std::string>> arguments) {
  std::optional<Json> params = Json{{"name", std::move(name)}};
  if (arguments) {
    Json object = Json::object();
    for (const auto& [key, value] : *arguments) object[key] = value;
    (*params)["arguments"] = std::move(object);
  }
  std::string method = MCPMethod::promptsGet;
  co_return co_await requestRecord<GetPromptResult>(std::move(method), std::move(params));
}

asio::awaitable<void> MCPClient::ping() {
  std::string method = MCPMethod::ping;
  co_await sendRequest(std::move(method), std::nullopt);
}

}  // namespace qd
