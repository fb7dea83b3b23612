// bench-deps: qd_mcp qd_runtime
// MCP round trips of our MCPClient against our MCPServer over two pipes (server on its own
// io thread, as in a separate process), beside the floor: a bare line echo over the same
// kind of pipes with blocking reads and writes. Prints round trips per second and p50/p99
// latency of each, and the ratios. Usage: mcp_roundtrip_bench [round trips]

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/post.hpp>
#include <asio/io_context.hpp>

#include "daemon/mcp/mcp_client.h"
#include "daemon/mcp/mcp_server.h"
#include "daemon/mcp/stdio_server_transport.h"
#include "daemon/runtime/io_thread.h"
#include "daemon/runtime/unique_fd.h"

namespace {

using Clock = std::chrono::steady_clock;
using qd::Json;

struct Pipe {
  qd::UniqueFd read, write;
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) std::abort();
    read.reset(fds[0]);
    write.reset(fds[1]);
  }
};

struct Summary {
  double perSecond, p50us, p99us;
};

Summary summarize(std::vector<double> micros, double totalSeconds) {
  std::sort(micros.begin(), micros.end());
  const auto at = [&](double q) { return micros[static_cast<std::size_t>(q * static_cast<double>(micros.size() - 1))]; };
  return {static_cast<double>(micros.size()) / totalSeconds, at(0.50), at(0.99)};
}

// The floor: one thread echoes lines back; the caller writes a line and reads the reply.
Summary bareEcho(int count, const std::string& line) {
  Pipe toEcho, fromEcho;
  std::thread echo([&] {
    std::string buffer(65536, '\0');
    for (;;) {
      const ssize_t n = ::read(toEcho.read.get(), buffer.data(), buffer.size());
      if (n <= 0) return;
      if (::write(fromEcho.write.get(), buffer.data(), static_cast<std::size_t>(n)) != n) return;
    }
  });
  std::vector<double> micros;
  micros.reserve(static_cast<std::size_t>(count));
  std::string reply(65536, '\0');
  const std::string framed = line + "\n";
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    const auto t0 = Clock::now();
    if (::write(toEcho.write.get(), framed.data(), framed.size()) != static_cast<ssize_t>(framed.size())) std::abort();
    std::size_t got = 0;
    while (got < framed.size()) {
      const ssize_t n = ::read(fromEcho.read.get(), reply.data() + got, reply.size() - got);
      if (n <= 0) std::abort();
      got += static_cast<std::size_t>(n);
    }
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  const double total = std::chrono::duration<double>(Clock::now() - start).count();
  toEcho.write.reset();
  echo.join();
  return summarize(std::move(micros), total);
}

asio::awaitable<qd::CallToolResult> echoTool(qd::CallToolParams params) {
  co_return qd::CallToolResult::text(params.arguments->at("text").get<std::string>());
}

asio::awaitable<void> serve(std::shared_ptr<qd::MCPServer> server) { co_await server->start(); }

asio::awaitable<void> callLoop(std::shared_ptr<qd::MCPClient> client, int count, std::vector<double>* micros,
                               double* totalSeconds) {
  co_await client->start();
  co_await client->initialize({});
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    const auto t0 = Clock::now();
    Json arguments = {{"text", "x"}};
    qd::CallToolResult result = co_await client->callTool("echo", std::move(arguments));
    if (result.content.empty()) std::abort();
    micros->push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  *totalSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  co_await client->close();
}

Summary mcpRoundTrips(int count) {
  Pipe toServer, toClient;
  qd::IoThread serverThread;
  auto serverTransport =
      std::make_shared<qd::StdioServerTransport>(serverThread.executor(), toServer.read.get(), toClient.write.get());
  qd::ServerCapabilities capabilities;
  capabilities.tools = qd::ToolsCapability{};
  auto server = qd::MCPServer::create(serverThread.executor(), serverTransport, {"bench", "1"}, capabilities);
  qd::MCPTool tool;
  tool.name = "echo";
  tool.inputSchema.type = "object";
  server->registerTool(tool, echoTool);
  asio::co_spawn(serverThread.executor(), serve(server), asio::detached);

  asio::io_context io(1);
  auto clientTransport = std::make_shared<qd::StdioServerTransport>(io.get_executor(), toClient.read.get(), toServer.write.get());
  auto client = qd::MCPClient::create(io.get_executor(), clientTransport, {"bench", "1"}, 60);
  std::vector<double> micros;
  micros.reserve(static_cast<std::size_t>(count));
  double total = 0;
  asio::co_spawn(io, callLoop(client, count, &micros, &total), [](std::exception_ptr e) {
    if (e) std::rethrow_exception(e);
  });
  io.run_for(std::chrono::minutes(5));
  asio::post(serverThread.executor(), [server] { server->removeTool("echo"); });
  serverThread.stop();
  return summarize(std::move(micros), total);
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(100, std::atoi(argv[1])) : 20000;
  // The floor echoes a line of the same size as a tools/call request.
  const std::string request =
      R"({"jsonrpc":"2.0","id":12345,"method":"tools/call","params":{"name":"echo","arguments":{"text":"x"}}})";
  bareEcho(count / 10, request);  // warm-up
  const Summary floor = bareEcho(count, request);
  const Summary mcp = mcpRoundTrips(count);
  std::printf("round trips: %d each\n", count);
  std::printf("%-28s %12s %10s %10s\n", "", "per second", "p50 us", "p99 us");
  std::printf("%-28s %12.0f %10.1f %10.1f\n", "bare line echo (floor)", floor.perSecond, floor.p50us, floor.p99us);
  std::printf("%-28s %12.0f %10.1f %10.1f\n", "MCPClient -> MCPServer", mcp.perSecond, mcp.p50us, mcp.p99us);
  std::printf("ratio MCP / floor: throughput %.2f, p50 latency %.2fx, p99 latency %.2fx\n",
              mcp.perSecond / floor.perSecond, mcp.p50us / floor.p50us, mcp.p99us / floor.p99us);
  return 0;
}
