#pragma once

// The daemon's listening Unix socket: accepts client processes, gives each connection an
// id ("client-0", "client-1", ... never reused) and its peer's identity, splits what each
// sends into lines and hands every line to one installed message handler, writing the
// handler's answer back as a line before the next line of that connection is read. The
// rate limit counts the lines of each client process over all its connections (see
// peer_rate_limits.h), so a client closed for it gains nothing by connecting again. It
// knows nothing of JSON (the daemon's handler does) but for the one error line a peer over
// the connection limit reads before it is closed: {"error":"Too many clients (max N)"}.
//
// Lives on the daemon's io thread like every actor, owned through a shared_ptr (the accept
// loop and the processing loops hold it weakly). No thread blocks in accept or read.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/local/stream_protocol.hpp>

#include "daemon/config/configuration.h"
#include "daemon/core/client_process_info.h"
#include "daemon/core/peer_rate_limits.h"
#include "daemon/logging/log_throttle.h"
#include "daemon/runtime/unique_fd.h"
#include "daemon/utilities/clock.h"
#include "platform/environment.h"

namespace qd {

class CancellableTask;
class ClientConnection;

struct SocketServerOptions {
  // The rate limit of every client process: lines per window, over all its connections.
  std::int64_t rateLimitRequests = Configuration::defaultRateLimitRequests;
  std::int64_t rateLimitWindowMs = Configuration::rateLimitWindow;
  const Clock* clock = &Clock::system();
  // The environment the socket path is checked against (its allowed folders).
  platform::Environment environment = platform::Environment::current();
  // Takes one waiting peer from the listening descriptor: a new close-on-exec,
  // non-blocking descriptor, or -1 with errno set. Empty: accept4(2). Tests stand in
  // here for refusals of the kernel that cannot be caused safely in a test program.
  std::function<int(int listenFd)> acceptConnection;
  // Gives the bound socket file its owner-only mode; throws when it cannot. Empty:
  // std::filesystem::permissions. Tests stand in here for a file system that refuses.
  std::function<void(const std::string& socketPath)> setSocketFileMode;
  // Decides, right after accept and before anything is read, whether the peer on this
  // descriptor may stay; false closes it at once (the hook logs its reason). Empty: every
  // peer stays.
  std::function<bool(int clientFd)> admitConnection;
  // Lets a connection have several lines in flight: each line is answered by a task of its
  // own and its reply is written when it is ready, so replies may overtake each other (the
  // protocol must name which request a reply answers). Off: one line at a time, in order.
  bool concurrentLines = false;

  static SocketServerOptions from(const Configuration& configuration);
};

class UnixSocketServer : public std::enable_shared_from_this<UnixSocketServer> {
 public:
  // Answers one line: the reply line (without its line feed), or none for no reply. An
  // error ends the connection without a reply.
  using MessageHandler = std::function<asio::awaitable<std::optional<std::string>>(
      std::string clientId, std::optional<ClientProcessInfo> clientProcessInfo, std::string line)>;
  using DisconnectHandler = std::function<asio::awaitable<void>(std::string clientId)>;

  static constexpr std::chrono::milliseconds firstAcceptBackoff{50};
  static constexpr std::chrono::milliseconds maxAcceptBackoff{1000};

  // Opens nothing yet.
  static std::shared_ptr<UnixSocketServer> create(asio::any_io_executor executor, std::string socketPath,
                                                  std::int64_t maxClients, SocketServerOptions options = {});
  // Closes what is still open, without the shutdown's logs and without removing the file.
  // On the io thread, or once it has stopped.
  ~UnixSocketServer();
  UnixSocketServer(const UnixSocketServer&) = delete;
  UnixSocketServer& operator=(const UnixSocketServer&) = delete;

  // Checks the path (ValidationError), removes a stale socket file there (anything else at
  // the path fails with ServerError::socketPathOccupied and stays untouched), binds with
  // mode 0600, listens and starts accepting. ServerError otherwise, or the file system's
  // error when the mode cannot be set. Does nothing while listening; fails after shutdown.
  void start();

  // Stops accepting, ends every processing loop, closes every connection (the disconnect
  // handler is not called) and removes the socket file this server made. Idempotent; the
  // server is not started again.
  void shutdown();

  // Sends one line to that connection. ServerError::clientNotFound for an id without a
  // connection; ConnectionError when the write fails.
  asio::awaitable<void> sendToClient(std::string clientId, std::string message);
  // Sends one line to every connection in turn; a failed send is skipped.
  asio::awaitable<void> broadcast(std::string message);

  std::int64_t getClientCount() const { return static_cast<std::int64_t>(connections_.size()); }
  std::vector<std::string> getClientIds() const;

  // Installs the handler and starts reading every connection that waits for one; a
  // connection accepted before this is not read until then.
  void setMessageHandler(MessageHandler handler);
  void setDisconnectHandler(DisconnectHandler handler);

  const std::string& socketPath() const { return socketPath_; }
  std::int64_t maxClients() const { return maxClients_; }
  bool isListening() const;

 private:
  using Acceptor = asio::local::stream_protocol::acceptor;

  UnixSocketServer(asio::any_io_executor executor, std::string socketPath, std::int64_t maxClients,
                   SocketServerOptions options);

  static asio::awaitable<void> acceptLoop(std::weak_ptr<UnixSocketServer> weak, std::shared_ptr<Acceptor> acceptor,
                                          std::shared_ptr<CancellableTask> task);
  static asio::awaitable<void> answerLine(std::weak_ptr<UnixSocketServer> weak, std::string clientId,
                                          std::shared_ptr<ClientConnection> connection, MessageHandler handler,
                                          std::optional<ClientProcessInfo> info, std::string line);
  static asio::awaitable<void> processClientMessages(std::weak_ptr<UnixSocketServer> weak, std::string clientId,
                                                     std::shared_ptr<ClientConnection> connection,
                                                     MessageHandler handler, std::shared_ptr<CancellableTask> task);
  void handleAcceptedConnection(UniqueFd socket);
  void startProcessingIfNeeded(const std::string& clientId, const std::shared_ptr<ClientConnection>& connection,
                               const MessageHandler& handler);
  asio::awaitable<void> removeConnection(std::string clientId);
  // Whose rate limit the connection counts against (its peer's process).
  std::string peerOf(const std::string& clientId) const;
  void removeStaleSocketFile();
  void removeOwnSocketFile();

  asio::any_io_executor executor_;
  const std::string socketPath_;
  const std::int64_t maxClients_;
  const SocketServerOptions options_;
  std::shared_ptr<Acceptor> acceptor_;
  std::shared_ptr<CancellableTask> acceptTask_;
  std::map<std::string, std::shared_ptr<ClientConnection>> connections_;
  std::map<std::string, ClientProcessInfo> clientProcessInfo_;
  std::map<std::string, std::shared_ptr<CancellableTask>> processingTasks_;
  std::int64_t nextClientId_ = 0;
  bool isShuttingDown_ = false;
  std::optional<MessageHandler> messageHandler_;
  std::optional<DisconnectHandler> disconnectHandler_;
  // The socket file this server bound, so shutdown removes that file and no other.
  std::optional<std::pair<dev_t, ino_t>> boundFile_;
  // A peer can connect and close in a loop while the server is full: one line a second.
  LogThrottle refusalLog_{*options_.clock, std::chrono::seconds(1)};
  PeerRateLimits rateLimits_{options_.rateLimitRequests, options_.rateLimitWindowMs, *options_.clock};
};

}  // namespace qd
