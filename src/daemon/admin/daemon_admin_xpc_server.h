#pragma once

// The daemon's admin channel: the socket "admin.sock" beside the daemon's socket, through
// which the tray application reads health, catalog and settings and saves settings. Only
// the application of our own installation, run by the same user, is admitted (see
// admin_peer_check.h); a refused peer is closed before anything is read and logged at
// WARN. Each request line is served in a task of its own, so several may be in flight on
// one connection; each reply names its request's id.
//
// The server holds the daemon weakly: once the daemon is gone every request is answered
// "Daemon unavailable". Lives on the daemon's io thread, owned through a shared_ptr.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>

#include "daemon/admin/admin_daemon.h"
#include "daemon/admin/admin_peer_check.h"
#include "daemon/core/unix_socket_server.h"

namespace qd {

struct DaemonAdminXPCServerOptions {
  AdminPeerPolicy peerPolicy;
  // The socket layer's own settings (rate limit, clock, the environment the path is
  // checked against); its peer hook and line mode are set by the admin server.
  SocketServerOptions socket;
  std::int64_t maxClients = Configuration::defaultMaxClients;
};

// Serves one request line: the reply line to write (without its line feed). Never throws.
// Malformed lines get "Invalid admin request" (with the id when it is an integer), a
// missing daemon "Daemon unavailable", "params" that is not an object "Invalid parameter:
// Invalid admin params JSON", and a failing method its error's description.
class DaemonAdminXPCService {
 public:
  explicit DaemonAdminXPCService(std::weak_ptr<AdminDaemon> daemon) : daemon_(std::move(daemon)) {}
  asio::awaitable<std::string> request(std::string line) const;

 private:
  std::weak_ptr<AdminDaemon> daemon_;
};

// The peer check with its log lines: true admits the peer on `clientFd`; false means it
// must be closed unread (the refusal is logged at WARN with its pid and euid).
bool admitAdminPeer(int clientFd, const std::string& expectedApplicationPath);

class DaemonAdminXPCServer : public std::enable_shared_from_this<DaemonAdminXPCServer> {
 public:
  static constexpr const char* component = "DaemonAdminXPC";

  // Opens nothing yet. The expected application path is worked out here, once.
  static std::shared_ptr<DaemonAdminXPCServer> create(asio::any_io_executor executor, std::string socketPath,
                                                      std::weak_ptr<AdminDaemon> daemon,
                                                      DaemonAdminXPCServerOptions options = {});
  ~DaemonAdminXPCServer();
  DaemonAdminXPCServer(const DaemonAdminXPCServer&) = delete;
  DaemonAdminXPCServer& operator=(const DaemonAdminXPCServer&) = delete;

  // Binds the socket (0600, in its folder, which is made 0700 when it has to be created)
  // and starts accepting. Throws what the socket server throws.
  void resume();
  // Stops accepting, closes every connection and removes the socket file. Idempotent.
  void invalidate();

  const std::string& socketPath() const { return socketServer_->socketPath(); }
  const std::string& expectedApplicationPath() const { return expectedApplicationPath_; }
  std::int64_t connectionCount() const { return socketServer_->getClientCount(); }

 private:
  DaemonAdminXPCServer(asio::any_io_executor executor, std::string socketPath, std::weak_ptr<AdminDaemon> daemon,
                       DaemonAdminXPCServerOptions options);

  std::string expectedApplicationPath_;
  std::shared_ptr<DaemonAdminXPCService> service_;
  std::shared_ptr<UnixSocketServer> socketServer_;
};

}  // namespace qd
