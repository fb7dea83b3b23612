#pragma once

// A client of the server under test, on the same io_context as the server. Each call runs
// the context until its operation has finished, so the server works meanwhile and a test
// reads top to bottom.

#include <optional>
#include <string>
#include <system_error>

#include <asio/connect.hpp>
#include <asio/io_context.hpp>
#include <asio/local/stream_protocol.hpp>
#include <asio/read.hpp>
#include <asio/read_until.hpp>
#include <asio/redirect_error.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>

#include "support/test_io.h"

namespace qd::test {

class SocketPeer {
 public:
  SocketPeer(asio::io_context& io, const std::string& path) : io_(io), socket_(io) {
    socket_.connect(asio::local::stream_protocol::endpoint(path));
  }
  // The far end of a connection the test accepted (a fake server's side).
  SocketPeer(asio::io_context& io, asio::local::stream_protocol::socket accepted)
      : io_(io), socket_(std::move(accepted)) {}

  // Writes all bytes with one call of the caller's (the kernel may still split them).
  void write(const std::string& bytes) { runAwaitable(io_, writeAll(&socket_, bytes)); }

  // The next line without its line feed; none once the server closed the connection.
  std::optional<std::string> readLine() { return runAwaitable(io_, nextLine(&socket_, &buffer_)); }

  // Everything until the server closes the connection.
  std::string readToEnd() {
    std::string rest = std::exchange(buffer_, {});
    return rest + runAwaitable(io_, untilEnd(&socket_));
  }

  void close() { socket_.close(); }
  void shutdownWrite() { socket_.shutdown(asio::socket_base::shutdown_send); }
  asio::local::stream_protocol::socket& socket() { return socket_; }

 private:
  static asio::awaitable<void> writeAll(asio::local::stream_protocol::socket* socket, std::string bytes) {
    std::error_code ignored;  // the server may close first; the test checks what it sees
    co_await asio::async_write(*socket, asio::buffer(bytes), asio::redirect_error(asio::use_awaitable, ignored));
  }

  static asio::awaitable<std::optional<std::string>> nextLine(asio::local::stream_protocol::socket* socket,
                                                              std::string* buffer) {
    std::error_code ec;
    const std::size_t n = co_await asio::async_read_until(*socket, asio::dynamic_buffer(*buffer), '\n',
                                                          asio::redirect_error(asio::use_awaitable, ec));
    if (ec) co_return std::nullopt;
    std::string line = buffer->substr(0, n - 1);
    buffer->erase(0, n);
    co_return line;
  }

  static asio::awaitable<std::string> untilEnd(asio::local::stream_protocol::socket* socket) {
    std::string all;
    std::error_code ec;
    co_await asio::async_read(*socket, asio::dynamic_buffer(all), asio::redirect_error(asio::use_awaitable, ec));
    co_return all;  // ends with eof, or a reset when the server closed with input unread
  }

  asio::io_context& io_;
  asio::local::stream_protocol::socket socket_;
  std::string buffer_;
};

}  // namespace qd::test
