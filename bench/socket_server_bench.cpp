// bench-deps: qd_core qd_runtime
// Request/reply lines per second through UnixSocketServer with a trivial handler (it
// answers the line itself), with 1 and 8 clients, beside the floor: a bare Unix-socket
// echo server on asio in the same run, with the same clients. Both servers run on one io
// thread, as in the daemon; each client is a thread with a blocking socket that writes a
// line and waits for its answer. Each figure is the best of three alternating runs.
// Usage: socket_server_bench [round trips per client]

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/local/stream_protocol.hpp>
#include <asio/post.hpp>
#include <asio/redirect_error.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>

#include "daemon/core/unix_socket_server.h"
#include "daemon/runtime/io_thread.h"
#include "daemon/runtime/unique_fd.h"

namespace {

using Clock = std::chrono::steady_clock;
using asio::local::stream_protocol;

// About the size of a call_tool request line.
const std::string kLine =
    R"({"method":"call_tool","params":{"name":"time_now","arguments":{"timezone":"UTC"}},"_requestId":12345})"
    "\n";

struct Result {
  double perSecond = 0, p50us = 0, p99us = 0;
};

qd::UniqueFd connectTo(const std::string& path) {
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

// One client: `trips` times a line out and its answer back, each round trip timed.
void runClient(const std::string& path, int trips, std::shared_future<void> go, std::vector<double>* micros) {
  qd::UniqueFd fd = connectTo(path);
  std::array<char, 4096> buffer;
  micros->reserve(trips);
  go.wait();
  for (int i = 0; i < trips; ++i) {
    const auto start = Clock::now();
    if (::write(fd.get(), kLine.data(), kLine.size()) != static_cast<ssize_t>(kLine.size())) std::abort();
    std::size_t received = 0;
    while (received < kLine.size()) {
      const ssize_t n = ::read(fd.get(), buffer.data(), buffer.size());
      if (n <= 0) {
        std::fprintf(stderr, "server closed the connection after %d round trips\n", i);
        std::exit(1);
      }
      received += static_cast<std::size_t>(n);
    }
    micros->push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
}

Result measure(const std::string& path, int clients, int trips) {
  std::promise<void> start;
  std::shared_future<void> go = start.get_future().share();
  std::vector<std::vector<double>> micros(clients);
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) threads.emplace_back(runClient, path, trips, go, &micros[c]);
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
asio::awaitable<void> echoConnection(stream_protocol::socket socket) {
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

asio::awaitable<void> echoAccept(std::shared_ptr<stream_protocol::acceptor> acceptor) {
  for (;;) {
    std::error_code ec;
    stream_protocol::socket socket = co_await acceptor->async_accept(asio::redirect_error(asio::use_awaitable, ec));
    if (ec) co_return;
    asio::co_spawn(acceptor->get_executor(), echoConnection(std::move(socket)), asio::detached);
  }
}

asio::awaitable<std::optional<std::string>> answerWithLine(std::string line) { co_return line; }

template <class F>
void onIoThread(qd::IoThread& io, F f) {
  std::promise<void> done;
  asio::post(io.executor(), [&] {
    f();
    done.set_value();
  });
  done.get_future().wait();
}

}  // namespace

int main(int argc, char** argv) {
  const int trips = argc > 1 ? std::atoi(argv[1]) : 20000;
  char pattern[] = "/tmp/qd-bench-XXXXXX";
  if (!::mkdtemp(pattern)) return 1;
  const std::string dir = pattern;
  const std::string serverPath = dir + "/daemon.sock";
  const std::string echoPath = dir + "/echo.sock";

  qd::IoThread serverIo;
  std::shared_ptr<qd::UnixSocketServer> server;
  onIoThread(serverIo, [&] {
    qd::SocketServerOptions options;
    options.rateLimitRequests = std::numeric_limits<std::int64_t>::max();  // count every line, refuse none
    server = qd::UnixSocketServer::create(serverIo.executor(), serverPath, 100, options);
    server->start();
    server->setMessageHandler([](std::string, std::optional<qd::ClientProcessInfo>, std::string line) {
      return answerWithLine(std::move(line));
    });
  });

  qd::IoThread echoIo;
  auto acceptor = std::make_shared<stream_protocol::acceptor>(echoIo.context(), stream_protocol::endpoint(echoPath));
  asio::co_spawn(echoIo.executor(), echoAccept(acceptor), asio::detached);

  std::printf("%d round trips per client, line of %zu bytes\n\n", trips, kLine.size());
  std::printf("%-8s %-22s %14s %9s %9s\n", "clients", "server", "lines/s", "p50 us", "p99 us");
  for (int clients : {1, 8}) {
    // Alternating runs, the best of three each, so neither side gains from going second.
    Result echo, ours;
    for (int round = 0; round < 3; ++round) {
      const Result e = measure(echoPath, clients, trips);
      const Result o = measure(serverPath, clients, trips);
      if (e.perSecond > echo.perSecond) echo = e;
      if (o.perSecond > ours.perSecond) ours = o;
    }
    std::printf("%-8d %-22s %14.0f %9.1f %9.1f\n", clients, "bare echo (floor)", echo.perSecond, echo.p50us,
                echo.p99us);
    std::printf("%-8d %-22s %14.0f %9.1f %9.1f\n", clients, "UnixSocketServer", ours.perSecond, ours.p50us,
                ours.p99us);
    std::printf("%-8d %-22s %14.2f\n\n", clients, "ratio server / floor", ours.perSecond / echo.perSecond);
  }

  onIoThread(serverIo, [&] { server->shutdown(); });
  onIoThread(echoIo, [&] { acceptor->close(); });
  serverIo.stop();
  echoIo.stop();
  server.reset();
  std::filesystem::remove_all(dir);
  return 0;
}
