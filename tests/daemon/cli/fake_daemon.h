#pragma once

// The daemon's end of its socket, played by the test on the same io_context as the client
// under test: it listens at a path, accepts one connection, reads request lines and writes
// whatever reply lines the test scripts (matched, out of order, malformed or none).

#include <optional>
#include <stdexcept>
#include <string>

#include <asio/io_context.hpp>
#include <asio/local/stream_protocol.hpp>
#include <asio/use_awaitable.hpp>

#include "daemon/core/socket_peer.h"
#include "daemon/utilities/json.h"
#include "support/test_io.h"

namespace qd::test {

class FakeDaemon {
 public:
  FakeDaemon(asio::io_context& io, const std::string& path)
      : io_(io), acceptor_(io, asio::local::stream_protocol::endpoint(path)) {}

  // Runs the context until a client has connected.
  void accept() {
    std::optional<asio::local::stream_protocol::socket> accepted;
    runAwaitable(io_, acceptInto(&acceptor_, &accepted));
    peer_.emplace(io_, std::move(*accepted));
  }

  // The next request line, parsed; fails the test when the client closed instead.
  Json readRequest() {
    auto line = peer().readLine();
    if (!line) throw std::runtime_error("the client closed the connection");
    return parseJson(*line);
  }

  // Writes `result` as the reply to `request` (its "_requestId" added).
  void reply(const Json& request, Json result) {
    result["_requestId"] = request.at("_requestId");
    peer().write(dumpJson(result) + "\n");
  }

  void write(const std::string& bytes) { peer().write(bytes); }
  void closeConnection() { peer().close(); }
  SocketPeer& peer() {
    if (!peer_) throw std::runtime_error("no client has connected");
    return *peer_;
  }

 private:
  static asio::awaitable<void> acceptInto(asio::local::stream_protocol::acceptor* acceptor,
                                          std::optional<asio::local::stream_protocol::socket>* out) {
    out->emplace(co_await acceptor->async_accept(asio::use_awaitable));
  }

  asio::io_context& io_;
  asio::local::stream_protocol::acceptor acceptor_;
  std::optional<SocketPeer> peer_;
};

}  // namespace qd::test
