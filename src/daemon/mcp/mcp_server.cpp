#include "daemon/mcp/mcp_server.h"

#include <variant>

#include <asio/redirect_error.hpp>
#include <asio/use_awaitable.hpp>

#include "daemon/logging/logger.h"
#include "daemon/mcp/oversized_request.h"
#include "daemon/runtime/coroutine_helpers.h"
#include "daemon/utilities/any_codable.h"

namespace qd {
namespace {

constexpr const char* component = "MCPServer";

// The reader's own words for a line it refused. A JSON-RPC error carries them in its
// message; every other error in its description.
std::string parseFailureText(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const JSONRPCError& e) {
    return e.message;
  } catch (...) {
    return describeException(error);
  }
}

}  // namespace

std::shared_ptr<MCPServer> MCPServer::create(asio::any_io_executor executor, std::shared_ptr<MCPTransport> transport,
                                             Implementation serverInfo, ServerCapabilities capabilities) {
  return std::shared_ptr<MCPServer>(
      new MCPServer(std::move(executor), std::move(transport), std::move(serverInfo), std::move(capabilities)));
}

MCPServer::MCPServer(asio::any_io_executor executor, std::shared_ptr<MCPTransport> transport,
                     Implementation serverInfo, ServerCapabilities capabilities)
    : executor_(std::move(executor)),
      serverInfo_(std::move(serverInfo)),
      transport_(std::move(transport)),
      capabilities_(std::move(capabilities)),
      idle_(executor_, asio::steady_timer::time_point::max()) {}

void MCPServer::registerTool(MCPTool definition, ToolHandler handler) {
  std::string name = definition.name;
  tools_.insert_or_assign(std::move(name), RegisteredTool{std::move(definition), std::move(handler)});
}

void MCPServer::removeTool(const std::string& name) { tools_.erase(name); }

void MCPServer::setTools(std::vector<std::pair<MCPTool, ToolHandler>> tools) {
  tools_.clear();
  for (auto& [definition, handler] : tools) registerTool(std::move(definition), std::move(handler));
}

std::vector<MCPTool> MCPServer::toolDefinitions() const {
  std::vector<MCPTool> out;
  out.reserve(tools_.size());
  for (const auto& [name, tool] : tools_) out.push_back(tool.definition);
  return out;
}

asio::awaitable<void> MCPServer::start() {
  isRunning_ = true;
  std::weak_ptr<MCPServer> weak = weak_from_this();
  auto executor = executor_;
  MessageHandler onMessage = [weak, executor](std::string line) {
    if (auto self = weak.lock()) {
      self->messageArrived(line.size());
      startTask(executor, handleMessage(std::move(self), std::move(line)), component, "handle message");
    }
  };
  OversizedLineHandler onOversized = [weak, executor](OversizedLine line) {
    if (auto self = weak.lock()) {
      self->messageArrived(line.head.size() + line.tail.size());
      startTask(executor, refuseOversizedLine(std::move(self), std::move(line)), component, "refuse message");
    }
  };
  transport_->setOversizedLineHandler(std::move(onOversized));
  co_await transport_->start(std::move(onMessage));
  Logger::info(component, "Server started",
               {{"name", serverInfo_.name}, {"tools", static_cast<std::int64_t>(tools_.size())}});
}

asio::awaitable<void> MCPServer::stop() {
  isRunning_ = false;
  co_await transport_->close();
  Logger::info(component, "Server stopped");
}

asio::awaitable<void> MCPServer::sendNotification(std::string method, std::optional<Json> params) {
  JSONRPCMessage message{JSONRPCNotification(std::move(method), std::move(params))};
  co_await sendMessage(std::move(message));
}

asio::awaitable<void> MCPServer::notifyToolsChanged() {
  std::string method = MCPMethod::notificationToolsListChanged;
  co_await sendNotification(std::move(method), std::nullopt);
}

void MCPServer::messageArrived(std::size_t bytes) {
  ++messagesInFlight_;
  bytesInFlight_ += bytes;
  if (readingPaused_) return;
  const bool tooMany = messagesInFlight_ >= kMaxMessagesInFlight;
  if (!tooMany && bytesInFlight_ < kMaxBytesInFlight) return;
  readingPaused_ = true;
  const char* reason = tooMany ? "Too many messages in flight; pausing input" : "Too much text in flight; pausing input";
  Logger::warn(component, reason,
               {{"inFlight", static_cast<std::int64_t>(messagesInFlight_)},
                {"bytes", static_cast<std::int64_t>(bytesInFlight_)}});
  transport_->pauseReading();
}

void MCPServer::messageFinished(std::size_t bytes) {
  --messagesInFlight_;
  bytesInFlight_ -= bytes;
  // Half the bounds as the point to resume, so reading does not flip on every reply.
  if (readingPaused_ && messagesInFlight_ <= kMaxMessagesInFlight / 2 && bytesInFlight_ <= kMaxBytesInFlight / 2) {
    readingPaused_ = false;
    transport_->resumeReading();
  }
  if (messagesInFlight_ == 0) idle_.cancel();
}

asio::awaitable<void> MCPServer::drain() {
  while (messagesInFlight_ > 0) {
    std::error_code ignored;
    co_await idle_.async_wait(asio::redirect_error(asio::use_awaitable, ignored));
  }
}

asio::awaitable<void> MCPServer::handleMessage(std::shared_ptr<MCPServer> self, std::string line) {
  const std::size_t bytes = line.size();
  try {
    co_await self->processLine(std::move(line));
  } catch (...) {
    Logger::error(component, "Failed to handle message", {{"error", describeException(std::current_exception())}});
  }
  self->messageFinished(bytes);
}

namespace {

// A limit as people write it: "16 MiB", or bytes when it is no whole number of MiB.
std::string sizeText(std::size_t bytes) {
  constexpr std::size_t mebibyte = 1 << 20;
  if (bytes % mebibyte == 0) return std::to_string(bytes / mebibyte) + " MiB";
  return std::to_string(bytes) + " bytes";
}

}  // namespace

asio::awaitable<void> MCPServer::refuseOversizedLine(std::shared_ptr<MCPServer> self, OversizedLine line) {
  const std::size_t bytes = line.head.size() + line.tail.size();
  try {
    std::optional<RequestID> id = requestIdFromLineStart(line.head);
    bool answer = true;
    if (!line.ended) {
      Logger::warn(component, "Message too large, dropping it",
                   {{"maxBytes", static_cast<std::int64_t>(line.maxLineBytes)}});
    } else {
      // Answered when it went over; again only when its end names a request its start did not.
      answer = !id;
      if (answer) id = requestIdFromLineEnd(line.tail);
      answer = answer && id;
    }
    if (answer) {
      JSONRPCError error =
          JSONRPCError::invalidRequest("Message too large (over " + sizeText(line.maxLineBytes) + ")");
      co_await self->sendError(std::move(id), std::move(error));
    }
  } catch (...) {
    Logger::error(component, "Failed to handle message", {{"error", describeException(std::current_exception())}});
  }
  self->messageFinished(bytes);
}

namespace {

// The id of a line refused before dispatch, when the caller could match it: a string or
// an integer "id" of a JSON object.
std::optional<RequestID> readableId(const Json& raw) {
  if (!raw.is_object()) return std::nullopt;
  const auto id = raw.find("id");
  if (id == raw.end()) return std::nullopt;
  if (id->is_string()) return RequestID::string(id->get<std::string>());
  if (auto integer = intValue(*id)) return RequestID::integer(*integer);
  return std::nullopt;
}

}  // namespace

asio::awaitable<void> MCPServer::processLine(std::string line) {
  Json raw;
  std::optional<std::string> parseFailure;
  try {
    raw = parseJson(line);
  } catch (...) {
    parseFailure = parseFailureText(std::current_exception());
  }
  // Parsed, the text is let go: a call that waits for long must not hold it meanwhile.
  std::string().swap(line);
  if (parseFailure) {
    JSONRPCError error = JSONRPCError::parseError("Failed to parse message: " + *parseFailure);
    co_await sendError(std::nullopt, std::move(error));
    co_return;
  }
  JSONRPCMessage message;
  std::optional<std::string> invalid;
  try {
    message = JSONRPCMessage::fromJson(raw);
  } catch (...) {
    invalid = parseFailureText(std::current_exception());
  }
  if (invalid) {
    JSONRPCError error = JSONRPCError::invalidRequest("Invalid request: " + *invalid);
    std::optional<RequestID> id = readableId(raw);
    co_await sendError(std::move(id), std::move(error));
    co_return;
  }
  raw = Json();  // the message holds what it needs of it
  if (auto* request = std::get_if<JSONRPCRequest>(&message.value)) {
    co_await handleRequest(std::move(*request));
  } else if (auto* notification = std::get_if<JSONRPCNotification>(&message.value)) {
    handleNotification(*notification);
  } else {
    Logger::warn(component, "Received unexpected response message");
  }
}

namespace {

// The response with the encoded result, or the internal error with `failureText` when the
// result cannot be encoded.
JSONRPCMessage resultOrInternalError(const RequestID& id, const std::function<Json()>& encode,
                                     const char* failureText) {
  try {
    Json result = encode();
    ensureEncodable(result);
    return JSONRPCMessage{JSONRPCResponse(id, std::move(result))};
  } catch (const std::exception&) {
    return JSONRPCMessage{JSONRPCErrorResponse(id, JSONRPCError::internalError(failureText))};
  }
}

}  // namespace

asio::awaitable<void> MCPServer::handleRequest(JSONRPCRequest request) {
  const std::string& method = request.method;
  if (method == MCPMethod::toolsCall) {
    co_await handleCallTool(std::move(request));
    co_return;
  }
  JSONRPCMessage reply;
  if (method == MCPMethod::initialize) {
    reply = resultOrInternalError(
        request.id,
        [this] { return InitializeResult{mcpProtocolVersion, capabilities_, serverInfo_, std::nullopt}.toJson(); },
        "Failed to encode initialize result");
  } else if (method == MCPMethod::ping) {
    reply = JSONRPCMessage{JSONRPCResponse(request.id, Json::object())};
  } else if (method == MCPMethod::toolsList) {
    reply = resultOrInternalError(
        request.id, [this] { return ListToolsResult{toolDefinitions(), std::nullopt}.toJson(); },
        "Failed to encode tools list");
  } else {
    reply = JSONRPCMessage{JSONRPCErrorResponse(request.id, JSONRPCError::methodNotFound(method))};
  }
  co_await sendMessage(std::move(reply));
}

asio::awaitable<void> MCPServer::handleCallTool(JSONRPCRequest request) {
  const Json* nameValue = nullptr;
  if (request.params && request.params->is_object()) {
    auto it = request.params->find("name");
    if (it != request.params->end() && it->is_string()) nameValue = &*it;
  }
  const std::string name = nameValue ? nameValue->get<std::string>() : "";
  auto tool = tools_.find(name);
  if (!nameValue || tool == tools_.end()) {
    JSONRPCError error = JSONRPCError::invalidParams(nameValue ? "Unknown tool: " + name : "Missing tool name");
    std::optional<RequestID> id = request.id;
    co_await sendError(std::move(id), std::move(error));
    co_return;
  }
  CallToolParams params{name, std::nullopt};
  if (auto it = request.params->find("arguments"); it != request.params->end() && it->is_object()) {
    params.arguments = std::move(*it);
  }
  // The handler gets the arguments; only the id is needed here any more.
  request.params.reset();

  // Our own copy: the table may change while the handler runs.
  ToolHandler handler = tool->second.handler;
  CallToolResult result;
  std::exception_ptr failure;
  try {
    result = co_await handler(std::move(params));
  } catch (...) {
    failure = std::current_exception();
  }

  JSONRPCMessage reply;
  if (!failure) {
    reply = resultOrInternalError(request.id, [&result] { return result.toJson(); }, "Failed to encode tool result");
  } else {
    // A handler's failure is still a successful call at the protocol level.
    const std::string text = "Error: " + describeException(failure);
    reply = resultOrInternalError(
        request.id, [&text] { return CallToolResult::text(text, true).toJson(); }, "Tool execution failed");
  }
  co_await sendMessage(std::move(reply));
}

void MCPServer::handleNotification(const JSONRPCNotification& notification) {
  if (notification.method == MCPMethod::initialized) {
    Logger::info(component, "Client initialized");
  } else if (notification.method == MCPMethod::notificationCancelled) {
    Logger::debug(component, "Received cancellation notification");
  } else {
    Logger::debug(component, "Received notification", {{"method", notification.method}});
  }
}

asio::awaitable<void> MCPServer::sendMessage(JSONRPCMessage message) {
  try {
    std::string line = message.encode();
    co_await transport_->send(std::move(line));
  } catch (...) {
    Logger::error(component, "Failed to send message", {{"error", describeException(std::current_exception())}});
  }
}

asio::awaitable<void> MCPServer::sendError(std::optional<RequestID> id, JSONRPCError error) {
  JSONRPCMessage message{JSONRPCErrorResponse(std::move(id), std::move(error))};
  co_await sendMessage(std::move(message));
}

}  // namespace qd
