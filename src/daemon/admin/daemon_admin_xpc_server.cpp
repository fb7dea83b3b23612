#include "daemon/admin/daemon_admin_xpc_server.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <variant>

#include "daemon/admin/admin_methods.h"
#include "daemon/admin/admin_protocol.h"
#include "daemon/core/daemon_error.h"
#include "daemon/core/server_error.h"
#include "daemon/logging/logger.h"
#include "daemon/runtime/coroutine_helpers.h"

namespace qd {
namespace {

namespace protocol = DaemonAdminXPCProtocol;

asio::awaitable<std::optional<std::string>> serveLine(std::shared_ptr<const DaemonAdminXPCService> service,
                                                      std::string line) {
  co_return co_await service->request(std::move(line));
}

// The daemon's folder normally exists already; when it does not, it is made for the
// daemon's user alone.
void ensureSocketFolder(const std::string& socketPath) {
  const std::filesystem::path folder = std::filesystem::path(socketPath).parent_path();
  if (folder.empty()) return;
  std::error_code ec;
  if (std::filesystem::exists(folder, ec)) return;
  std::filesystem::create_directories(folder.parent_path(), ec);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    throw ServerError::bindFailed(std::error_code(errno, std::generic_category()).message());
  }
}

}  // namespace

asio::awaitable<std::string> DaemonAdminXPCService::request(std::string line) const {
  auto parsed = protocol::parseRequest(line);
  if (const auto* malformed = std::get_if<protocol::Malformed>(&parsed)) {
    co_return protocol::encodeError(malformed->id, protocol::invalidRequestText);
  }
  auto& request = std::get<protocol::Request>(parsed);
  const std::int64_t id = request.id;

  std::shared_ptr<AdminDaemon> daemon = daemon_.lock();
  if (!daemon) co_return protocol::encodeError(id, "Daemon unavailable");
  if (Logger::isEnabled(LogLevel::debug)) {
    Logger::debug(DaemonAdminXPCServer::component, "Handling admin XPC request", {{"method", request.method}});
  }
  if (request.params && !request.params->is_object()) {
    co_return protocol::encodeError(id, DaemonError::invalidParameter(protocol::invalidParamsDetail).description());
  }

  std::string failure;
  try {
    Json result = co_await handleAppAdminRequest(std::move(daemon), std::move(request.method), std::move(request.params));
    co_return protocol::encodeResult(id, result);
  } catch (...) {
    failure = describeException(std::current_exception());
  }
  co_return protocol::encodeError(id, failure);
}

std::shared_ptr<DaemonAdminXPCServer> DaemonAdminXPCServer::create(asio::any_io_executor executor,
                                                                   std::string socketPath,
                                                                   std::weak_ptr<AdminDaemon> daemon,
                                                                   DaemonAdminXPCServerOptions options) {
  return std::shared_ptr<DaemonAdminXPCServer>(
      new DaemonAdminXPCServer(std::move(executor), std::move(socketPath), std::move(daemon), std::move(options)));
}

DaemonAdminXPCServer::DaemonAdminXPCServer(asio::any_io_executor executor, std::string socketPath,
                                           std::weak_ptr<AdminDaemon> daemon, DaemonAdminXPCServerOptions options)
    : expectedApplicationPath_(qd::expectedApplicationPath(options.peerPolicy)),
      service_(std::make_shared<DaemonAdminXPCService>(std::move(daemon))) {
  SocketServerOptions socketOptions = std::move(options.socket);
  socketOptions.concurrentLines = true;
  // The check needs nothing of the daemon, only the kernel and the path found above.
  socketOptions.admitConnection = [expected = expectedApplicationPath_](int clientFd) {
    return admitAdminPeer(clientFd, expected);
  };
  socketServer_ = UnixSocketServer::create(std::move(executor), std::move(socketPath), options.maxClients,
                                           std::move(socketOptions));
}

DaemonAdminXPCServer::~DaemonAdminXPCServer() = default;

void DaemonAdminXPCServer::resume() {
  ensureSocketFolder(socketServer_->socketPath());
  socketServer_->start();
  std::shared_ptr<const DaemonAdminXPCService> service = service_;
  socketServer_->setMessageHandler(
      [service](std::string, std::optional<ClientProcessInfo>, std::string line) { return serveLine(service, std::move(line)); });
}

void DaemonAdminXPCServer::invalidate() { socketServer_->shutdown(); }

bool admitAdminPeer(int clientFd, const std::string& expectedPath) {
  constexpr const char* component = DaemonAdminXPCServer::component;
  const std::optional<AdminPeer> peer = adminPeerOf(clientFd);
  if (peer && isAuthorizedAdminPeer(*peer, ::geteuid(), expectedPath)) {
    if (Logger::isEnabled(LogLevel::debug)) {
      Logger::debug(component, "Accepted XPC admin connection",
                    {{"pid", std::to_string(peer->pid)}, {"euid", std::to_string(peer->effectiveUserID)}});
    }
    return true;
  }
  Json metadata = Json::object();
  if (peer) {
    metadata["pid"] = std::to_string(peer->pid);
    metadata["euid"] = std::to_string(peer->effectiveUserID);
  }
  Logger::warn(component, "Rejected unauthorized XPC admin connection", metadata);
  return false;
}

}  // namespace qd
