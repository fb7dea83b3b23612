// Which handler answers a helper tool or an operation of a grouped note-app tool. The
// coordination tools are handled beneath the daemon (work/), each given the daemon's one
// CoordinationContext; "agents" routes its own operations there. The routers answer only
// their fixed texts themselves; a handler whose module is not part of the daemon yet
// refuses the call with a DaemonError rather than pretend it ran.

#include "daemon/core/daemon_error.h"
#include "daemon/router/router.h"
#include "daemon/router/router_internal.h"
#include "daemon/work/agents_tool.h"
#include "daemon/work/claude_hook_sync.h"
#include "daemon/work/jobs_tool.h"
#include "daemon/work/tasks_tool.h"
#include "daemon/work/workstreams_tool.h"

namespace qd {
namespace router {

void notAvailableYet(const std::string& what) {
  throw DaemonError::invalidParameter(what + " is not available in this daemon yet");
}

}  // namespace router

namespace {

bool isOneOf(std::string_view name, std::initializer_list<std::string_view> names) {
  for (std::string_view candidate : names) {
    if (candidate == name) return true;
  }
  return false;
}


}  // namespace

asio::awaitable<std::optional<Json>> TinderboxDaemon::handleCoreStatusHelperTool(std::string clientId,
                                                                                 std::string toolName, Json arguments) {
  if (toolName == "health_check") co_return co_await handleHealthCheck();
  if (toolName == "daemon_self_check") co_return co_await handleDaemonSelfCheck(std::move(arguments));
  if (toolName == "identify") co_return co_await handleIdentify(std::move(clientId), std::move(arguments));
  if (toolName == "agents") {
    co_return co_await qd::handleAgentsUnifiedTool(coordination_, std::move(clientId), std::move(arguments));
  }
  co_return std::nullopt;
}

asio::awaitable<std::optional<Json>> TinderboxDaemon::handleCoreHelperTool(std::string clientId, std::string toolName,
                                                                           Json arguments) {
  std::optional<Json> status = co_await handleCoreStatusHelperTool(clientId, toolName, arguments);
  if (status) co_return status;
  if (toolName == "notify") {
    co_return co_await qd::handleNotify(coordination_, std::move(clientId), std::move(arguments));
  }
  if (toolName == "log_message") {
    co_return co_await qd::handleLogMessage(coordination_, std::move(clientId), std::move(arguments));
  }
  if (toolName == "print_document") co_return co_await noteAppOperations_.printDocument(std::move(arguments));
  if (toolName == "sync_claude_hook") co_return co_await qd::handleSyncClaudeHook(coordination_, std::move(arguments));
  co_return std::nullopt;
}

asio::awaitable<std::optional<Json>> TinderboxDaemon::handleWorkTrackingHelperTool(std::string clientId,
                                                                                   std::string toolName,
                                                                                   Json arguments) {
  if (toolName == "tasks") {
    co_return co_await qd::handleTasksTool(coordination_, std::move(clientId), std::move(arguments));
  }
  if (toolName == "workstreams") co_return co_await qd::handleWorkstreamsUnifiedTool(coordination_, std::move(arguments));
  if (toolName == "jobs") {
    co_return co_await qd::handleJobsTool(coordination_, std::move(clientId), std::move(arguments));
  }
  co_return std::nullopt;
}

asio::awaitable<std::optional<Json>> TinderboxDaemon::handleTinderboxNavigationOp(std::string operation,
                                                                                  Json arguments) {
  if (isOneOf(operation, {"build_tinderbox_note_url", "open_tinderbox_url", "navigate_to_note",
                          "navigate_to_note_view", "set_tinderbox_view", "copy_tinderbox_view",
                          "select_tinderbox_note", "note_exists"})) {
    co_return co_await noteAppOperations_.perform(std::move(operation), std::move(arguments));
  }
  co_return std::nullopt;
}

asio::awaitable<std::optional<Json>> TinderboxDaemon::handleTinderboxDocumentOp(std::string operation,
                                                                                Json arguments) {
  if (isOneOf(operation, {"open_tinderbox_document", "save_tinderbox_document", "close_tinderbox_document",
                          "list_tinderbox_windows", "delete_note"})) {
    co_return co_await noteAppOperations_.perform(std::move(operation), std::move(arguments));
  }
  co_return std::nullopt;
}

asio::awaitable<std::optional<Json>> TinderboxDaemon::handleTinderboxExportOp(std::string operation, Json arguments) {
  if (isOneOf(operation, {"export_document", "export_note", "print_note"})) {
    co_return co_await noteAppOperations_.perform(std::move(operation), std::move(arguments));
  }
  co_return std::nullopt;
}

}  // namespace qd
