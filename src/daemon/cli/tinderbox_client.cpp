#include "daemon/cli/tinderbox_client.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>

#include <asio/error.hpp>
#include <asio/redirect_error.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "daemon/config/configuration.h"
#include "daemon/core/client_connection.h"
#include "daemon/logging/logger.h"
#include "daemon/mcp/line_splitter.h"
#include "daemon/runtime/coroutine_helpers.h"
#include "daemon/runtime/process_signals.h"
#include "daemon/runtime/unique_fd.h"
#include "daemon/utilities/any_codable.h"
#include "daemon/utilities/unicode_text.h"

namespace qd {
namespace {

constexpr const char* kComponent = "Client";
constexpr std::size_t kReadChunk = 65536;
// How often an attempt retries a connect refused for a full listen backlog.
constexpr std::chrono::milliseconds kBacklogPoll{50};

enum class ConnectOutcome { connected, pending, busy, failed };

// Starts a non-blocking connect of `fd` to `path`. A path that does not fit sockaddr_un
// can never connect and fails like a missing socket.
ConnectOutcome beginConnect(int fd, const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) return ConnectOutcome::failed;
  std::memcpy(address.sun_path, path.data(), path.size());
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return ConnectOutcome::connected;
  if (errno == EINPROGRESS) return ConnectOutcome::pending;
  if (errno == EAGAIN) return ConnectOutcome::busy;  // the listener's backlog is full
  return ConnectOutcome::failed;
}

bool socketErrorIsClear(int fd) {
  int error = 0;
  socklen_t length = sizeof(error);
  return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

// The request line, or serializationFailed. The request's JSON is gone once this returns,
// so a caller that then waits for the daemon holds only the line.
std::string encodeRequest(std::int64_t id, std::string method, std::optional<Json> params) {
  Json request = {{"method", std::move(method)}, {"_requestId", id}};
  if (params) request["params"] = std::move(*params);
  try {
    ensureEncodable(request);
    return dumpJson(request);
  } catch (const std::exception&) {
    throw ClientError::serializationFailed();
  }
}

}  // namespace

TinderboxClientOptions TinderboxClientOptions::fromConfiguration(const Configuration& configuration) {
  TinderboxClientOptions options;
  options.socketPath = configuration.socketPath();
  options.connectionTimeout = std::chrono::milliseconds(configuration.connectionTimeout());
  options.requestTimeout = std::chrono::milliseconds(configuration.requestTimeout());
  return options;
}

std::shared_ptr<TinderboxClient> TinderboxClient::create(asio::any_io_executor executor,
                                                         TinderboxClientOptions options) {
  return std::shared_ptr<TinderboxClient>(new TinderboxClient(std::move(executor), std::move(options)));
}

TinderboxClient::TinderboxClient(asio::any_io_executor executor, TinderboxClientOptions options)
    : executor_(std::move(executor)), options_(std::move(options)) {
  ignoreSigpipe();
}

TinderboxClient::~TinderboxClient() {
  if (stream_) {
    std::error_code ignored;
    stream_->close(ignored);
  }
}

asio::awaitable<void> TinderboxClient::start() {
  Logger::info(kComponent, "Starting Tinderbox client");
  co_await connectToDaemon();
  Logger::info(kComponent, "Client started successfully");
}

asio::awaitable<void> TinderboxClient::pause(std::chrono::milliseconds duration) {
  asio::steady_timer timer(executor_, duration);
  co_await timer.async_wait(asio::use_awaitable);
}

asio::awaitable<void> TinderboxClient::connectToDaemon() {
  Logger::info(kComponent, "Connecting to daemon", {{"socketPath", options_.socketPath}});
  const auto deadline = std::chrono::steady_clock::now() + options_.connectionTimeout;
  for (;;) {
    auto stream = co_await attemptConnection();
    // A reconnect that shutdown() overtook leaves no connection behind.
    if (isShutDown_) {
      if (stream) {
        std::error_code ignored;
        stream->close(ignored);
      }
      throw ClientError::notConnected();
    }
    if (stream) {
      stream_ = stream;
      writer_ = std::make_shared<LineWriter>(executor_, stream);
      isRunning_ = true;
      hasConnected_ = true;
      lastUnmatchedError_.reset();
      startTask(executor_, receiveLoop(weak_from_this(), std::move(stream)), kComponent, "receive loop");
      Logger::info(kComponent, "Connected to daemon");
      co_return;
    }
    // The deadline is looked at only here, so a last attempt may start after it.
    if (std::chrono::steady_clock::now() >= deadline) throw ClientError::connectionFailed();
    co_await pause(options_.retryPause);
    Logger::info(kComponent, "Retrying daemon connection...");
  }
}

asio::awaitable<void> TinderboxClient::ensureConnected() {
  if (isRunning_) co_return;
  if (isShutDown_ || !hasConnected_) throw ClientError::notConnected();
  auto waiter = std::make_shared<OneShot<std::monostate>>(executor_);
  if (reconnecting_) {
    reconnecting_->push_back(waiter);
  } else {
    Logger::info(kComponent, "Reconnecting to daemon");
    reconnecting_ = std::make_shared<ReconnectWaiters>(ReconnectWaiters{waiter});
    // Its first step runs now and may connect at once, settling the waiter before the wait.
    startTask(executor_, reconnectTask(weak_from_this(), reconnecting_), kComponent, "reconnect");
  }
  co_await waiter->wait();
}

asio::awaitable<void> TinderboxClient::reconnectTask(std::weak_ptr<TinderboxClient> weak,
                                                     std::shared_ptr<ReconnectWaiters> waiters) {
  std::exception_ptr failure;
  if (auto self = weak.lock()) {
    try {
      co_await self->connectToDaemon();
    } catch (...) {
      failure = std::current_exception();
    }
    if (self->reconnecting_ == waiters) self->reconnecting_.reset();
  }
  // Waiters that shutdown() has failed already are left as they are.
  for (auto& waiter : *waiters) {
    if (failure) {
      waiter->fail(failure);
    } else {
      waiter->resume(std::monostate{});
    }
  }
}

asio::awaitable<std::shared_ptr<asio::posix::stream_descriptor>> TinderboxClient::attemptConnection() {
  const auto attemptDeadline = std::chrono::steady_clock::now() + options_.attemptWindow;
  for (;;) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd) co_return nullptr;
    const ConnectOutcome outcome = beginConnect(fd.get(), options_.socketPath);
    if (outcome == ConnectOutcome::failed) co_return nullptr;
    if (outcome == ConnectOutcome::busy) {
      fd.reset();
      if (std::chrono::steady_clock::now() + kBacklogPoll >= attemptDeadline) co_return nullptr;
      co_await pause(kBacklogPoll);
      continue;
    }
    auto stream = std::make_shared<asio::posix::stream_descriptor>(executor_, fd.release());
    if (outcome == ConnectOutcome::pending) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(attemptDeadline -
                                                                              std::chrono::steady_clock::now());
      auto writable = stream->async_wait(asio::posix::stream_descriptor::wait_write, asio::use_awaitable);
      const bool ready = co_await withTimeout(std::move(writable), std::max(left, std::chrono::milliseconds(0)));
      if (!ready || !socketErrorIsClear(stream->native_handle())) co_return nullptr;
    }
    co_return stream;
  }
}

asio::awaitable<void> TinderboxClient::sendNotification(std::string agents, Json data) {
  Json arguments = {{"agents", std::move(agents)}, {"data", std::move(data)}};
  std::string name = "notify";
  co_await callTool(std::move(name), std::move(arguments));
}

asio::awaitable<Json> TinderboxClient::callTool(std::string name, Json arguments) {
  std::string method = "call_tool";
  std::optional<Json> params = Json{{"name", std::move(name)}, {"arguments", std::move(arguments)}};
  Json reply = co_await sendToDaemon(std::move(method), std::move(params));
  if (!reply.is_object()) throw ClientError::invalidResponse();
  co_return reply;
}

asio::awaitable<std::vector<Json>> TinderboxClient::listTools() {
  std::string method = "list_tools";
  const Json reply = co_await sendToDaemon(std::move(method), std::nullopt);
  const auto tools = reply.find("tools");
  if (tools == reply.end() || !tools->is_array()) throw ClientError::invalidResponse();
  std::vector<Json> out;
  out.reserve(tools->size());
  for (const Json& tool : *tools) {
    if (!tool.is_object()) throw ClientError::invalidResponse();
    out.push_back(tool);
  }
  co_return out;
}

asio::awaitable<std::vector<MCPTool>> TinderboxClient::listToolsTyped() {
  const std::vector<Json> raw = co_await listTools();
  std::vector<MCPTool> tools;
  tools.reserve(raw.size());
  for (const Json& tool : raw) tools.push_back(MCPTool::fromJson(tool));
  co_return tools;
}

asio::awaitable<CallToolResult> TinderboxClient::callToolTyped(std::string name, Json arguments) {
  const Json reply = co_await callTool(std::move(name), std::move(arguments));
  std::optional<CallToolResult> result;
  try {
    result = CallToolResult::fromJson(reply);
  } catch (const std::exception&) {
    result = CallToolResult::text(dumpJson(reply, 2));
  }
  co_return std::move(*result);
}

asio::awaitable<Json> TinderboxClient::sendToDaemon(std::string method, std::optional<Json> params) {
  // Before the first connection and after shutdown nothing is sent, and no id is taken.
  if (isShutDown_ || !hasConnected_) throw ClientError::notConnected();
  // From here the id stays used whatever becomes of the request.
  const std::int64_t id = nextRequestId_++;
  std::string line = encodeRequest(id, std::move(method), std::move(params));
  // A longer line may make the daemon drop the connection, and every request on it with
  // the one that was too large; refused here, it costs that request alone. Refused before
  // connecting, it neither waits for an absent daemon nor holds its text meanwhile.
  if (line.size() + 1 > maxRequestLineBytes) throw ClientError::requestTooLarge();
  co_await ensureConnected();
  // Lost again while the reconnect's waiters were being woken.
  if (!isRunning_) throw ClientError::connectionClosed();

  // The entry is in the table before the line can be written, so no reply can miss it.
  auto continuation = std::make_shared<OneShot<Json>>(executor_);
  auto timer = std::make_shared<asio::steady_timer>(executor_, options_.requestTimeout);
  std::weak_ptr<TinderboxClient> weak = weak_from_this();
  timer->async_wait([weak, id](std::error_code ec) {
    if (ec) return;
    if (auto self = weak.lock()) self->handleTimeout(id);
  });
  pending_[id] = PendingRequest{continuation, timer};
  // The write runs on its own: a daemon that stops reading must not keep the caller past
  // its time-out.
  startTask(executor_, sendTask(weak, id, writer_, std::move(line)), kComponent, "send request");

  try {
    co_return co_await continuation->wait();
  } catch (const std::system_error& e) {
    // The caller itself was cancelled (it lost a race): its entry goes with it.
    if (e.code() == asio::error::operation_aborted && !continuation->isSettled()) {
      if (auto it = pending_.find(id); it != pending_.end() && it->second.continuation == continuation) {
        it->second.timeoutTimer->cancel();
        pending_.erase(it);
      }
    }
    throw;
  }
}

asio::awaitable<void> TinderboxClient::sendTask(std::weak_ptr<TinderboxClient> weak, std::int64_t id,
                                                std::shared_ptr<LineWriter> writer, std::string line) {
  std::exception_ptr failure;
  try {
    co_await writer->writeLine(std::move(line));
  } catch (const std::system_error& e) {
    // The daemon has closed the connection: the receive loop sees its end, after whatever
    // it said last (the reason it refused us), and fails the request with that.
    if (e.code() == asio::error::broken_pipe || e.code() == asio::error::connection_reset) co_return;
    failure = std::make_exception_ptr(writeError(e.code()));
  }
  if (!failure) co_return;
  auto self = weak.lock();
  if (!self) co_return;
  // A request already completed (by its reply, time-out or shutdown) is left alone.
  if (auto entry = self->takePending(id)) {
    entry->timeoutTimer->cancel();
    entry->continuation->fail(failure);
  }
}

std::optional<TinderboxClient::PendingRequest> TinderboxClient::takePending(std::int64_t id) {
  auto it = pending_.find(id);
  if (it == pending_.end()) return std::nullopt;
  PendingRequest entry = std::move(it->second);
  pending_.erase(it);
  return entry;
}

void TinderboxClient::handleTimeout(std::int64_t id) {
  if (auto entry = takePending(id)) {
    entry->continuation->fail(std::make_exception_ptr(ClientError::timeout()));
  }
}

asio::awaitable<void> TinderboxClient::receiveLoop(std::weak_ptr<TinderboxClient> weak,
                                                   std::shared_ptr<asio::posix::stream_descriptor> stream) {
  LineSplitter splitter;
  auto buffer = std::make_unique<std::array<char, kReadChunk>>();
  for (;;) {
    std::error_code ec;
    const std::size_t n =
        co_await stream->async_read_some(asio::buffer(*buffer), asio::redirect_error(asio::use_awaitable, ec));
    auto self = weak.lock();
    // Shut down meanwhile: the read ended because the connection was closed on purpose.
    if (!self || self->stream_ != stream || !self->isRunning_) co_return;
    for (auto& line : splitter.append(std::string_view(buffer->data(), n))) {
      if (!unicode::isValidUtf8(line)) {
        self->connectionLost(ClientError::invalidUTF8().description());
        co_return;
      }
      self->handleResponse(line);
    }
    if (ec == asio::error::eof) {
      self->connectionLost(ClientError::connectionClosed().description());
      co_return;
    }
    if (ec) {
      self->connectionLost(ec.message());
      co_return;
    }
  }
}

void TinderboxClient::connectionLost(const std::string& errorText) {
  if (!isRunning_) return;
  Logger::error(kComponent, "Receive error", {{"error", errorText}});
  closeConnection(lastUnmatchedError_ ? std::make_exception_ptr(ClientError::daemonError(*lastUnmatchedError_))
                                      : std::make_exception_ptr(ClientError::connectionClosed()));
}

void TinderboxClient::closeConnection(const std::exception_ptr& reason) {
  isRunning_ = false;
  auto pending = std::move(pending_);
  pending_.clear();
  for (auto& [id, entry] : pending) {
    entry.timeoutTimer->cancel();
    entry.continuation->fail(reason);
  }
  if (writer_) writer_->close();  // closes the shared socket; the pending read ends with it
  writer_.reset();
  stream_.reset();
}

void TinderboxClient::handleResponse(const std::string& line) {
  Json reply;
  try {
    reply = parseJson(line);
  } catch (const std::exception& e) {
    Logger::error(kComponent, "Error parsing response", {{"error", e.what()}, {"line", line}});
    return;
  }
  if (!reply.is_object()) {
    Logger::error(kComponent, "Error parsing response",
                  {{"error", ClientError::invalidResponse().description()}, {"line", line}});
    return;
  }
  const auto idMember = reply.find("_requestId");
  const std::optional<std::int64_t> id = idMember == reply.end() ? std::nullopt : intValue(*idMember);
  lastUnmatchedError_.reset();
  if (!id) {
    Logger::warn(kComponent, "Response missing _requestId", {{"response", dumpJson(reply)}});
    if (const auto error = reply.find("error"); error != reply.end() && error->is_string()) {
      lastUnmatchedError_ = error->get<std::string>();
    }
    return;
  }
  auto entry = takePending(*id);
  if (!entry) {
    Logger::warn(kComponent, "No handler for response", {{"requestId", *id}});
    return;
  }
  entry->timeoutTimer->cancel();
  reply.erase("_requestId");
  const auto error = reply.find("error");
  if (error != reply.end() && error->is_string()) {
    entry->continuation->fail(std::make_exception_ptr(ClientError::daemonError(error->get<std::string>())));
    return;
  }
  entry->continuation->resume(std::move(reply));
}

void TinderboxClient::shutdown() {
  isShutDown_ = true;
  closeConnection(std::make_exception_ptr(ClientError::connectionClosed()));
  if (auto waiters = std::exchange(reconnecting_, nullptr)) {
    for (auto& waiter : *waiters) waiter->fail(std::make_exception_ptr(ClientError::notConnected()));
  }
  Logger::info(kComponent, "Client shutdown complete");
}

}  // namespace qd
