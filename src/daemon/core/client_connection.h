#pragma once

// One accepted client socket of the daemon: reads it line by line and writes reply lines.
// (Its lines count against its process's rate limit, which the server keeps.)

#include <cstddef>
#include <optional>
#include <string>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/local/stream_protocol.hpp>

#include "daemon/runtime/async_mutex.h"
#include "daemon/runtime/unique_fd.h"

namespace qd {

// Lives on the io thread and is owned through a shared_ptr: whoever awaits one of its
// operations holds it meanwhile. One receive() at a time (the server's processing loop);
// sends may come from several tasks and go out whole, one after another.
class ClientConnection {
 public:
  static constexpr std::size_t readSize = 65536;
  // The most bytes that may wait without being handed out as lines, complete lines included.
  static constexpr std::size_t maxPendingBytes = 1048576;

  // Takes over `socket`, an accepted non-blocking Unix stream socket. Logs "Client connected".
  ClientConnection(const asio::any_io_executor& executor, UniqueFd socket, std::string clientId);
  ClientConnection(const ClientConnection&) = delete;
  ClientConnection& operator=(const ClientConnection&) = delete;

  const std::string& clientId() const { return clientId_; }
  bool isClosed() const { return isClosed_; }
  std::size_t pendingBytes() const { return receiveBuffer_.size() - consumed_; }

  // Writes the text and a line feed. ConnectionError: connectionClosed once the connection
  // is closed (nothing is written then, not even to a reused descriptor number), or
  // writeFailed with the system's text.
  asio::awaitable<void> send(std::string text);

  // The next line, without its line feed and otherwise untouched (a carriage return before
  // it stays; an empty line is an empty text). Reads at most readSize bytes at a time.
  // ConnectionError: messageTooLarge when more than maxPendingBytes wait after a read;
  // invalidUTF8 for a line that is not UTF-8 (it is consumed); connectionClosed at the end
  // of the stream or once closed; readFailed with the system's text.
  asio::awaitable<std::string> receive();

  // Closes the socket once, ending a pending read or write, and logs "Client disconnected".
  void close();

 private:
  std::optional<std::string> takeLine();
  asio::awaitable<void> receiveChunk();

  asio::local::stream_protocol::socket socket_;
  std::string clientId_;
  // Bytes before consumed_ were handed out already; no line feed lies before scanned_.
  std::string receiveBuffer_;
  std::size_t consumed_ = 0;
  std::size_t scanned_ = 0;
  bool isClosed_ = false;
  AsyncMutex writeMutex_;
};

}  // namespace qd
