// Construction, start and shutdown of the daemon, in their fixed orders.

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>

#include "daemon/admin/daemon_admin_xpc_server.h"
#include "daemon/core/unix_socket_server.h"
#include "daemon/health/daemon_health.h"
#include "daemon/logging/logger.h"
#include "daemon/mcp/mcp_client.h"
#include "daemon/queue/request_queue.h"
#include "daemon/router/provider_list.h"
#include "daemon/router/router.h"
#include "daemon/router/router_internal.h"
#include "daemon/runtime/coroutine_helpers.h"
#include "daemon/tinderbox/tinderbox_supervisor.h"
#include "daemon/tinderbox/tinderbox_tool_provider.h"
#include "daemon/work/job_runtime.h"

namespace qd {
namespace {

using router::kComponent;

// The socket server's handlers hold the daemon weakly: once it is gone a line gets no
// reply and a departing client changes nothing.
asio::awaitable<std::optional<std::string>> relayMessage(std::weak_ptr<TinderboxDaemon> weak, std::string clientId,
                                                         std::optional<ClientProcessInfo> info, std::string line) {
  std::shared_ptr<TinderboxDaemon> daemon = weak.lock();
  if (!daemon) co_return std::nullopt;
  co_return co_await daemon->handleClientMessage(std::move(clientId), std::move(info), std::move(line));
}

asio::awaitable<void> relayDisconnect(std::weak_ptr<TinderboxDaemon> weak, std::string clientId) {
  if (std::shared_ptr<TinderboxDaemon> daemon = weak.lock()) daemon->notificationQueue().unregisterAgent(clientId);
  co_return;
}

asio::awaitable<std::int64_t> connectedClients(std::weak_ptr<TinderboxDaemon> weak,
                                               std::weak_ptr<UnixSocketServer> server) {
  std::shared_ptr<UnixSocketServer> live = server.lock();
  co_return weak.expired() || !live ? 0 : live->getClientCount();
}

asio::awaitable<HealthStatus> healthStatus(std::weak_ptr<TinderboxDaemon> weak) {
  std::shared_ptr<TinderboxDaemon> daemon = weak.lock();
  if (!daemon) co_return HealthStatus::unhealthy;
  co_return co_await daemon->determineHealthStatus();
}

asio::awaitable<bool> tinderboxConnected(std::weak_ptr<TinderboxDaemon> weak) {
  std::shared_ptr<TinderboxDaemon> daemon = weak.lock();
  co_return daemon && daemon->hasTinderboxProcess();
}

asio::awaitable<void> relayTinderboxClient(std::weak_ptr<TinderboxDaemon> weak, std::shared_ptr<MCPClient> client) {
  if (std::shared_ptr<TinderboxDaemon> daemon = weak.lock()) co_await daemon->setTinderboxProviderClient(std::move(client));
}

}  // namespace

std::shared_ptr<TinderboxDaemon> TinderboxDaemon::create(asio::any_io_executor executor,
                                                         const Configuration& configuration) {
  return std::shared_ptr<TinderboxDaemon>(new TinderboxDaemon(std::move(executor), configuration));
}

// The services are built in their fixed order (the members' declaration order): request
// queue, notification queue, settings store, preferences store, tool-call logger, the work
// tracker, the authentication limiter, then the secrets store (which reads its file), last
// the providers (with the blocking pool they run on).
TinderboxDaemon::TinderboxDaemon(asio::any_io_executor executor, const Configuration& configuration)
    : executor_(std::move(executor)),
      configuration_(configuration),
      queue_(RequestQueue::create(executor_, configuration.maxQueueLength(), configuration.requestTimeout())),
      toolSettingsStore_(configuration.appSupportDir() / "tool-settings.json"),
      appPreferencesStore_(AppPreferencesStore::defaultSuiteName),
      toolCallLogger_(configuration.appSupportDir() / "tool-calls.log"),
      authRateLimiter_(AuthRateLimiter::daemonMaxAttempts, AuthRateLimiter::daemonWindowSeconds,
                       AuthRateLimiter::daemonLockoutSeconds),
      agentSecretsStore_(configuration.appSupportDir() / "agent-secrets.json"),
      providerRegistry_{inProcessProviders(executor_, configuration, blockingPool_), configuration.featureTier()},
      startTime_(std::chrono::system_clock::now()),
      startInstant_(std::chrono::steady_clock::now()) {}

TinderboxDaemon::~TinderboxDaemon() = default;

void TinderboxDaemon::setupHealthMonitor() {
  std::weak_ptr<TinderboxDaemon> weak = weak_from_this();
  DaemonHealth::Callbacks callbacks;
  callbacks.getConnectedClientsCount = [this, weak]() {
    // socketServer_ is read only while the daemon is alive; the weak copy keeps the
    // callback from holding the server.
    std::weak_ptr<UnixSocketServer> server;
    if (!weak.expired()) server = socketServer_;
    return connectedClients(weak, server);
  };
  callbacks.getHealthStatus = [weak]() { return healthStatus(weak); };
  callbacks.isTinderboxConnected = [weak]() { return tinderboxConnected(weak); };
  healthMonitor_ = DaemonHealth::create(executor_, DaemonHealth::Files::from(configuration_), std::move(callbacks));
}

void TinderboxDaemon::loadToolSettingsAndConfigureQueue() {
  // A settings file that is there but cannot be read fails the start: the defaults in its
  // place would switch on every tool the user had switched off. A missing file is the
  // defaults.
  toolSettingsStore_.load();
  notificationQueue_.configure(toolSettingsStore_.current().maxNotificationItems);
}

void TinderboxDaemon::configureTinderboxConnection() {
  tinderboxClient_.reset();
  if (configuration_.disableTinderbox()) {
    Logger::info(kComponent, "Tinderbox connection disabled (TINDERBOX_DISABLE=1)");
    supervisor_.reset();
    hasSupervisor_ = false;
    return;
  }
  Logger::info(kComponent, "Initializing Tinderbox supervisor (lazy connect mode)");
  supervisor_ = TinderboxSupervisor::create(executor_, SupervisorSettings::from(configuration_));
  hasSupervisor_ = true;
  // A restart of the health loop hands its new client (or none) over like the runtime tool.
  std::weak_ptr<TinderboxDaemon> weak = weak_from_this();
  supervisor_->setClientChangedHandler(
      [weak](std::shared_ptr<MCPClient> client) { return relayTinderboxClient(weak, std::move(client)); });
  // The health record names the child and counts its restarts.
  std::weak_ptr<DaemonHealth> health = healthMonitor_;
  TinderboxSupervisor::ProcessObserver observer;
  observer.pidChanged = [health](std::optional<pid_t> pid) {
    if (std::shared_ptr<DaemonHealth> monitor = health.lock()) monitor->setTinderboxPid(pid);
  };
  observer.restarted = [health]() {
    if (std::shared_ptr<DaemonHealth> monitor = health.lock()) monitor->incrementRestarts();
  };
  supervisor_->setProcessObserver(std::move(observer));
  providerRegistry_.providers.push_back(std::make_shared<TinderboxToolProvider>());
  Logger::info(kComponent, "Added Tinderbox provider (disconnected; will connect on demand)");
}

// The background connect, once the socket is up: the orphan clean-up, the lazy start, the
// health loop; a failure leaves the note app disconnected until a restart or health check.
asio::awaitable<void> TinderboxDaemon::connectTinderbox(std::weak_ptr<TinderboxDaemon> weak) {
  std::shared_ptr<TinderboxDaemon> daemon = weak.lock();
  if (!daemon || !daemon->supervisor_) co_return;
  std::shared_ptr<TinderboxSupervisor> supervisor = daemon->supervisor_;
  daemon.reset();
  std::shared_ptr<MCPClient> client = co_await supervisor->startAndMonitor();
  daemon = weak.lock();
  if (!daemon || !client || !daemon->isRunning_) co_return;
  co_await daemon->setTinderboxProviderClient(std::move(client));
  co_await daemon->syncTinderboxOperationsIntoCatalog();
}

asio::awaitable<void> TinderboxDaemon::setTinderboxProviderClient(std::shared_ptr<MCPClient> client) {
  tinderboxClient_ = std::move(client);
  for (const std::shared_ptr<ToolProvider>& provider : providerRegistry_.providers) {
    if (auto* tinderbox = dynamic_cast<TinderboxToolProvider*>(provider.get())) tinderbox->setClient(tinderboxClient_);
  }
  co_await syncTinderboxOperationsIntoCatalog();
}

asio::awaitable<void> TinderboxDaemon::syncTinderboxOperationsIntoCatalog() {
  Logger::info(router::kComponent, "syncTinderboxOperationsIntoCatalog called");
  // A copy: a fetch suspends, and the registry may change meanwhile.
  const std::vector<std::shared_ptr<ToolProvider>> providers = providerRegistry_.providers;
  for (const std::shared_ptr<ToolProvider>& provider : providers) {
    auto tinderbox = std::dynamic_pointer_cast<TinderboxToolProvider>(provider);
    if (!tinderbox) continue;
    Logger::info(router::kComponent, "Calling fetchTinderboxOperations on TinderboxToolProvider");
    co_await tinderbox->fetchTinderboxOperations();
  }
  Logger::info(router::kComponent, "Calling refreshToolCatalog");
  co_await refreshToolCatalog();
  Logger::info(router::kComponent, "syncTinderboxOperationsIntoCatalog complete");
}

void TinderboxDaemon::startAdminServer() {
  DaemonAdminXPCServerOptions options;
  options.socket = SocketServerOptions::from(configuration_);
  adminServer_ = DaemonAdminXPCServer::create(executor_, adminSocketPath(),
                                              std::weak_ptr<AdminDaemon>(shared_from_this()), std::move(options));
  adminServer_->resume();
  Logger::info(kComponent, "Admin XPC listener resumed", Json{{"socketPath", adminSocketPath()}});
}

void TinderboxDaemon::installSocketHandlers() {
  std::weak_ptr<TinderboxDaemon> weak = weak_from_this();
  socketServer_->setDisconnectHandler([weak](std::string clientId) { return relayDisconnect(weak, std::move(clientId)); });
  socketServer_->setMessageHandler(
      [weak](std::string clientId, std::optional<ClientProcessInfo> info, std::string line) {
        return relayMessage(weak, std::move(clientId), std::move(info), std::move(line));
      });
}

void TinderboxDaemon::closeSockets() {
  // The tray application's channel closes before the clients' socket.
  if (adminServer_) adminServer_->invalidate();
  // Ends every connection's processing loop: a handler still running is cancelled and
  // nothing is written to a client afterwards. Removes the socket file.
  if (socketServer_) socketServer_->shutdown();
}

asio::awaitable<void> TinderboxDaemon::start() {
  Logger::info(kComponent, "Starting Tinderbox daemon");
  setupHealthMonitor();

  // Before anything looks at what an earlier daemon left: a second daemon stops here and
  // touches no socket, lock or health file.
  instanceLock_.acquire(configuration_.appSupportDir(), configuration_.healthFilePath());

  Logger::info(kComponent, "Checking for stale daemon processes");
  if (healthMonitor_->checkStaleAndCleanup()) Logger::info(kComponent, "Cleaned up stale daemon files");

  loadToolSettingsAndConfigureQueue();
  configureTinderboxConnection();
  co_await buildToolCatalog();
  Logger::info(kComponent, "Total tools available", Json{{"count", discoveredTools_.size()}});

  Logger::info(kComponent, "Starting Unix socket server");
  socketServer_ = UnixSocketServer::create(executor_, configuration_.socketPath(), configuration_.maxClients(),
                                           SocketServerOptions::from(configuration_));
  try {
    socketServer_->start();
    installSocketHandlers();
    startAdminServer();
  } catch (...) {
    // A failed start takes its sockets down again: nothing is left for the next start or
    // for a client to find.
    closeSockets();
    throw;
  }

  Logger::info(kComponent, "Starting health monitoring");
  healthMonitor_->startMonitoring();

  // Jobs start only once they can hold the daemon for their run.
  jobRuntime_.owner = std::shared_ptr<CoordinationContext>(shared_from_this(), &coordination_);

  // Spawned from the io thread: the child's parent-death signal is tied to this thread.
  if (supervisor_) startTask(executor_, connectTinderbox(weak_from_this()), std::string(kComponent), "connect Tinderbox");
  isRunning_ = true;
  Logger::info(kComponent, "Daemon started successfully");
  co_return;
}

asio::awaitable<void> TinderboxDaemon::shutdown() {
  if (!isRunning_) co_return;
  isRunning_ = false;
  Logger::info(kComponent, "Shutting down daemon");
  // The final "unhealthy" record is written first, so nothing reads a healthy daemon
  // whose socket is already gone.
  if (healthMonitor_) healthMonitor_->stopMonitoring();
  closeSockets();
  Logger::info(kComponent, "Draining request queue");
  co_await queue_->drain(Configuration::queueDrainTimeout);
  // No job's process outlives the daemon: every running job's group is stopped and reaped.
  co_await stopRunningJobs(coordination_);
  if (supervisor_) co_await supervisor_->shutdown();
  Logger::info(kComponent, "Daemon shutdown complete");
}

}  // namespace qd
