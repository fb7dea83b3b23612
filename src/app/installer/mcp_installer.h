#pragma once

// Registers the router with AI clients: writes, removes and detects our five MCP server
// entries in a client's configuration file (JSON for Claude Code, Claude Desktop, Gemini
// CLI, Droid and OpenCode; TOML for Codex), keeps the install ledger, and at launch evicts
// a "tinderbox" entry that the note application registered for itself where ours are
// installed. Every failure and every removal is told to the user through the presenter;
// what cannot be edited without losing the user's content is refused and left untouched.
// Runs on the caller's thread (the tray application's main thread); keeps no state.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/installer/alert_presenter.h"
#include "app/installer/client_config_file.h"
#include "app/installer/install_locations.h"
#include "app/installer/json_client_config.h"
#include "platform/environment.h"

namespace qd {

// The folder of the running executable (from /proc/self/exe), or nullopt.
std::optional<std::filesystem::path> runningExecutableFolder();
// The version of this build ("2.0.0").
std::string buildAppVersion();

struct MCPInstallerOptions {
  platform::Environment environment = platform::Environment::current();
  // The application's bin folder; the entries run QuarvelDorarovDaemon beside it. nullopt:
  // unknown, the "Could not find app bundle resources" case.
  std::optional<std::filesystem::path> appFolder = runningExecutableFolder();
  std::string appVersion = buildAppVersion();
  // The preferences suite that keeps "QTConflictAlertShownVersion".
  std::string preferencesSuite = "com.quarvel.dorarov";
  // Test seam for the rename of every client-file write.
  ReplaceOptions replace;
};

class MCPInstaller {
 public:
  static constexpr const char* conflictAlertShownVersionKey = "QTConflictAlertShownVersion";

  explicit MCPInstaller(AlertPresenter& presenter, MCPInstallerOptions options = {});

  // A path ending in ".toml" is Codex; the key "opencode" or the OpenCode default path is
  // OpenCode; the key "droid" or the Droid default path is Droid; anything else is generic
  // JSON. Success is shown only when `silent` is false. True when the file holds our entries.
  bool install(const std::string& configPath, const std::string& clientKey, const std::string& scope = "user",
               bool silent = false);
  // Always ends in an alert. True when the entries are gone and the ledger row dropped.
  bool uninstall(const std::string& configPath, const std::string& clientKey);
  // Shows nothing, writes nothing; false for a file that cannot be read or parsed.
  bool isInstalledInConfigPath(const std::string& configPath) const;

  // The launch pass: evicts foreign "tinderbox" entries from every client file that holds
  // ours, and tells the user once per application version. Never fails. The tray
  // application calls it once at launch, after starting the service.
  void evictNativeTinderboxEntriesIfNeeded();
  // True when the file was rewritten without its foreign "tinderbox" entry (or sections).
  bool evictNativeTinderboxEntryFromJSONConfig(const std::string& path);
  bool evictNativeTinderboxEntryFromCodexConfig(const std::string& path);

  ClientConfigLocations locations() const { return ClientConfigLocations(options_.environment); }
  InstallLedger ledger() const { return InstallLedger(locations().installLedgerPath()); }
  // The command our entries run, or nullopt when the application's folder is unknown.
  std::optional<std::string> expectedCommand() const;

 private:
  std::optional<std::string> daemonClientPath();
  bool installJSON(const std::string& path, const std::string& clientKey, const std::string& scope, bool silent,
                   JsonClientKind kind);
  bool installCodex(const std::string& path, const std::string& clientKey, const std::string& scope, bool silent);
  bool uninstallJSON(const std::string& path, const std::string& clientKey, JsonClientKind kind);
  bool uninstallCodex(const std::string& path, const std::string& clientKey);
  using ClientConfigEditor = std::function<ClientConfigEdit(const std::optional<std::string>&)>;
  // One safe replace; a refusal becomes an alert: an edit's own text, or for content that
  // cannot be edited `readPrefix`, the path, a blank line and the cause, or for a file that
  // cannot be replaced `writePrefix` and why. True when the edit went through.
  bool replaceOrAlert(const std::string& path, const ClientConfigEditor& edit, bool createFolder,
                      const std::string& readPrefix, const std::string& writePrefix);
  void recordInstall(const std::string& path, const std::string& clientKey, const std::string& scope, bool silent);
  void recordRemoval(const std::string& path, const std::string& clientKey, const std::vector<std::string>& keys);

  void showError(const std::string& text);
  void showSuccess(const std::string& configPath);
  void showRemovalSuccess(const std::string& configPath, const std::vector<std::string>& removedKeys);

  AlertPresenter& presenter_;
  MCPInstallerOptions options_;
};

}  // namespace qd
