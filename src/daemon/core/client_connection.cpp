#include "daemon/core/client_connection.h"

#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <cstring>

#include <asio/redirect_error.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>

#include "daemon/core/server_error.h"
#include "daemon/logging/logger.h"
#include "daemon/utilities/unicode_text.h"

namespace qd {
namespace {

constexpr const char* kComponent = "ClientConnection";
constexpr char kLineFeed = '\n';

// Every read lands here first and is copied out before the next await, so the connections
// of one io thread can share it.
std::array<char, ClientConnection::readSize>& readChunk() {
  static thread_local std::array<char, ClientConnection::readSize> chunk;
  return chunk;
}

}  // namespace

ClientConnection::ClientConnection(const asio::any_io_executor& executor, UniqueFd socket, std::string clientId)
    : socket_(executor), clientId_(std::move(clientId)), writeMutex_(executor) {
  socket_.assign(asio::local::stream_protocol(), socket.get());
  socket.release();
  if (Logger::isEnabled(LogLevel::info)) Logger::info(kComponent, "Client connected", {{"clientId", clientId_}});
}

asio::awaitable<std::string> ClientConnection::receive() {
  for (;;) {
    if (std::optional<std::string> line = takeLine()) co_return std::move(*line);
    co_await receiveChunk();
  }
}

std::optional<std::string> ClientConnection::takeLine() {
  const std::size_t end = receiveBuffer_.find(kLineFeed, scanned_);
  if (end == std::string::npos) {
    scanned_ = receiveBuffer_.size();
    return std::nullopt;
  }
  std::string line = receiveBuffer_.substr(consumed_, end - consumed_);
  consumed_ = scanned_ = end + 1;
  if (consumed_ == receiveBuffer_.size()) {
    receiveBuffer_.clear();
    consumed_ = scanned_ = 0;
  }
  if (!unicode::isValidUtf8(line)) throw ConnectionError::invalidUTF8();
  return line;
}

asio::awaitable<void> ClientConnection::receiveChunk() {
  for (;;) {
    if (isClosed_) throw ConnectionError::connectionClosed();
    auto& chunk = readChunk();
    const ssize_t n = ::recv(socket_.native_handle(), chunk.data(), chunk.size(), 0);
    if (n > 0) {
      if (consumed_ > 0) {
        receiveBuffer_.erase(0, consumed_);
        scanned_ -= consumed_;
        consumed_ = 0;
      }
      receiveBuffer_.append(chunk.data(), static_cast<std::size_t>(n));
      if (pendingBytes() > maxPendingBytes) throw ConnectionError::messageTooLarge(maxPendingBytes);
      co_return;
    }
    if (n == 0) throw ConnectionError::connectionClosed();
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) throw ConnectionError::readFailed(std::strerror(errno));
    std::error_code ec;
    co_await socket_.async_wait(asio::socket_base::wait_read, asio::redirect_error(asio::use_awaitable, ec));
    if (isClosed_) throw ConnectionError::connectionClosed();
    if (ec) throw ConnectionError::readFailed(ec.message());
  }
}

asio::awaitable<void> ClientConnection::send(std::string text) {
  auto turn = co_await writeMutex_.lock();
  if (isClosed_) throw ConnectionError::connectionClosed();
  const std::array<asio::const_buffer, 2> line{asio::buffer(text), asio::buffer(&kLineFeed, 1)};
  std::error_code ec;
  co_await asio::async_write(socket_, line, asio::redirect_error(asio::use_awaitable, ec));
  if (ec) {
    if (isClosed_) throw ConnectionError::connectionClosed();
    throw ConnectionError::writeFailed(ec.message());
  }
}

void ClientConnection::close() {
  if (isClosed_) return;
  isClosed_ = true;
  std::error_code ignored;
  socket_.close(ignored);  // a closed asio socket forgets its number, so nothing reaches a reused one
  std::string().swap(receiveBuffer_);
  consumed_ = scanned_ = 0;
  if (Logger::isEnabled(LogLevel::info)) Logger::info(kComponent, "Client disconnected", {{"clientId", clientId_}});
}

}  // namespace qd
