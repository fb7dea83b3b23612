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

asio::awaitable<bool> notConnected() { co_return false; }

}  // namespace

std::shared_ptr<TinderboxDaemon> TinderboxDaemon::create(asio::any_io_executor executor,
                                                         const Configuration& configuration) {
  return std::shared_ptr<TinderboxDaemon>(new TinderboxDaemon(std::move(executor), configuration));
}

// The services are built in their fixed order (the members' declaration order): request
// queue, notification queue, settings store, preferences store, tool-call logger, the
// authentication limiter, then the secrets store (which reads its file), last the providers.
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
      providerRegistry_{inProcessProviders(executor_, configuration), configuration.featureTier()},
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
  // The note-app supervisor attaches with its own issue; until then nothing is connected.
  callbacks.isTinderboxConnected = []() { return notConnected(); };
  healthMonitor_ = DaemonHealth::create(executor_, DaemonHealth::Files::from(configuration_), std::move(callbacks));
}

void TinderboxDaemon::loadToolSettingsAndConfigureQueue() {
  try {
    toolSettingsStore_.load();
  } catch (const std::exception& error) {
    Logger::warn(kComponent, "Failed to load tool settings; using defaults", Json{{"error", error.what()}});
  }
  notificationQueue_.configure(toolSettingsStore_.current().maxNotificationItems);
}

void TinderboxDaemon::configureTinderboxConnection() {
  // The note-app supervision is not part of this daemon yet: it behaves as with
  // TINDERBOX_DISABLE=1 whatever the environment says.
  Logger::info(kComponent, "Tinderbox connection disabled (TINDERBOX_DISABLE=1)");
  tinderboxClient_.reset();
  hasSupervisor_ = false;
}

asio::awaitable<void> TinderboxDaemon::setTinderboxProviderClient(std::shared_ptr<MCPClient> client) {
  tinderboxClient_ = std::move(client);
  co_await syncTinderboxOperationsIntoCatalog();
}

asio::awaitable<void> TinderboxDaemon::syncTinderboxOperationsIntoCatalog() {
  Logger::info(kComponent, "syncTinderboxOperationsIntoCatalog called");
  Logger::info(kComponent, "Calling refreshToolCatalog");
  co_await refreshToolCatalog();
  Logger::info(kComponent, "syncTinderboxOperationsIntoCatalog complete");
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
  socketServer_->start();
  installSocketHandlers();
  startAdminServer();

  Logger::info(kComponent, "Starting health monitoring");
  healthMonitor_->startMonitoring();

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
  // The tray application's channel closes before the clients' socket.
  if (adminServer_) adminServer_->invalidate();
  // Ends every connection's processing loop: a handler still running is cancelled and
  // nothing is written to a client afterwards.
  if (socketServer_) socketServer_->shutdown();
  Logger::info(kComponent, "Draining request queue");
  co_await queue_->drain(Configuration::queueDrainTimeout);
  Logger::info(kComponent, "Daemon shutdown complete");
}

}  // namespace qd
