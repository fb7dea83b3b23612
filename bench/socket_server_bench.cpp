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
#include "socket_bench_support.h"

namespace {

using qd::bench::Result;
using qd::bench::stream_protocol;

// About the size of a call_tool request line.
const std::string kLine =
    R"({"method":"call_tool","params":{"name":"time_now","arguments":{"timezone":"UTC"}},"_requestId":12345})"
    "\n";

Result measure(const std::string& path, int clients, int trips) {
  return qd::bench::measure(path, clients, trips, [](int) { return kLine; });
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
  asio::co_spawn(echoIo.executor(), qd::bench::echoAccept(acceptor), asio::detached);

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
