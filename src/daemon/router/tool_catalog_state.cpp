// The daemon's catalog: building and refreshing it (both fields swapped together), the
// payload the tray application shows, and what else the admin channel reads of the daemon.

#include <chrono>

#include "daemon/admin/admin_protocol.h"
#include "daemon/health/daemon_health.h"
#include "daemon/logging/logger.h"
#include "daemon/mcp/mcp_client.h"
#include "daemon/router/router.h"
#include "daemon/router/router_internal.h"
#include "daemon/router/schema_sanitizing.h"
#include "daemon/router/tool_catalog.h"
#include "daemon/runtime/coroutine_helpers.h"

namespace qd {

asio::awaitable<void> TinderboxDaemon::buildToolCatalog() {
  std::vector<MCPTool> helpers = createHelperTools();
  std::vector<MCPTool> providers = createProviderTools();
  // The fields change in this one turn, so no reader sees one without the others.
  enabledHelperToolNames_.clear();
  for (const MCPTool& tool : helpers) enabledHelperToolNames_.insert(tool.name);
  helpers.insert(helpers.end(), std::make_move_iterator(providers.begin()), std::make_move_iterator(providers.end()));
  std::vector<MCPTool> cleaned;
  cleaned.reserve(helpers.size());
  for (const MCPTool& tool : helpers) cleaned.push_back(sanitizedToolSchemaForExternalClients(tool));
  discoveredTools_ = std::move(helpers);
  cleanedTools_ = std::move(cleaned);
  co_return;
}

asio::awaitable<void> TinderboxDaemon::refreshToolCatalog() {
  // The note app's own tools reach the catalog through its provider; the request only
  // shows whether the note app still answers.
  if (std::shared_ptr<MCPClient> client = tinderboxClient_) {
    try {
      // A named cursor: g++ 12 destroys a defaulted temporary argument of an awaited
      // coroutine twice.
      std::optional<std::string> cursor;
      co_await client->listTools(std::move(cursor));
    } catch (...) {
      Logger::warn(router::kComponent, "Failed to fetch Tinderbox native tools during refresh",
                   Json{{"error", describeException(std::current_exception())}});
    }
  }
  co_await buildToolCatalog();
}

asio::awaitable<Json> TinderboxDaemon::toolCatalogPayload(std::vector<MCPTool> tools) {
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  co_return qd::toolCatalogPayload(tools, providerRegistry_.buildOperationsMap(), seconds);
}

asio::awaitable<std::optional<HealthData>> TinderboxDaemon::currentHealthData() {
  if (!healthMonitor_) co_return std::nullopt;
  std::shared_ptr<DaemonHealth> monitor = healthMonitor_;
  co_return co_await monitor->getCurrentHealthData();
}

std::string TinderboxDaemon::adminSocketPath() const {
  return DaemonAdminXPCProtocol::socketPathBeside(configuration_.socketPath());
}

}  // namespace qd
