#pragma once

// A daemon for the admin channel's tests: real stores on files in a folder of the test,
// a health record and a catalog the test sets, and counters of what the methods asked.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "daemon/admin/admin_daemon.h"

namespace qd::test {

inline MCPTool fakeTool(const std::string& name) {
  MCPTool tool;
  tool.name = name;
  tool.description = "The " + name + " tool";
  tool.inputSchema.type = "object";
  return tool;
}

class FakeAdminDaemon : public AdminDaemon {
 public:
  explicit FakeAdminDaemon(const std::filesystem::path& folder)
      : settingsStore(folder / "tool-settings.json"),
        preferences(AppPreferencesStore::defaultSuiteName,
                    platform::Environment{{"HOME", folder.string()}, {"XDG_CONFIG_HOME", (folder / "config").string()}}) {
    health = HealthData{};
    health->daemonPid = 4242;
    health->lastUpdate = 1700000000000;
    health->uptime = 12;
    health->connectedClients = 2;
  }

  asio::awaitable<std::optional<HealthData>> currentHealthData() override {
    ++healthCalls;
    // A test holds the answer back to see other requests overtake this one.
    asio::steady_timer timer(co_await asio::this_coro::executor);
    while (holdHealth) {
      timer.expires_after(std::chrono::milliseconds(1));
      co_await timer.async_wait(asio::use_awaitable);
    }
    co_return health;
  }

  std::vector<MCPTool> discoveredTools() const override { return tools; }
  asio::awaitable<void> buildToolCatalog() override {
    ++builds;
    tools = builtTools;
    co_return;
  }
  asio::awaitable<Json> toolCatalogPayload(std::vector<MCPTool> list) override {
    Json entries = Json::array();
    for (const MCPTool& tool : list) entries.push_back(Json{{"name", tool.name}});
    co_return Json{{"tools", entries}, {"timestamp", 1700000000000}};
  }
  asio::awaitable<void> refreshToolCatalog() override {
    ++refreshes;
    if (refreshedTools) tools = *refreshedTools;
    co_return;
  }

  ToolSettingsStore& toolSettingsStore() override { return settingsStore; }
  AppPreferencesStore& appPreferencesStore() override { return preferences; }
  NotificationQueue& notificationQueue() override { return queue; }
  FeatureTier featureTier() const override { return tier; }

  std::optional<HealthData> health;
  bool holdHealth = false;
  int healthCalls = 0;
  std::vector<MCPTool> tools;
  std::vector<MCPTool> builtTools{fakeTool("health_check"), fakeTool("calendar")};
  std::optional<std::vector<MCPTool>> refreshedTools;
  int builds = 0;
  int refreshes = 0;
  ToolSettingsStore settingsStore;
  AppPreferencesStore preferences;
  NotificationQueue queue;
  FeatureTier tier = FeatureTier::dev;
};

}  // namespace qd::test
