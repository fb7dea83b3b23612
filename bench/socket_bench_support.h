#pragma once

// What the socket benchmarks share: blocking line clients on their own threads, timed per
// round trip, and the floor every socket figure is compared with, a bare Unix-socket echo
// on asio (wait until readable, read up to 64 KiB, write the bytes back).

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/local/stream_protocol.hpp>
#include <asio/redirect_error.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>

#include "daemon/runtime/unique_fd.h"

namespace qd::bench {

using Clock = std::chrono::steady_clock;
using asio::local::stream_protocol;

struct Result {
  double perSecond = 0, p50us = 0, p99us = 0;
};

inline qd::UniqueFd connectTo(const std::string& path) {
  qd::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path.c_str());
  if (!fd || ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    std::perror("connect");
    std::exit(1);
  }
  return fd;
}

// One client: `trips` times the line of `lineFor(i)` out and one answer line back, each
// round trip timed.
inline void runClient(const std::string& path, int trips, const std::function<std::string(int)>& lineFor,
                      std::shared_future<void> go, std::vector<double>* micros) {
  qd::UniqueFd fd = connectTo(path);
  std::array<char, 65536> buffer;
  micros->reserve(trips);
  go.wait();
  for (int i = 0; i < trips; ++i) {
    const std::string line = lineFor(i);
    const auto start = Clock::now();
    if (::write(fd.get(), line.data(), line.size()) != static_cast<ssize_t>(line.size())) std::abort();
    // One reply line: the request's answer ends with the only line feed it holds.
    for (;;) {
      const ssize_t n = ::read(fd.get(), buffer.data(), buffer.size());
      if (n <= 0) {
        std::fprintf(stderr, "server closed the connection after %d round trips\n", i);
        std::exit(1);
      }
      if (std::memchr(buffer.data(), '\n', static_cast<std::size_t>(n))) break;
    }
    micros->push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
}

inline Result measure(const std::string& path, int clients, int trips, const std::function<std::string(int)>& lineFor) {
  std::promise<void> start;
  std::shared_future<void> go = start.get_future().share();
  std::vector<std::vector<double>> micros(clients);
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) threads.emplace_back(runClient, path, trips, lineFor, go, &micros[c]);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // every client connected and accepted
  const auto begin = Clock::now();
  start.set_value();
  for (auto& t : threads) t.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  std::vector<double> all;
  for (auto& m : micros) all.insert(all.end(), m.begin(), m.end());
  std::sort(all.begin(), all.end());
  return {static_cast<double>(all.size()) / seconds, all[all.size() / 2], all[all.size() * 99 / 100]};
}

// The floor: every byte read is written back, one connection per coroutine.
inline asio::awaitable<void> echoConnection(stream_protocol::socket socket) {
  std::vector<char> buffer(65536);
  socket.non_blocking(true);
  for (;;) {
    std::error_code ec;
    const ssize_t n = ::recv(socket.native_handle(), buffer.data(), buffer.size(), 0);
    if (n == 0) co_return;
    if (n < 0) {
      if (errno != EAGAIN) co_return;
      co_await socket.async_wait(stream_protocol::socket::wait_read, asio::redirect_error(asio::use_awaitable, ec));
      if (ec) co_return;
      continue;
    }
    co_await asio::async_write(socket, asio::buffer(buffer.data(), n), asio::redirect_error(asio::use_awaitable, ec));
    if (ec) co_return;
  }
}

inline asio::awaitable<void> echoAccept(std::shared_ptr<stream_protocol::acceptor> acceptor) {
  for (;;) {
    std::error_code ec;
    stream_protocol::socket socket = co_await acceptor->async_accept(asio::redirect_error(asio::use_awaitable, ec));
    if (ec) co_return;
    asio::co_spawn(acceptor->get_executor(), echoConnection(std::move(socket)), asio::detached);
  }
}

}  // namespace qd::bench
