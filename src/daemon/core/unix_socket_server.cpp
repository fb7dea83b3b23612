#include "daemon/core/unix_socket_server.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <asio/redirect_error.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>

#include "daemon/core/cancellable_task.h"
#include "daemon/core/client_connection.h"
#include "daemon/core/listener_socket.h"
#include "daemon/core/server_error.h"
#include "daemon/logging/logger.h"
#include "daemon/runtime/coroutine_helpers.h"
#include "daemon/runtime/process_signals.h"
#include "daemon/security/path_validator.h"
#include "daemon/utilities/json.h"
#include "daemon/utilities/unicode_text.h"

namespace qd {
namespace {

constexpr const char* kComponent = "UnixSocketServer";

// Errors of accept(2) that concern one peer only (it left before we took it): the next
// accept may well succeed, so there is nothing to wait for.
bool isPeerError(int error) { return error == ECONNABORTED || error == EPROTO || error == EPERM; }

// The peer ended its stream after a whole line: it has simply left. One that ends it inside
// a line, or resets it, has lost what it sent.
bool isOrderlyHangUp(const std::exception_ptr& failure, const ClientConnection& connection) {
  try {
    std::rethrow_exception(failure);
  } catch (const ConnectionError& e) {
    return e.kind() == ConnectionError::Kind::connectionClosed && connection.pendingBytes() == 0;
  } catch (...) {
    return false;
  }
}

// A connection closed for its process's rate limit: the limiter has logged that already, at
// most once a second per process.
bool isRateLimitRefusal(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const RateLimitExceededError&) {
    return true;
  } catch (...) {
    return false;
  }
}

// Tells a peer refused for the connection limit why, in the one line it will read before
// the end. Best effort and never waits: the socket is fresh, so its buffer takes the short
// line whole, and a peer that is already gone changes nothing.
void refuseOverLimit(int fd, std::int64_t maxClients) {
  const std::string line =
      dumpJson(Json{{"error", "Too many clients (max " + std::to_string(maxClients) + ")"}}) + "\n";
  ssize_t sent;
  do {
    sent = ::send(fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  } while (sent < 0 && errno == EINTR);
}

}  // namespace

SocketServerOptions SocketServerOptions::from(const Configuration& configuration) {
  SocketServerOptions options;
  options.rateLimitRequests = configuration.rateLimitRequests();
  return options;
}

std::shared_ptr<UnixSocketServer> UnixSocketServer::create(asio::any_io_executor executor, std::string socketPath,
                                                           std::int64_t maxClients, SocketServerOptions options) {
  return std::shared_ptr<UnixSocketServer>(
      new UnixSocketServer(std::move(executor), std::move(socketPath), maxClients, std::move(options)));
}

UnixSocketServer::UnixSocketServer(asio::any_io_executor executor, std::string socketPath, std::int64_t maxClients,
                                   SocketServerOptions options)
    : executor_(std::move(executor)),
      socketPath_(std::move(socketPath)),
      maxClients_(maxClients),
      options_(std::move(options)) {
  ignoreSigpipe();
}

UnixSocketServer::~UnixSocketServer() {
  if (acceptTask_) acceptTask_->cancel();
  if (acceptor_) {
    std::error_code ignored;
    acceptor_->close(ignored);
  }
  for (auto& [id, task] : processingTasks_) task->cancel();
  for (auto& [id, connection] : connections_) connection->close();
}

bool UnixSocketServer::isListening() const { return acceptor_ && acceptor_->is_open(); }

std::vector<std::string> UnixSocketServer::getClientIds() const {
  std::vector<std::string> ids;
  ids.reserve(connections_.size());
  for (const auto& [id, connection] : connections_) ids.push_back(id);
  return ids;
}

asio::awaitable<void> UnixSocketServer::sendToClient(std::string clientId, std::string message) {
  auto it = connections_.find(clientId);
  if (it == connections_.end()) throw ServerError::clientNotFound(clientId);
  auto connection = it->second;
  co_await connection->send(std::move(message));
}

asio::awaitable<void> UnixSocketServer::broadcast(std::string message) {
  std::vector<std::shared_ptr<ClientConnection>> recipients;
  recipients.reserve(connections_.size());
  for (const auto& [id, connection] : connections_) recipients.push_back(connection);
  for (const auto& connection : recipients) {
    try {
      std::string line = message;
      co_await connection->send(std::move(line));
    } catch (...) {
      // One peer that cannot be written to does not keep the line from the others.
    }
  }
}

void UnixSocketServer::start() {
  if (isShuttingDown_) throw ServerError::failedToCreateListener();
  if (acceptor_) return;
  Logger::info(kComponent, "Starting Unix socket server", {{"socketPath", socketPath_}, {"maxClients", maxClients_}});

  PathValidator::validateSocketPath(socketPath_, options_.environment);
  removeStaleSocketFile();

  UniqueFd listener = openListeningSocket(socketPath_);
  struct stat bound {};
  if (::stat(socketPath_.c_str(), &bound) == 0) boundFile_ = std::make_pair(bound.st_dev, bound.st_ino);

  // The file was created 0600 already; this keeps a umask that removed our own bits from
  // leaving it unusable, and fails start-up loudly if the mode cannot be set. A failure
  // leaves nothing half-started behind: no file, no recorded acceptor, so a later start()
  // begins afresh instead of returning early without an accept loop.
  try {
    if (options_.setSocketFileMode) {
      options_.setSocketFileMode(socketPath_);
    } else {
      std::filesystem::permissions(socketPath_,
                                   std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::replace);
    }
  } catch (...) {
    removeOwnSocketFile();
    throw;
  }
  Logger::debug(kComponent, "Set socket permissions", {{"permissions", "0600"}});

  auto acceptor = std::make_shared<Acceptor>(executor_);
  acceptor->assign(asio::local::stream_protocol(), listener.get());
  listener.release();
  acceptor_ = acceptor;

  acceptTask_ = CancellableTask::make();
  acceptTask_->start(executor_, acceptLoop(weak_from_this(), acceptor, acceptTask_), kComponent, "accept");
  Logger::info(kComponent, "Server started successfully");
}

void UnixSocketServer::removeStaleSocketFile() {
  struct stat existing {};
  if (::lstat(socketPath_.c_str(), &existing) != 0) return;  // nothing there (or bind will say why)
  // A regular file, a folder or a link is somebody's data, not our stale socket.
  if (!S_ISSOCK(existing.st_mode)) throw ServerError::socketPathOccupied(socketPath_);
  (void)::unlink(socketPath_.c_str());
  Logger::debug(kComponent, "Removed stale socket file");
}

void UnixSocketServer::removeOwnSocketFile() {
  if (!boundFile_) return;
  struct stat existing {};
  if (::lstat(socketPath_.c_str(), &existing) == 0 && S_ISSOCK(existing.st_mode) &&
      existing.st_dev == boundFile_->first && existing.st_ino == boundFile_->second) {
    (void)::unlink(socketPath_.c_str());
  }
  boundFile_.reset();
}

void UnixSocketServer::shutdown() {
  if (isShuttingDown_) return;
  isShuttingDown_ = true;
  Logger::info(kComponent, "Shutting down server");

  if (auto task = std::exchange(acceptTask_, nullptr)) task->cancel();
  if (auto acceptor = std::exchange(acceptor_, nullptr)) {
    std::error_code ignored;
    acceptor->close(ignored);
  }
  for (auto& [id, task] : std::exchange(processingTasks_, {})) task->cancel();
  for (auto& [id, connection] : std::exchange(connections_, {})) connection->close();
  removeOwnSocketFile();
  Logger::info(kComponent, "Server shutdown complete");
}

asio::awaitable<void> UnixSocketServer::acceptLoop(std::weak_ptr<UnixSocketServer> weak,
                                                   std::shared_ptr<Acceptor> acceptor,
                                                   std::shared_ptr<CancellableTask> task) {
  auto backoff = std::chrono::milliseconds(0);
  for (;;) {
    std::error_code ec;
    co_await acceptor->async_wait(Acceptor::wait_read, asio::redirect_error(asio::use_awaitable, ec));
    if (task->cancelRequested() || !acceptor->is_open()) co_return;
    if (ec) {
      Logger::warn(kComponent, "Accept failed", {{"error", ec.message()}});
      co_return;
    }

    // Take every peer waiting now; an error that may repeat leaves the loop for a pause.
    bool pause = false;
    for (;;) {
      auto server = weak.lock();
      if (!server) co_return;
      const int fd = server->options_.acceptConnection
                         ? server->options_.acceptConnection(acceptor->native_handle())
                         : ::accept4(acceptor->native_handle(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd >= 0) {
        backoff = std::chrono::milliseconds(0);
        UniqueFd socket(fd);
        server->handleAcceptedConnection(std::move(socket));
        if (task->cancelRequested()) co_return;
        continue;
      }
      const int error = errno;
      server.reset();  // not held across the pause below
      if (error == EINTR) continue;
      if (error == EAGAIN || error == EWOULDBLOCK) break;
      if (error == EBADF || error == EINVAL) co_return;  // the listener was closed
      if (isPeerError(error)) {
        Logger::warn(kComponent, "Accept failed", {{"error", std::strerror(error)}});
        continue;
      }
      // Out of descriptors or memory: retrying at once would spin and flood the log, so
      // wait, longer each time, and say so once per pause.
      backoff = backoff.count() == 0 ? firstAcceptBackoff : std::min(backoff * 2, maxAcceptBackoff);
      Logger::warn(kComponent, "Accept failed", {{"error", std::strerror(error)}, {"retryAfterMs", backoff.count()}});
      pause = true;
      break;
    }
    if (pause) {
      asio::steady_timer timer(acceptor->get_executor(), backoff);
      co_await timer.async_wait(asio::redirect_error(asio::use_awaitable, ec));
      if (task->cancelRequested() || !acceptor->is_open()) co_return;
    }
  }
}

void UnixSocketServer::handleAcceptedConnection(UniqueFd socket) {
  if (isShuttingDown_) return;
  if (options_.admitConnection && !options_.admitConnection(socket.get())) return;  // closed here, unread
  if (static_cast<std::int64_t>(connections_.size()) >= maxClients_) {
    if (std::optional<std::int64_t> omitted = refusalLog_.admit()) {
      Logger::warn(kComponent, "Max clients reached, rejecting connection",
                   {{"maxClients", maxClients_}, {"omitted", *omitted}});
    }
    refuseOverLimit(socket.get(), maxClients_);
    return;  // the descriptor closes here; the peer reads the reason, then the end
  }
  const std::string clientId = "client-" + std::to_string(nextClientId_++);
  std::optional<ClientProcessInfo> info = resolveClientProcessInfo(socket.get());
  std::shared_ptr<ClientConnection> connection;
  try {
    connection = std::make_shared<ClientConnection>(executor_, std::move(socket), clientId);
  } catch (const std::exception& e) {
    Logger::warn(kComponent, "Accept failed", {{"clientId", clientId}, {"error", e.what()}});
    return;
  }
  connections_[clientId] = connection;
  rateLimits_.connectionOpened(PeerRateLimits::peerOf(clientId, info));
  if (info) {
    clientProcessInfo_[clientId] = *info;
  } else {
    clientProcessInfo_.erase(clientId);
  }
  if (Logger::isEnabled(LogLevel::info)) {
    Logger::info(kComponent, "New client accepted", {{"clientId", clientId}, {"totalClients", connections_.size()}});
  }
  if (messageHandler_) startProcessingIfNeeded(clientId, connection, *messageHandler_);
}

std::string UnixSocketServer::peerOf(const std::string& clientId) const {
  const auto it = clientProcessInfo_.find(clientId);
  if (it == clientProcessInfo_.end()) return PeerRateLimits::peerOf(clientId, std::nullopt);
  return PeerRateLimits::peerOf(clientId, it->second);
}

void UnixSocketServer::setMessageHandler(MessageHandler handler) {
  messageHandler_ = std::move(handler);
  Logger::info(kComponent, "Message handler installed", {{"clientCount", connections_.size()}});
  // A loop may end its connection before its first wait, so walk a copy.
  const auto waiting = connections_;
  for (const auto& [id, connection] : waiting) startProcessingIfNeeded(id, connection, *messageHandler_);
}

void UnixSocketServer::setDisconnectHandler(DisconnectHandler handler) { disconnectHandler_ = std::move(handler); }

void UnixSocketServer::startProcessingIfNeeded(const std::string& clientId,
                                               const std::shared_ptr<ClientConnection>& connection,
                                               const MessageHandler& handler) {
  if (processingTasks_.contains(clientId) || connection->isClosed()) return;
  auto task = CancellableTask::make();
  processingTasks_[clientId] = task;
  task->start(executor_, processClientMessages(weak_from_this(), clientId, connection, handler, task), kComponent,
              "processClientMessages");
}

asio::awaitable<void> UnixSocketServer::processClientMessages(std::weak_ptr<UnixSocketServer> weak,
                                                              std::string clientId,
                                                              std::shared_ptr<ClientConnection> connection,
                                                              MessageHandler handler,
                                                              std::shared_ptr<CancellableTask> task) {
  if (weak.expired()) co_return;
  if (Logger::isEnabled(LogLevel::debug)) {
    Logger::debug(kComponent, "Starting client processing loop", {{"clientId", clientId}});
  }
  std::exception_ptr failure;
  try {
    std::string peer;
    if (auto server = weak.lock()) peer = server->peerOf(clientId);
    for (;;) {
      if (task->cancelRequested() || connection->isClosed()) break;
      {
        auto server = weak.lock();
        if (!server || server->isShuttingDown_) break;
        server->rateLimits_.enforce(peer);  // before every line, buffered ones too
      }
      std::string line = co_await connection->receive();
      if (Logger::isEnabled(LogLevel::debug)) {
        Logger::debug(kComponent, "Received message",
                      {{"clientId", clientId}, {"messageLength", unicode::graphemeCount(line)}});
      }

      std::optional<ClientProcessInfo> info;
      bool concurrent = false;
      asio::any_io_executor executor;
      {
        auto server = weak.lock();
        if (!server || server->isShuttingDown_) break;
        if (auto it = server->clientProcessInfo_.find(clientId); it != server->clientProcessInfo_.end()) {
          info = it->second;
        }
        concurrent = server->options_.concurrentLines;
        executor = server->executor_;
      }
      if (concurrent) {
        startTask(executor, answerLine(weak, clientId, connection, handler, std::move(info), std::move(line)),
                  kComponent, "answerLine");
        continue;
      }
      auto pending = handler(clientId, std::move(info), std::move(line));
      std::optional<std::string> reply = co_await std::move(pending);

      // The connection may have closed while the handler ran: then the reply goes nowhere.
      if (task->cancelRequested() || connection->isClosed()) break;
      if (reply) co_await connection->send(std::move(*reply));
    }
  } catch (...) {
    failure = std::current_exception();
  }

  auto server = weak.lock();
  if (!server) co_return;  // the connection closed with the server
  if (auto it = server->processingTasks_.find(clientId); it != server->processingTasks_.end() && it->second == task) {
    server->processingTasks_.erase(it);
  }
  // Shutdown and cancellation end loops on purpose and clean up themselves.
  if (!failure || task->cancelRequested() || server->isShuttingDown_) co_return;
  if (isRateLimitRefusal(failure)) {
    if (Logger::isEnabled(LogLevel::info)) {
      Logger::info(kComponent, "Client closed for its rate limit", {{"clientId", clientId}});
    }
  } else if (!isOrderlyHangUp(failure, *connection)) {
    Logger::warn(kComponent, "Client connection error", {{"clientId", clientId}, {"error", describeException(failure)}});
  } else if (Logger::isEnabled(LogLevel::info)) {
    Logger::info(kComponent, "Client closed the connection", {{"clientId", clientId}});
  }
  co_await server->removeConnection(clientId);
}

asio::awaitable<void> UnixSocketServer::answerLine(std::weak_ptr<UnixSocketServer> weak, std::string clientId,
                                                   std::shared_ptr<ClientConnection> connection,
                                                   MessageHandler handler, std::optional<ClientProcessInfo> info,
                                                   std::string line) {
  std::exception_ptr failure;
  try {
    auto pending = handler(clientId, std::move(info), std::move(line));
    std::optional<std::string> reply = co_await std::move(pending);
    // The connection may have closed while the handler ran: then the reply goes nowhere.
    if (reply && !connection->isClosed()) co_await connection->send(std::move(*reply));
  } catch (...) {
    failure = std::current_exception();
  }
  if (!failure || connection->isClosed()) co_return;
  // As in the one-line-at-a-time loop: a failed handler or write ends the connection.
  auto server = weak.lock();
  if (!server || server->isShuttingDown_) co_return;
  auto it = server->connections_.find(clientId);
  if (it == server->connections_.end() || it->second != connection) co_return;
  Logger::warn(kComponent, "Client connection error", {{"clientId", clientId}, {"error", describeException(failure)}});
  co_await server->removeConnection(clientId);
}

asio::awaitable<void> UnixSocketServer::removeConnection(std::string clientId) {
  if (auto task = processingTasks_.find(clientId); task != processingTasks_.end()) {
    auto running = task->second;
    processingTasks_.erase(task);
    running->cancel();
  }
  auto it = connections_.find(clientId);
  if (it == connections_.end()) co_return;
  auto connection = it->second;
  connections_.erase(it);
  connection->close();
  rateLimits_.connectionClosed(peerOf(clientId));
  clientProcessInfo_.erase(clientId);
  if (disconnectHandler_) {
    auto handler = *disconnectHandler_;  // survives a replacement while it runs
    try {
      auto pending = handler(clientId);
      co_await std::move(pending);
    } catch (...) {
      Logger::warn(kComponent, "Disconnect handler failed",
                   {{"clientId", clientId}, {"error", describeException(std::current_exception())}});
    }
  }
  if (Logger::isEnabled(LogLevel::info)) {
    Logger::info(kComponent, "Client removed", {{"clientId", clientId}, {"remainingClients", connections_.size()}});
  }
}

}  // namespace qd
