// Helper then provider dispatch of an accepted call, the feature switches that guard the
// helper tools, and the entry of the grouped note-app tools.

#include <algorithm>
#include <set>

#include "daemon/core/daemon_error.h"
#include "daemon/router/router.h"
#include "daemon/router/router_internal.h"
#include "daemon/router/tbx_operations.h"
#include "daemon/runtime/text_trim.h"
#include "daemon/utilities/tool_availability.h"

namespace qd {
namespace {

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) text += (i ? ", " : "") + names[i];
  return text;
}

}  // namespace

asio::awaitable<std::optional<Json>> TinderboxDaemon::handleHelperTool(std::string clientId, std::string toolName,
                                                                       Json arguments) {
  if (!router::isHelperToolName(toolName)) co_return std::nullopt;
  if (!enabledHelperToolNames_.contains(toolName)) throw DaemonError::toolDisabled(toolName);
  ensureFeatureEnabled(toolName);
  std::optional<Json> result = co_await handleCoreHelperTool(clientId, toolName, arguments);
  if (result) co_return result;
  co_return co_await handleWorkTrackingHelperTool(std::move(clientId), std::move(toolName), std::move(arguments));
}

void TinderboxDaemon::ensureFeatureEnabled(const std::string& toolName) const {
  const ToolSettings& settings = toolSettingsStore_.currentRef();
  struct Row {
    std::vector<std::string_view> tools;
    bool enabled;
    const char* feature;
  };
  const Row rows[] = {
      {{"sync_claude_hook"}, settings.enableHookSync, "hook sync"},
      {{"notify", "agents"}, settings.enableMessaging, "messaging"},
      {{"identify", "agents", "tasks", "workstreams", "jobs"}, settings.enableAgentCoordination, "agent coordination"},
      {{"log_message"}, settings.enableLogging, "logging"},
  };
  for (const Row& row : rows) {
    if (!row.enabled && std::find(row.tools.begin(), row.tools.end(), toolName) != row.tools.end()) {
      throw DaemonError::featureDisabled(row.feature);
    }
  }
}

asio::awaitable<std::optional<Json>> TinderboxDaemon::handleProviderTool(std::string clientId, std::string toolName,
                                                                         Json arguments) {
  if (toolName == "tbx_nav" || toolName == "tbx_doc" || toolName == "tbx_export") {
    co_return co_await handleUnifiedTbxEndpointTool(std::move(toolName), std::move(arguments));
  }
  if (!toolSettingsStore_.isEnabled(toolName)) throw DaemonError::toolDisabled(toolName);
  if (!ToolAvailability::isAvailable(toolName)) {
    throw DaemonError::featureDisabled("app unavailable for tool: " + toolName);
  }
  // A copy of the list: a provider's call suspends, and the registry may change meanwhile.
  const std::vector<std::shared_ptr<ToolProvider>> providers = providerRegistry_.providers;
  for (const std::shared_ptr<ToolProvider>& provider : providers) {
    if (!provider->canHandle(toolName)) continue;
    std::optional<Json> result = co_await provider->handle(toolName, clientId, arguments);
    if (result) co_return result;
  }
  co_return std::nullopt;
}

asio::awaitable<Json> TinderboxDaemon::handleUnifiedTbxEndpointTool(std::string toolName, Json arguments) {
  std::optional<std::string> raw = router::stringMember(arguments, "operation");
  if (!raw) throw DaemonError::missingParameter("operation");
  const std::string operation = trimWhitespaceAndNewlines(*raw);
  if (operation.empty()) throw DaemonError::missingParameter("operation");
  const std::vector<std::string> published = tbx::endpointOperations(toolName);
  if (operation == "help") co_return router::textResult(toolName + " operations:\n" + joined(published));
  const std::string unknown = "Unknown " + toolName + " operation: " + operation;
  if (std::find(published.begin(), published.end(), operation) == published.end()) {
    throw DaemonError::invalidParameter(unknown);
  }
  std::optional<Json> result;
  if (tbx::isAppOperation(operation)) {
    result = co_await handleTinderboxRuntime(arguments);
  } else if (toolName == "tbx_nav") {
    result = co_await handleTinderboxNavigationOp(operation, arguments);
  } else if (toolName == "tbx_doc") {
    result = co_await handleTinderboxDocumentOp(operation, arguments);
  } else if (toolName == "tbx_export") {
    result = co_await handleTinderboxExportOp(operation, arguments);
  }
  if (!result) throw DaemonError::invalidParameter(unknown);
  co_return std::move(*result);
}

}  // namespace qd
