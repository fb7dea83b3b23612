#include "daemon/admin/admin_methods.h"

#include <utility>

#include <asio/this_coro.hpp>

#include "daemon/core/daemon_error.h"
#include "daemon/runtime/coroutine_helpers.h"

namespace qd {
namespace {

constexpr const char* kComponent = "DaemonAdminXPC";

asio::awaitable<void> refreshCatalog(std::shared_ptr<AdminDaemon> daemon) { co_await daemon->refreshToolCatalog(); }

// The refresh runs later, on its own, and only if the daemon still exists by then.
asio::awaitable<void> startCatalogRefresh(const std::shared_ptr<AdminDaemon>& daemon) {
  auto executor = co_await asio::this_coro::executor;
  startWeakTask(executor, std::weak_ptr<AdminDaemon>(daemon), &refreshCatalog, kComponent, "refreshToolCatalog");
}

// The release tier keeps these settings fixed, whatever the application sends.
void applyReleaseOverrides(ToolSettings& settings) {
  settings.enableLogging = false;
  settings.allowBroadcastNotifications = false;
  settings.maxNotificationItems = 1000;
  settings.enableTinderboxPassthroughTools = true;
  settings.enableToolCallLogging = false;
  settings.logToolCallsToFile = false;
  settings.logToolCallsToTinderbox = false;
}

bool carries(const Json& settings, const char* key) {
  const auto it = settings.find(key);
  return it != settings.end() && !it->is_null();
}

// The application never sends the category policies. Replacing the whole record would
// therefore wipe the user's access restrictions on every save and widen what agents may
// do, so a policy map the request does not carry keeps its stored value; a map that is
// sent replaces it (an empty one clears it).
void keepUnsentCategoryPolicies(const Json& sent, const ToolSettings& stored, ToolSettings& saved) {
  if (!carries(sent, "defaultCategoryPolicy")) saved.defaultCategoryPolicy = stored.defaultCategoryPolicy;
  if (!carries(sent, "clientCategoryPolicy")) saved.clientCategoryPolicy = stored.clientCategoryPolicy;
  if (!carries(sent, "agentCategoryPolicy")) saved.agentCategoryPolicy = stored.agentCategoryPolicy;
  if (!carries(sent, "clientAgentCategoryPolicy")) saved.clientAgentCategoryPolicy = stored.clientAgentCategoryPolicy;
}

}  // namespace

asio::awaitable<Json> handleAppAdminRequest(std::shared_ptr<AdminDaemon> daemon, std::string method,
                                            std::optional<Json> params) {
  if (method == AdminMethod::getHealth) co_return co_await handleAppGetHealth(std::move(daemon));
  if (method == AdminMethod::getToolCatalog) co_return co_await handleAppGetToolCatalog(std::move(daemon));
  if (method == AdminMethod::getSettings) co_return co_await handleAppGetSettings(std::move(daemon));
  if (method == AdminMethod::saveSettings) co_return co_await handleAppSaveSettings(std::move(daemon), std::move(params));
  throw DaemonError::invalidParameter("unknownMethod: " + method);
}

asio::awaitable<Json> handleAppGetHealth(std::shared_ptr<AdminDaemon> daemon) {
  std::optional<HealthData> health = co_await daemon->currentHealthData();
  if (!health) throw DaemonError::featureDisabled("health monitor unavailable");
  co_return health->toJson();
}

asio::awaitable<Json> handleAppGetToolCatalog(std::shared_ptr<AdminDaemon> daemon) {
  if (daemon->discoveredTools().empty()) co_await daemon->buildToolCatalog();
  // Taken before the refresh starts, so the answer is the catalog as it was; the next
  // request sees the refreshed one.
  std::vector<MCPTool> tools = daemon->discoveredTools();
  co_await startCatalogRefresh(daemon);
  co_return co_await daemon->toolCatalogPayload(std::move(tools));
}

asio::awaitable<Json> handleAppGetSettings(std::shared_ptr<AdminDaemon> daemon) {
  Json record = daemon->toolSettingsStore().current().toJson();
  for (const char* key : categoryPolicyKeys) record.erase(key);
  record[autoDownloadUpdatesKey] = daemon->appPreferencesStore().autoDownloadUpdates();
  co_return record;
}

asio::awaitable<Json> handleAppSaveSettings(std::shared_ptr<AdminDaemon> daemon, std::optional<Json> params) {
  const Json* sent = nullptr;
  if (params && params->is_object()) {
    if (const auto it = params->find("settings"); it != params->end()) sent = &*it;
  }
  if (!sent) throw DaemonError::missingParameter("settings");
  // Only an object or an array is a JSON document at top level (null included as not one).
  if (!sent->is_object() && !sent->is_array()) throw DaemonError::invalidParameter("settings");

  // Stored at once, before anything else is checked, and kept even when the save fails.
  // Only a JSON Boolean counts: 0 and 1 are numbers, not answers.
  if (sent->is_object()) {
    if (const auto it = sent->find(autoDownloadUpdatesKey); it != sent->end() && it->is_boolean()) {
      daemon->appPreferencesStore().setAutoDownloadUpdates(it->get<bool>());
    }
  }

  ToolSettings settings = ToolSettings::fromJson(*sent);  // DecodingError: nothing is saved
  if (daemon->featureTier() == FeatureTier::release) applyReleaseOverrides(settings);
  ToolSettingsStore& store = daemon->toolSettingsStore();
  keepUnsentCategoryPolicies(*sent, store.current(), settings);
  store.save(settings);  // FileWriteError: the queue and the catalog stay as they are

  daemon->notificationQueue().configure(settings.maxNotificationItems);
  co_await startCatalogRefresh(daemon);
  co_return Json{{"saved", true}};
}

}  // namespace qd
