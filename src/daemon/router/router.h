#pragma once

// The daemon actor: owns every long-lived service of the router, starts and stops them in
// a fixed order, answers every line of the socket protocol and routes each tool call to
// the router's own helper tools or to the in-process providers.
//
// One object, several files, one job each:
//   lifecycle.cpp          construction, start and shutdown order, the health callbacks
//   instance_lock.cpp      one daemon per user (the flock on the application folder)
//   dispatch.cpp           the socket methods, the road of a call, the error table
//   json_normalizing.cpp   making a tool result JSON-safe
//   exposure.cpp           which tools a client sees, under which names, and may call
//   tool_catalog_state.cpp the catalog's build and refresh, its payload, the admin seams
//   helper_tools.cpp       the eleven helper tool definitions and what is offered
//   tool_dispatch.cpp      helper then provider dispatch, the grouped note-app tools
//   operation_routing.cpp  which handler answers a helper tool or an operation
//   health_tools.cpp       health_check, daemon_self_check, the overall status
//   identify.cpp           identify and auth.log
//   tool_call_logging.cpp  the tool-call log line
//   provider_list.cpp      the in-process providers, in their fixed order
//
// Lives on the daemon's io thread and is owned by a shared_ptr; the socket server's, the
// health monitor's and background tasks' callbacks hold it weakly and give neutral answers
// once it is gone.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>

#include "daemon/admin/admin_daemon.h"
#include "daemon/config/app_preferences_store.h"
#include "daemon/config/configuration.h"
#include "daemon/config/tool_settings_store.h"
#include "daemon/core/client_process_info.h"
#include "daemon/core/coordination_context.h"
#include "daemon/core/daemon_records.h"
#include "daemon/core/tool_provider_registry.h"
#include "daemon/health/health_data.h"
#include "daemon/logging/tool_call_logger.h"
#include "daemon/mcp/mcp_types.h"
#include "daemon/messaging/notification_queue.h"
#include "daemon/queue/queue_status.h"
#include "daemon/router/daemon_note_app_client.h"
#include "daemon/router/instance_lock.h"
#include "daemon/runtime/blocking_pool.h"
#include "daemon/security/agent_secrets_store.h"
#include "daemon/security/auth_rate_limiter.h"
#include "daemon/tinderbox/note_app_operations.h"
#include "daemon/utilities/clock.h"
#include "daemon/tinderbox/tool_call_note.h"
#include "daemon/utilities/json.h"
#include "daemon/work/work_tracker.h"

namespace qd {

class DaemonAdminXPCServer;
class DaemonHealth;
class MCPClient;
class TinderboxSupervisor;
class RequestQueue;
class UnixSocketServer;

// The request envelope of one socket line.
struct RequestEnvelope {
  std::optional<std::int64_t> requestId;
  std::string method;
  std::optional<Json> params;  // an object
};

// Decodes one request line. The JSON parser's own error passes through (text that is not
// JSON, or nested deeper than the parser allows); a value that is not an object fails with
// DaemonError invalidParameter "Invalid JSON", one without a string "method" with
// missingParameter "method". "_requestId" counts only as an integer, "params" only as an
// object.
RequestEnvelope parseRequestEnvelope(std::string_view line);

// The overall status from the queue's figures and the note-app supervisor: unhealthy
// without a supervisor; degraded without a note-app process, with more than 50 waiting
// calls, an average latency above 5000 ms or an error rate above 0.1; healthy otherwise.
HealthStatus statusFrom(const QueueStatus& queue, bool hasSupervisor, bool hasTinderboxPid);

// The fixed answer of "initialize".
Json initializeResult();

class TinderboxDaemon : public std::enable_shared_from_this<TinderboxDaemon>, public AdminDaemon {
 public:
  // The helper tools hidden in the release tier.
  static const std::set<std::string, std::less<>>& releaseHiddenHelperTools();
  // The eleven helper tool definitions, in their fixed order.
  static std::vector<MCPTool> allHelperTools();
  // "0h 0m 5s": whole seconds, hours not folded into days.
  static std::string formatUptime(double seconds);

  // Builds every service and reads the agent secrets file; starts nothing. `configuration`
  // must outlive the daemon.
  static std::shared_ptr<TinderboxDaemon> create(asio::any_io_executor executor, const Configuration& configuration);
  ~TinderboxDaemon() override;
  TinderboxDaemon(const TinderboxDaemon&) = delete;
  TinderboxDaemon& operator=(const TinderboxDaemon&) = delete;

  // The start sequence. Fails with the error of the step that failed: another daemon
  // (HealthError), a tool settings file that cannot be read (ToolSettingsFileError), a
  // socket that cannot be bound. A failed start removes the socket files it created.
  asio::awaitable<void> start();
  // The shutdown sequence; does nothing unless running. Never fails.
  asio::awaitable<void> shutdown();
  bool isRunning() const { return isRunning_; }

  // One socket line in, exactly one reply line out.
  asio::awaitable<std::optional<std::string>> handleClientMessage(std::string clientId,
                                                                  std::optional<ClientProcessInfo> clientProcessInfo,
                                                                  std::string message);

  // The overall status used by health_check and the health file.
  asio::awaitable<HealthStatus> determineHealthStatus();

  // Dispatch of one accepted call: the router's helper tools, then the providers. None
  // means the name is not theirs.
  asio::awaitable<std::optional<Json>> handleHelperTool(std::string clientId, std::string toolName, Json arguments);
  asio::awaitable<std::optional<Json>> handleProviderTool(std::string clientId, std::string toolName, Json arguments);

  // The helper and provider tools offered now (settings, tier, application availability).
  std::vector<MCPTool> createHelperTools() const;
  std::vector<MCPTool> createProviderTools() const;

  // The note-app connection attaches here once it exists; until then both do only the
  // catalog refresh.
  asio::awaitable<void> setTinderboxProviderClient(std::shared_ptr<MCPClient> client);
  asio::awaitable<void> syncTinderboxOperationsIntoCatalog();

  // The catalog (tool_catalog_state.cpp) and the rest of what the admin channel reads.
  // The refresh asks a connected note app for its tools (the answer is not used; a failure
  // is logged), then swaps the helper and provider tools in together.
  asio::awaitable<void> refreshToolCatalog() override;
  asio::awaitable<void> buildToolCatalog() override;
  asio::awaitable<Json> toolCatalogPayload(std::vector<MCPTool> tools) override;
  std::vector<MCPTool> discoveredTools() const override { return discoveredTools_; }
  asio::awaitable<std::optional<HealthData>> currentHealthData() override;
  AppPreferencesStore& appPreferencesStore() override { return appPreferencesStore_; }
  FeatureTier featureTier() const override { return configuration_.featureTier(); }
  ToolSettingsStore& toolSettingsStore() override { return toolSettingsStore_; }
  NotificationQueue& notificationQueue() override { return notificationQueue_; }
  // The admin socket, "admin.sock" beside the daemon's socket.
  std::string adminSocketPath() const;

  // The note app's runtime control (tinderbox_runtime.cpp): "restart_tinderbox",
  // "open_tinderbox" or "quit_tinderbox" in the trimmed "operation" argument; denials are
  // plain text results, an unknown operation is a DaemonError invalidParameter.
  asio::awaitable<Json> handleTinderboxRuntime(Json arguments);
  asio::awaitable<Json> handleRestartTinderbox(std::string reason);
  asio::awaitable<Json> handleStartTinderbox();
  asio::awaitable<Json> handleStopTinderbox();
  asio::awaitable<void> startAndBind(std::shared_ptr<TinderboxSupervisor> supervisor);
  // Whether the supervisor reports a note-app process id.
  bool hasTinderboxProcess() const;

  // Seams for tests and for the modules that plug in later.
  ToolProviderRegistry& providerRegistry() { return providerRegistry_; }
  AgentSecretsStore& agentSecretsStore() { return agentSecretsStore_; }
  AuthRateLimiter& authRateLimiter() { return authRateLimiter_; }
  RequestQueue& requestQueue() { return *queue_; }
  const Configuration& configuration() const { return configuration_; }
  // The note app that tool-call notes go to: the daemon's own client unless a test put a
  // stand-in here (null restores the daemon's own). The stand-in must outlive the daemon.
  NoteAppClient& noteApp() { return noteAppOverride_ ? *noteAppOverride_ : noteApp_; }
  void setNoteAppForTesting(NoteAppClient* client) { noteAppOverride_ = client; }
  // auth.log, in the logs folder.
  std::filesystem::path authLogPath() const;

 private:
  TinderboxDaemon(asio::any_io_executor executor, const Configuration& configuration);

  // lifecycle.cpp
  void setupHealthMonitor();
  void loadToolSettingsAndConfigureQueue();
  void configureTinderboxConnection();
  static asio::awaitable<void> connectTinderbox(std::weak_ptr<TinderboxDaemon> weak);
  void installSocketHandlers();
  void startAdminServer();
  // Both sockets down and their files removed; used by shutdown and by a failed start.
  void closeSockets();

  // dispatch.cpp
  asio::awaitable<Json> dispatchMethod(std::string clientId, RequestEnvelope envelope);
  asio::awaitable<Json> handleListTools(std::string clientId);
  asio::awaitable<Json> handleCallTool(std::string clientId, Json params);
  // The helper tools, then the providers; in the request queue, except for the diagnostics.
  asio::awaitable<SendableData> runToolCall(std::string clientId, std::string toolName, Json arguments);
  std::string handleClientMessageError(const std::string& clientId, std::optional<std::int64_t> requestId,
                                       const std::exception_ptr& error) const;

  // exposure.cpp. Nothing is cached: each list and each call works from the current
  // catalog, settings and agent registration.
 public:
  // The catalog (or, while it is empty, every helper tool the tier shows and the
  // providers' tools) as the settings, installed applications and the client's category
  // policy allow it.
  std::vector<MCPTool> policyFilteredTools(const std::string& clientId) const;
  // Tools without operations under their own names first, then one tool per operation
  // (other than "help") of each tool with operations; the first of two equal names wins.
  std::vector<ExternalToolBinding> externalToolBindings(const std::vector<MCPTool>& tools) const;
  // What this client is offered and may call: the bindings of policyFilteredTools whose
  // forced operation the policy allows as well. Without `withSchemas` each bound tool
  // carries only its name (enough to look a call up).
  std::vector<ExternalToolBinding> exposedBindings(const std::string& clientId, bool withSchemas = true) const;
  // Throws toolDisabled, or featureDisabled "policy denied <write|read> for category <c>".
  void validateToolAccess(const std::string& clientId, const std::string& toolName, const Json& arguments) const;
  static std::string resolveOperationName(const std::string& toolName, const Json& arguments);

 private:

  // tool_dispatch.cpp
  void ensureFeatureEnabled(const std::string& toolName) const;
  asio::awaitable<Json> handleUnifiedTbxEndpointTool(std::string toolName, Json arguments);

  // operation_routing.cpp
  asio::awaitable<std::optional<Json>> handleCoreHelperTool(std::string clientId, std::string toolName, Json arguments);
  asio::awaitable<std::optional<Json>> handleCoreStatusHelperTool(std::string clientId, std::string toolName,
                                                                  Json arguments);
  asio::awaitable<std::optional<Json>> handleWorkTrackingHelperTool(std::string clientId, std::string toolName,
                                                                    Json arguments);
  asio::awaitable<std::optional<Json>> handleTinderboxNavigationOp(std::string operation, Json arguments);
  asio::awaitable<std::optional<Json>> handleTinderboxDocumentOp(std::string operation, Json arguments);
  asio::awaitable<std::optional<Json>> handleTinderboxExportOp(std::string operation, Json arguments);

  // health_tools.cpp
  asio::awaitable<Json> handleHealthCheck();
  asio::awaitable<Json> handleDaemonSelfCheck(Json arguments);
  asio::awaitable<bool> isTinderboxConnected();

  // identify.cpp
  asio::awaitable<Json> handleIdentify(std::string clientId, Json arguments);
  void logAuthAttempt(bool success, const std::string& message) const;

  // tool_call_logging.cpp: the file line now, the note-app note in the background.
  void logToolCall(const ToolCallLogContext& context);
  static asio::awaitable<void> writeToolCallNoteHoldingWeakly(std::weak_ptr<TinderboxDaemon> weak, ToolCallNote note);

  asio::any_io_executor executor_;
  const Configuration& configuration_;
  InstanceLock instanceLock_;

  // The services, in the order they are built.
  std::shared_ptr<RequestQueue> queue_;
  std::shared_ptr<UnixSocketServer> socketServer_;
  std::shared_ptr<DaemonHealth> healthMonitor_;
  NotificationQueue notificationQueue_;
  ToolSettingsStore toolSettingsStore_;
  AppPreferencesStore appPreferencesStore_;
  ToolCallLogger toolCallLogger_;
  WorkTracker workTracker_{Clock::system()};  // empty with every daemon process
  AuthRateLimiter authRateLimiter_;
  AgentSecretsStore agentSecretsStore_;
  // The providers' blocking runs (scripts under their lane locks); declared before the
  // providers, so it is joined only after they are gone.
  BlockingPool blockingPool_;
  ToolProviderRegistry providerRegistry_;

  // The note-app supervisor (none with TINDERBOX_DISABLE=1) and the client it handed out,
  // the one strong reference the note-app provider's weak one follows.
  std::shared_ptr<TinderboxSupervisor> supervisor_;
  std::shared_ptr<MCPClient> tinderboxClient_;
  bool hasSupervisor_ = false;
  // What the journal writers and coordination tools see of the note app, and the state
  // they keep for the daemon's life (containers known, title counters, mirror locks).
  DaemonNoteAppClient noteApp_{tinderboxClient_};
  NoteJournalState journal_;
  // The job runtime's state; no job starts until the daemon sets its owner.
  JobRuntimeState jobRuntime_;
  // What the coordination tools beneath the daemon are given. Declared after everything it
  // refers to.
  CoordinationContext coordination_{workTracker_, notificationQueue_, toolSettingsStore_, noteApp_, journal_,
                                    Clock::system(), jobRuntime_};
  NoteAppClient* noteAppOverride_ = nullptr;
  // The note-app operations (navigation, documents, view capture, export and printing);
  // their programs run one at a time.
  NoteAppCommands noteAppCommands_{executor_};
  CommandClipboardImageReader clipboardReader_{noteAppCommands_};
  NoteAppOperations noteAppOperations_{noteAppCommands_, clipboardReader_, noteAppSettingsFrom(configuration_)};

  std::vector<MCPTool> discoveredTools_;
  // discoveredTools_ cleaned for clients, index for index. Only buildToolCatalog writes
  // either, always both in one turn; code that changes the catalog goes through it.
  std::vector<MCPTool> cleanedTools_;
  std::shared_ptr<DaemonAdminXPCServer> adminServer_;
  std::set<std::string, std::less<>> enabledHelperToolNames_;
  bool isRunning_ = false;
  const std::chrono::system_clock::time_point startTime_;
  const std::chrono::steady_clock::time_point startInstant_;
};

}  // namespace qd
