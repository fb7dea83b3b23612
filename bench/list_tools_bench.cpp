// bench-deps: qd_router qd_config qd_runtime qd_utilities
// list_tools through the daemon's socket with the real helper set and with a catalog of
// 500 tools (a provider registered in a daemon run in-process, started as in daemon mode
// with the rate limit raised), beside the floor: a bare Unix-socket echo on asio of the
// same request line. One client; each figure is the best of three alternating runs.
// Usage: list_tools_bench [lists per run]

#include <cstdio>
#include <future>
#include <string>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/read.hpp>
#include <asio/use_future.hpp>

#include "daemon/config/configuration.h"
#include "daemon/core/tool_provider.h"
#include "daemon/router/router.h"
#include "daemon/runtime/io_thread.h"
#include "socket_bench_support.h"

namespace {

using qd::bench::Result;

// 500 tools shaped like real providers' tools: a few typed properties, one flagged
// required the loose way, a description with a line break, an array without items.
class ManyToolsProvider : public qd::ToolProvider {
 public:
  std::string providerID() const override { return "bench"; }
  std::vector<qd::MCPTool> tools() const override {
    std::vector<qd::MCPTool> tools;
    for (int i = 0; i < 500; ++i) {
      qd::MCPTool tool;
      tool.name = "bench_tool_" + std::to_string(i);
      tool.description = "Benchmark tool number " + std::to_string(i) + ".\nIt does nothing in particular.";
      tool.inputSchema.type = "object";
      tool.inputSchema.properties =
          qd::Json{{"query", {{"type", "string"}, {"description", "What to look for"}, {"required", true}}},
                   {"limit", {{"type", "integer"}, {"description", "At most this many"}}},
                   {"tags", {{"type", "array"}, {"description", "Tags\tto match"}}},
                   {"options", {{"type", "object"}, {"properties", {{"exact", {{"type", "boolean"}}}}}}}};
      tools.push_back(std::move(tool));
    }
    return tools;
  }
  qd::FeatureTier featureTier() const override { return qd::FeatureTier::release; }
  qd::OperationsMap availableOperations() const override { return {}; }
  bool canHandle(std::string_view) const override { return false; }
  asio::awaitable<std::optional<qd::Json>> handle(std::string, std::string, qd::Json) override { co_return std::nullopt; }
};

// A second floor: a server that answers every request line with the same bytes as the
// daemon's list_tools reply of that size, so shipping a large reply is counted too.
asio::awaitable<void> cannedConnection(qd::bench::stream_protocol::socket socket, std::shared_ptr<const std::string> reply) {
  std::vector<char> buffer(65536);
  for (;;) {
    std::error_code ec;
    const std::size_t n = co_await socket.async_read_some(asio::buffer(buffer), asio::redirect_error(asio::use_awaitable, ec));
    if (ec) co_return;
    for (std::size_t i = 0; i < n; ++i) {
      if (buffer[i] != '\n') continue;
      co_await asio::async_write(socket, asio::buffer(*reply), asio::redirect_error(asio::use_awaitable, ec));
      if (ec) co_return;
    }
  }
}

asio::awaitable<void> cannedAccept(std::shared_ptr<qd::bench::stream_protocol::acceptor> acceptor,
                                   std::shared_ptr<const std::string> reply) {
  for (;;) {
    std::error_code ec;
    auto socket = co_await acceptor->async_accept(asio::redirect_error(asio::use_awaitable, ec));
    if (ec) co_return;
    asio::co_spawn(acceptor->get_executor(), cannedConnection(std::move(socket), reply), asio::detached);
  }
}

// The daemon's reply line to one list_tools, with its line feed.
std::string oneReply(const std::string& socketPath) {
  qd::UniqueFd fd = qd::bench::connectTo(socketPath);
  const std::string line = R"({"method":"list_tools","_requestId":0})" "\n";
  if (::write(fd.get(), line.data(), line.size()) != static_cast<ssize_t>(line.size())) std::abort();
  std::string reply;
  std::array<char, 65536> buffer;
  while (reply.empty() || reply.back() != '\n') {
    const ssize_t n = ::read(fd.get(), buffer.data(), buffer.size());
    if (n <= 0) std::abort();
    reply.append(buffer.data(), static_cast<std::size_t>(n));
  }
  return reply;
}

std::string listLine(int id) { return R"({"method":"list_tools","_requestId":)" + std::to_string(id) + "}\n"; }

void report(const char* label, const Result& r) {
  std::printf("%-26s %12.0f %10.1f %10.1f\n", label, r.perSecond, r.p50us, r.p99us);
}

}  // namespace

int main(int argc, char** argv) {
  const int trips = std::min(argc > 1 ? std::atoi(argv[1]) : 2000, 9000);
  char pattern[] = "/tmp/qd-bench-XXXXXX";
  if (!::mkdtemp(pattern)) return 1;
  const std::string dir = pattern;
  const qd::platform::Environment environment{{"HOME", dir},
                                              {"XDG_DATA_HOME", dir + "/data"},
                                              {"XDG_STATE_HOME", dir + "/state"},
                                              {"XDG_CONFIG_HOME", dir + "/config"},
                                              {"TINDERBOX_FEATURE_TIER", "dev"},
                                              {"TINDERBOX_RATE_LIMIT_REQUESTS", "10000"}};
  qd::Configuration configuration(environment);
  qd::IoThread io;
  std::shared_ptr<qd::TinderboxDaemon> daemon = qd::TinderboxDaemon::create(io.executor(), configuration);
  asio::co_spawn(io.executor(), daemon->start(), asio::use_future).get();

  const std::string echoPath = dir + "/echo.sock";
  qd::IoThread echoIo;
  auto acceptor = std::make_shared<qd::bench::stream_protocol::acceptor>(
      echoIo.context(), qd::bench::stream_protocol::endpoint(echoPath));
  asio::co_spawn(echoIo.executor(), qd::bench::echoAccept(acceptor), asio::detached);

  auto best = [&](const std::string& path) {
    Result best;
    for (int round = 0; round < 3; ++round) {
      const Result r = qd::bench::measure(path, 1, trips, listLine);
      if (r.perSecond > best.perSecond) best = r;
    }
    return best;
  };

  std::printf("%d lists per run, one client\n\n%-26s %12s %10s %10s\n", trips, "", "lists/s", "p50 us", "p99 us");
  report("bare echo (floor)", best(echoPath));
  report("helper set (11 tools)", best(configuration.socketPath()));

  std::promise<void> added;
  asio::post(io.executor(), [&] {
    daemon->providerRegistry().providers.push_back(std::make_shared<ManyToolsProvider>());
    added.set_value();
  });
  added.get_future().get();
  asio::co_spawn(io.executor(), daemon->refreshToolCatalog(), asio::use_future).get();
  const std::string reply = oneReply(configuration.socketPath());
  const std::string cannedPath = dir + "/canned.sock";
  auto cannedAcceptor = std::make_shared<qd::bench::stream_protocol::acceptor>(
      echoIo.context(), qd::bench::stream_protocol::endpoint(cannedPath));
  asio::co_spawn(echoIo.executor(), cannedAccept(cannedAcceptor, std::make_shared<const std::string>(reply)),
                 asio::detached);
  std::printf("\nlist_tools reply of the large catalog: %zu bytes\n", reply.size());
  report("canned reply (floor)", best(cannedPath));
  report("catalog of 511 tools", best(configuration.socketPath()));

  asio::co_spawn(io.executor(), daemon->shutdown(), asio::use_future).get();
  io.stop();
  daemon.reset();
  echoIo.stop();
  std::filesystem::remove_all(dir);
  return 0;
}
