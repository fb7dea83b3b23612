#pragma once

// What the admin methods need of the daemon. The daemon actor implements this interface;
// the admin server holds it weakly, so the channel never keeps the daemon alive. Every
// member is called on the daemon's io thread.

#include <optional>
#include <vector>

#include <asio/awaitable.hpp>

#include "daemon/config/app_preferences_store.h"
#include "daemon/config/feature_tier.h"
#include "daemon/config/tool_settings_store.h"
#include "daemon/health/health_data.h"
#include "daemon/mcp/mcp_types.h"
#include "daemon/messaging/notification_queue.h"
#include "daemon/utilities/json.h"

namespace qd {

class AdminDaemon {
 public:
  virtual ~AdminDaemon() = default;

  // The health monitor's current record; none when the daemon has no health monitor.
  virtual asio::awaitable<std::optional<HealthData>> currentHealthData() = 0;

  // The catalog as it stands (the daemon's discovered tools).
  virtual std::vector<MCPTool> discoveredTools() const = 0;
  // Builds the catalog from scratch: the helper tools followed by the provider tools, and
  // the enabled helper-tool names from the helper tools.
  virtual asio::awaitable<void> buildToolCatalog() = 0;
  // The catalog answer {"tools": [...], "timestamp": ...} for these tools; does not fail.
  virtual asio::awaitable<Json> toolCatalogPayload(std::vector<MCPTool> tools) = 0;
  // Rebuilds the catalog; handles its own failures.
  virtual asio::awaitable<void> refreshToolCatalog() = 0;

  virtual ToolSettingsStore& toolSettingsStore() = 0;
  virtual AppPreferencesStore& appPreferencesStore() = 0;
  virtual NotificationQueue& notificationQueue() = 0;

  // The tier the daemon runs in (the configuration's feature tier).
  virtual FeatureTier featureTier() const = 0;
};

}  // namespace qd
