#include <csignal>
#include <exception>

#include <asio/redirect_error.hpp>
#include <asio/signal_set.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "daemon/cli/client_bridge.h"
#include "daemon/cli/client_modes.h"
#include "daemon/cli/companion_app.h"
#include "daemon/cli/run_to_end.h"
#include "daemon/config/configuration.h"
#include "daemon/logging/logger.h"
#include "daemon/mcp/stdio_server_transport.h"
#include "daemon/runtime/coroutine_helpers.h"
#include "daemon/utilities/descriptor_io.h"

namespace qd {
namespace {

constexpr const char* kComponent = "App";

asio::awaitable<CallToolResult> forwardCall(std::shared_ptr<TinderboxClient> client, std::string daemonName,
                                            CallToolParams params) {
  // Moved, not copied: a call that waits for the daemon holds only the line it sends.
  Json arguments = params.arguments && params.arguments->is_object() ? std::move(*params.arguments) : Json::object();
  params.arguments.reset();
  co_return co_await client->callToolTyped(std::move(daemonName), std::move(arguments));
}

// What ends the bridge: a termination signal, the end of standard input, and, after the
// end of input, the last received call answered. Lives on the io thread.
class BridgeEnd {
 public:
  explicit BridgeEnd(const asio::any_io_executor& executor)
      : changed_(executor, asio::steady_timer::time_point::max()) {}

  void signal() { set(signalled_); }
  void inputEnded() { set(inputEnded_); }
  void drained() { set(drained_); }

  bool signalled() const { return signalled_; }

  asio::awaitable<void> untilSignalOrInputEnd() {
    while (!signalled_ && !inputEnded_) co_await waitForChange();
  }
  asio::awaitable<void> untilSignalOrDrained() {
    while (!signalled_ && !drained_) co_await waitForChange();
  }

 private:
  void set(bool& flag) {
    flag = true;
    changed_.cancel();
  }
  asio::awaitable<void> waitForChange() {
    std::error_code ignored;  // never expires: set() cancels it
    co_await changed_.async_wait(asio::redirect_error(asio::use_awaitable, ignored));
  }

  asio::steady_timer changed_;
  bool signalled_ = false;
  bool inputEnded_ = false;
  bool drained_ = false;
};

asio::awaitable<void> drainThenReport(std::shared_ptr<MCPServer> server, std::shared_ptr<BridgeEnd> end) {
  co_await server->drain();
  end->drained();
}

}  // namespace

Implementation clientServerInfo() { return {"quarvel-toolbox", Configuration::routerVersion}; }

ServerCapabilities clientServerCapabilities() {
  ServerCapabilities capabilities;
  capabilities.tools = ToolsCapability{};
  return capabilities;
}

asio::awaitable<void> registerClientTools(std::shared_ptr<TinderboxClient> client, std::shared_ptr<MCPServer> server,
                                          ClientProfile profile) {
  const std::vector<MCPTool> tools = co_await client->listToolsTyped();
  for (OfferedTool& offered : offeredTools(tools, profile)) {
    // Registering in the daemon's order: of two tools offered under one name the later wins.
    server->registerTool(std::move(offered.definition),
                         [client, name = std::move(offered.daemonName)](CallToolParams params) {
                           return forwardCall(client, name, std::move(params));
                         });
  }
}

asio::awaitable<int> runClientBridge(ClientBridgeOptions options) {
  const auto executor = co_await asio::this_coro::executor;
  auto client = TinderboxClient::create(executor, options.daemon);
  auto end = std::make_shared<BridgeEnd>(executor);
  std::shared_ptr<MCPServer> server;
  std::exception_ptr startFailure;
  try {
    co_await client->start();
    auto transport = std::make_shared<StdioServerTransport>(executor, options.inputFd, options.outputFd);
    transport->setInputEndedHandler([end] { end->inputEnded(); });
    server = MCPServer::create(executor, transport, clientServerInfo(), clientServerCapabilities());
    co_await registerClientTools(client, server, options.profile);
    co_await server->start();
  } catch (...) {
    startFailure = std::current_exception();
  }
  if (startFailure) {
    // Standard output belongs to the AI client's MCP channel: nothing but MCP goes there.
    const std::string description = describeException(startFailure);
    Logger::error(kComponent, "Fatal error", {{"error", description}});
    writeAllToDescriptor(options.errorFd, "Error: " + description + "\n");
    if (server) co_await server->stop();
    client->shutdown();
    co_return 1;
  }

  Logger::info(kComponent, "Client MCP bridge running, waiting for termination signal");
  // Held until the end: once the first signal has come, a second one changes nothing.
  asio::signal_set signals(executor, SIGTERM, SIGINT);
  signals.async_wait([end](std::error_code ec, int) {
    if (!ec) end->signal();
  });

  co_await end->untilSignalOrInputEnd();
  if (!end->signalled()) {
    // The AI client closed our input: answer what it has sent, then end, so a bridge whose
    // client is gone does not hold a daemon connection for good.
    Logger::info(kComponent, "Standard input closed, shutting down client");
    startTask(executor, drainThenReport(server, end), kComponent, "drain");
    co_await end->untilSignalOrDrained();
  } else {
    Logger::info(kComponent, "Signal received, shutting down client");
  }
  co_await server->stop();
  client->shutdown();
  Logger::info(kComponent, "Client shutdown complete");
  co_return 0;
}

int runClientMode(const std::vector<std::string>& args) {
  // A client also opens the tray application, which starts the daemon's service.
  ensureCompanionAppRunning();
  Logger::info(kComponent, "Starting in client mode");
  ClientBridgeOptions options;
  options.daemon = TinderboxClientOptions::fromConfiguration(Configuration::shared());
  options.profile = clientProfile(args);

  return runToEnd(runClientBridge(std::move(options)));
}

}  // namespace qd
