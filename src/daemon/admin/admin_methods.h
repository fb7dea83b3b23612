#pragma once

// The four requests the tray application may make through the admin socket: read the
// health record, read the tool catalog, read the settings and save them. Each answers a
// JSON object (the server sorts its keys) or throws an error whose description is the
// reply's text.

#include <memory>
#include <optional>
#include <string>

#include <asio/awaitable.hpp>

#include "daemon/admin/admin_daemon.h"
#include "daemon/utilities/json.h"

namespace qd {

namespace AdminMethod {
inline constexpr const char* getHealth = "app_get_health";
inline constexpr const char* getToolCatalog = "app_get_tool_catalog";
inline constexpr const char* getSettings = "app_get_settings";
inline constexpr const char* saveSettings = "app_save_settings";
}  // namespace AdminMethod

// The tool-settings keys the settings exchange leaves out: the application never shows or
// sends the category policies, so a save without them keeps the stored ones.
inline constexpr const char* categoryPolicyKeys[] = {"defaultCategoryPolicy", "clientCategoryPolicy",
                                                     "agentCategoryPolicy", "clientAgentCategoryPolicy"};
inline constexpr const char* autoDownloadUpdatesKey = "autoDownloadUpdates";

// Runs the method of that exact (case-sensitive) name; `params` (an object) reaches only
// app_save_settings. Another name throws DaemonError::invalidParameter "unknownMethod: "
// + name. The background catalog refreshes hold the daemon weakly.
asio::awaitable<Json> handleAppAdminRequest(std::shared_ptr<AdminDaemon> daemon, std::string method,
                                            std::optional<Json> params);

// The health record's JSON object; featureDisabled "health monitor unavailable" without a
// health monitor.
asio::awaitable<Json> handleAppGetHealth(std::shared_ptr<AdminDaemon> daemon);
// Builds the catalog when it is empty, starts a refresh without waiting for it, and
// answers the catalog as it was before that refresh.
asio::awaitable<Json> handleAppGetToolCatalog(std::shared_ptr<AdminDaemon> daemon);
// The 17 tool settings other than the category policies, and "autoDownloadUpdates".
asio::awaitable<Json> handleAppGetSettings(std::shared_ptr<AdminDaemon> daemon);
// Saves params["settings"]; answers {"saved": true}. See admin_methods.cpp for the steps.
asio::awaitable<Json> handleAppSaveSettings(std::shared_ptr<AdminDaemon> daemon, std::optional<Json> params);

}  // namespace qd
