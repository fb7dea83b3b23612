#include "daemon/mcp/unix_socket_transport.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "daemon/logging/logger.h"
#include "daemon/mcp/transport_error.h"
#include "daemon/runtime/coroutine_helpers.h"
#include "daemon/runtime/process_signals.h"

namespace qd {
namespace {
constexpr const char* component = "UnixSocketTransport";
// The portable size of sun_path, NUL included; Linux allows 108 but peers elsewhere do not.
constexpr std::size_t maxSocketPathBytes = 104;
}  // namespace

int connectUnixSocket(const std::string& path) {
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) throw TransportError::connectionFailed(std::string("Failed to create socket: ") + std::strerror(errno));
  if (path.size() + 1 > maxSocketPathBytes) throw TransportError::connectionFailed("Socket path too long");
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  for (;;) {
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) break;
    if (errno == EINTR) continue;
    throw TransportError::connectionFailed("Failed to connect to " + path + ": " + std::strerror(errno));
  }
  return fd.release();
}

UnixSocketTransport::UnixSocketTransport(asio::any_io_executor executor, std::string socketPath)
    : executor_(std::move(executor)), socketPath_(std::move(socketPath)) {
  ignoreSigpipe();
}

UnixSocketTransport::~UnixSocketTransport() {
  if (socket_) {
    std::error_code ignored;
    socket_->close(ignored);
  }
}

asio::awaitable<void> UnixSocketTransport::start(MessageHandler onMessage) {
  UniqueFd fd(connectUnixSocket(socketPath_));
  socket_ = tryReactorDescriptor(executor_, fd);
  if (!socket_) throw TransportError::connectionFailed("Failed to connect to " + socketPath_ + ": not pollable");
  writer_ = std::make_shared<LineWriter>(executor_, socket_);
  isConnected_ = true;
  startTask(executor_, readLines(socket_, std::move(onMessage)), component, "read socket");
  Logger::info(component, "Connected to " + socketPath_);
  co_return;
}

asio::awaitable<void> UnixSocketTransport::send(std::string message) {
  if (!writer_ || !isConnected_) throw TransportError::connectionClosed();
  auto writer = writer_;
  co_await sendLine(std::move(writer), std::move(message));
}

asio::awaitable<void> UnixSocketTransport::close() {
  isConnected_ = false;
  writer_.reset();
  if (socket_) {
    std::error_code ignored;
    socket_->close(ignored);  // ends a pending read; the number is forgotten with it
    socket_.reset();
  }
  Logger::info(component, "Disconnected from " + socketPath_);
  co_return;
}

}  // namespace qd
