#pragma once

#include <memory>
#include <string>

#include <asio/any_io_executor.hpp>

#include "daemon/mcp/line_io.h"
#include "daemon/mcp/mcp_transport.h"

namespace qd {

// The client side of a Unix-domain stream socket. A peer that closes the socket ends the
// reading only; the transport never reconnects.
class UnixSocketTransport final : public MCPTransport {
 public:
  UnixSocketTransport(asio::any_io_executor executor, std::string socketPath);
  ~UnixSocketTransport() override;

  // Not connected: connectionClosed; a write error: writeFailed with the system's text.
  asio::awaitable<void> send(std::string message) override;
  // Connects (connectionFailed: "Failed to create socket: <text>", "Socket path too long",
  // "Failed to connect to <path>: <text>") and starts reading; logs "Connected to <path>".
  asio::awaitable<void> start(MessageHandler onMessage) override;
  // Closes the descriptor once (a blocked read ends with it) and logs "Disconnected from
  // <path>", also when never connected or already closed.
  asio::awaitable<void> close() override;

  bool isConnected() const { return isConnected_; }

 private:
  asio::any_io_executor executor_;
  std::string socketPath_;
  std::shared_ptr<asio::posix::stream_descriptor> socket_;
  std::shared_ptr<LineWriter> writer_;
  bool isConnected_ = false;
};

// Connects a blocking Unix stream socket to `path` (at most 103 bytes); throws
// TransportError::connectionFailed with the texts above. The descriptor is close-on-exec.
int connectUnixSocket(const std::string& path);

}  // namespace qd
