#include "app/installer/mcp_installer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <system_error>

#include "app/installer/codex_toml.h"
#include "app/installer/managed_entries.h"
#include "daemon/config/app_preferences_store.h"
#include "daemon/utilities/unicode_text.h"

#ifndef QD_APP_VERSION
#define QD_APP_VERSION ""
#endif

namespace qd {
namespace {

std::string joined(const std::vector<std::string>& items, const char* separator) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += separator;
    out += items[i];
  }
  return out;
}

const char* writeFailurePrefix(JsonClientKind kind) {
  switch (kind) {
    case JsonClientKind::droid: return "Failed to write Droid config:\n";
    case JsonClientKind::openCode: return "Failed to write OpenCode config:\n";
    case JsonClientKind::generic: break;
  }
  return "Failed to write config file:\n";
}

const char* readFailurePrefix(JsonClientKind kind) {
  return kind == JsonClientKind::openCode ? "Could not read OpenCode config at:\n" : "Could not read config file at:\n";
}

// The text for a content the edit refused: the prefix, the path, a blank line, why.
std::string unreadable(const char* prefix, const std::string& path, const std::string& cause) {
  return prefix + path + "\n\n" + cause;
}

bool endsWithDaemonName(const Json& entry) {
  if (!entry.is_object()) return false;
  auto command = entry.find("command");
  return command != entry.end() && command->is_string() &&
         command->get<std::string>().ends_with("/" + std::string(kDaemonExecutableName));
}

// Thrown inside an edit to stop it with one of the installer's own texts.
struct StopWith {
  std::string text;
};

}  // namespace

std::optional<std::filesystem::path> runningExecutableFolder() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec || exe.empty()) return std::nullopt;
  return exe.parent_path();
}

std::string buildAppVersion() { return QD_APP_VERSION; }

MCPInstaller::MCPInstaller(AlertPresenter& presenter, MCPInstallerOptions options)
    : presenter_(presenter), options_(std::move(options)) {}

std::optional<std::string> MCPInstaller::expectedCommand() const {
  if (!options_.appFolder) return std::nullopt;
  return (*options_.appFolder / kDaemonExecutableName).string();
}

std::optional<std::string> MCPInstaller::daemonClientPath() {
  auto path = expectedCommand();
  if (!path) {
    showError("Could not find app bundle resources");
    return std::nullopt;
  }
  struct stat info {};
  if (::stat(path->c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path->c_str(), X_OK) == 0) return path;
  showError("Daemon binary not found at:\n" + *path);
  return std::nullopt;
}

bool MCPInstaller::install(const std::string& configPath, const std::string& clientKey, const std::string& scope,
                           bool silent) {
  if (configPath.ends_with(".toml")) return installCodex(configPath, clientKey, scope, silent);
  const auto where = locations();
  if (clientKey == "opencode" || configPath == where.openCodeConfigPath()) {
    return installJSON(configPath, clientKey, scope, silent, JsonClientKind::openCode);
  }
  if (clientKey == "droid" || configPath == where.droidConfigPath()) {
    return installJSON(configPath, clientKey, scope, silent, JsonClientKind::droid);
  }
  return installJSON(configPath, clientKey, scope, silent, JsonClientKind::generic);
}

bool MCPInstaller::replaceOrAlert(const std::string& path, const ClientConfigEditor& edit, bool createFolder,
                                  const std::string& readPrefix, const std::string& writePrefix) {
  ReplaceOptions replace = options_.replace;
  replace.createFolder = createFolder;
  try {
    replaceClientConfigFile(path, edit, replace);
    return true;
  } catch (const StopWith& stop) {
    showError(stop.text);
  } catch (const ClientConfigContentError& e) {
    showError(unreadable(readPrefix.c_str(), path, e.description()));
  } catch (const ClientConfigFileError& e) {
    showError(writePrefix + e.description());
  }
  return false;
}

bool MCPInstaller::installJSON(const std::string& path, const std::string& clientKey, const std::string& scope,
                               bool silent, JsonClientKind kind) {
  const auto command = daemonClientPath();
  if (!command) return false;
  auto edit = [&](const std::optional<std::string>& contents) -> ClientConfigEdit {
    Json config = contents ? parseClientConfigJson(*contents) : Json::object();
    return renderClientConfigJson(configByInstallingManagedJSONEntries(std::move(config), kind, *command));
  };
  if (!replaceOrAlert(path, edit, true, readFailurePrefix(kind), writeFailurePrefix(kind))) return false;
  recordInstall(path, clientKey, scope, silent);
  return true;
}

bool MCPInstaller::installCodex(const std::string& path, const std::string& clientKey, const std::string& scope,
                                bool silent) {
  const auto command = daemonClientPath();
  if (!command) return false;
  auto edit = [&](const std::optional<std::string>& contents) -> ClientConfigEdit {
    return codexConfigWithManagedServers(contents, *command);
  };
  const char* prefix = "Failed to write Codex config:\n";
  if (!replaceOrAlert(path, edit, true, prefix, prefix)) return false;
  recordInstall(path, clientKey, scope, silent);
  return true;
}

bool MCPInstaller::uninstall(const std::string& configPath, const std::string& clientKey) {
  if (configPath.ends_with(".toml")) return uninstallCodex(configPath, clientKey);
  if (clientKey == "opencode" || configPath == locations().openCodeConfigPath()) {
    return uninstallJSON(configPath, clientKey, JsonClientKind::openCode);
  }
  // Droid's entries sit under "mcpServers" with a string command, as the generic ones do.
  return uninstallJSON(configPath, clientKey, JsonClientKind::generic);
}

bool MCPInstaller::uninstallJSON(const std::string& path, const std::string& clientKey, JsonClientKind kind) {
  const auto expected = expectedCommand();
  if (!expected) {
    showError("Could not find app bundle resources");
    return false;
  }
  const bool openCode = kind == JsonClientKind::openCode;
  const char* key = containerKey(kind);
  const std::string readText = readFailurePrefix(kind);
  std::vector<std::string> removed;
  auto edit = [&](const std::optional<std::string>& contents) -> ClientConfigEdit {
    if (!contents) throw StopWith{readText + path};
    Json config = parseClientConfigJson(*contents);
    auto container = config.find(key);
    if (config.empty() || container == config.end() || !container->is_object()) {
      throw StopWith{openCode ? readText + path : "No mcpServers section found in:\n" + path};
    }
    auto removal = openCode ? removingManagedOpenCodeEntries(*container, *expected)
                            : removingManagedJSONEntries(*container, *expected);
    removed = std::move(removal.removedKeys);
    if (removed.empty()) {
      if (!openCode) throw StopWith{"No Quarvel Dorarov MCP entry found in:\n" + path};
      // OpenCode: a removal that finds nothing still completes; there is nothing to write.
      return KeepFile{};
    }
    if (removal.remaining.empty()) config.erase(key);
    else config[key] = std::move(removal.remaining);
    return renderClientConfigJson(config);
  };
  const char* writeText = openCode ? "Failed to update OpenCode config:\n" : "Failed to update config file:\n";
  if (!replaceOrAlert(path, edit, false, readText, writeText)) return false;
  recordRemoval(path, clientKey, removed);
  return true;
}

bool MCPInstaller::uninstallCodex(const std::string& path, const std::string& clientKey) {
  auto edit = [&](const std::optional<std::string>& contents) -> ClientConfigEdit {
    if (!contents) return KeepFile{};  // nothing to remove from
    auto remaining = codexConfigWithoutManagedServers(*contents);
    if (!remaining) return DeleteFile{};
    return *remaining;
  };
  const char* prefix = "Failed to remove from Codex config:\n";
  if (!replaceOrAlert(path, edit, false, prefix, prefix)) return false;
  recordRemoval(path, clientKey, codexServerNames());
  return true;
}

void MCPInstaller::recordInstall(const std::string& path, const std::string& clientKey, const std::string& scope,
                                 bool silent) {
  ledger().upsert({clientKey, scope, path});
  if (!silent) showSuccess(path);
}

void MCPInstaller::recordRemoval(const std::string& path, const std::string& clientKey,
                                 const std::vector<std::string>& keys) {
  ledger().remove(path, clientKey);
  showRemovalSuccess(path, keys);
}

bool MCPInstaller::isInstalledInConfigPath(const std::string& configPath) const {
  try {
    const auto snapshot = readClientConfigFile(configPath, ReadPurpose::inspect);
    if (!snapshot.contents) return false;
    if (configPath.ends_with(".toml")) {
      return unicode::isValidUtf8(*snapshot.contents) && codexConfigHoldsManagedServers(*snapshot.contents);
    }
    const JsonClientKind kind =
        configPath == locations().openCodeConfigPath() ? JsonClientKind::openCode : JsonClientKind::generic;
    const Json config = parseClientConfigJson(*snapshot.contents);
    auto container = config.find(containerKey(kind));
    if (container == config.end() || !container->is_object()) return false;
    const auto expected = expectedCommand();
    return holdsManagedEntries(*container, kind, expected ? &*expected : nullptr);
  } catch (const Error&) {
    return false;
  }
}

bool MCPInstaller::evictNativeTinderboxEntryFromJSONConfig(const std::string& path) {
  try {
    const auto outcome = replaceClientConfigFile(
        path,
        [&](const std::optional<std::string>& contents) -> ClientConfigEdit {
          if (!contents) return KeepFile{};
          Json config = parseClientConfigJson(*contents);
          auto servers = config.find("mcpServers");
          if (servers == config.end() || !servers->is_object()) return KeepFile{};
          bool holdsOurs = false;
          for (const auto& [_, entry] : servers->items()) holdsOurs = holdsOurs || endsWithDaemonName(entry);
          auto tinderbox = servers->find("tinderbox");
          if (!holdsOurs || tinderbox == servers->end() || !tinderbox->is_object()) return KeepFile{};
          auto command = tinderbox->find("command");
          if (command == tinderbox->end() || !command->is_string() || endsWithDaemonName(*tinderbox)) return KeepFile{};
          servers->erase("tinderbox");
          return renderClientConfigJson(config);
        },
        options_.replace);
    return outcome == ReplaceOutcome::written;
  } catch (const Error&) {
    return false;  // unreadable, refused or not written: the file stays as it was
  }
}

bool MCPInstaller::evictNativeTinderboxEntryFromCodexConfig(const std::string& path) {
  try {
    const auto outcome = replaceClientConfigFile(
        path,
        [&](const std::optional<std::string>& contents) -> ClientConfigEdit {
          if (!contents) return KeepFile{};
          auto rewritten = codexConfigWithoutForeignTinderbox(*contents);
          if (!rewritten) return KeepFile{};
          return *rewritten;
        },
        options_.replace);
    return outcome == ReplaceOutcome::written;
  } catch (const Error&) {
    return false;
  }
}

void MCPInstaller::evictNativeTinderboxEntriesIfNeeded() {
  const auto where = locations();
  std::vector<std::string> affected;
  for (const auto& path : {where.claudeCodeConfigPath(), where.claudeDesktopConfigPath(), where.geminiConfigPath(),
                           where.droidConfigPath(), where.openCodeConfigPath()}) {
    if (evictNativeTinderboxEntryFromJSONConfig(path)) affected.push_back(path);
  }
  if (evictNativeTinderboxEntryFromCodexConfig(where.codexConfigPath())) affected.push_back(where.codexConfigPath());
  if (affected.empty()) return;

  AppPreferencesStore preferences(options_.preferencesSuite, options_.environment);
  const std::string shown = preferences.stringValue(conflictAlertShownVersionKey).value_or("");
  if (shown == options_.appVersion) return;
  preferences.setStringValue(conflictAlertShownVersionKey, options_.appVersion);

  std::vector<std::string> bullets;
  for (const auto& path : affected) bullets.push_back("• " + path);
  presenter_.present({Alert::Style::informational, "Tinderbox MCP Conflict Removed",
                      "Tinderbox had registered its own built-in MCP server (\"tinderbox\") in one or more of your AI "
                      "client configs. Since Quarvel Dorarov is installed and provides the Tinderbox connection, the "
                      "conflicting entry has been removed.\n\nAffected config(s):\n" +
                          joined(bullets, "\n") +
                          "\n\nRestart any affected AI clients for the change to take effect. Future conflicts will be "
                          "fixed silently."});
}

void MCPInstaller::showError(const std::string& text) {
  presenter_.present({Alert::Style::warning, "Installation Failed", text});
}

void MCPInstaller::showSuccess(const std::string& configPath) {
  const std::string folder = options_.appFolder ? options_.appFolder->string() : std::string();
  presenter_.present({Alert::Style::informational, "Installation Complete",
                      "Quarvel Dorarov has been installed to:\n" + configPath + "\n\nConfiguration:\n• Endpoints: " +
                          joined(managedEndpointNames(), ", ") +
                          "\n• Mode: client/profile (connects to this app's daemon)\n• Command: " + folder + "/" +
                          std::string(kDaemonExecutableName) +
                          "\n\nRestart your MCP client to use the Quarvel Dorarov.\n\nDon't forget to start Quarvel "
                          "Dorarov; it runs in the system tray."});
}

void MCPInstaller::showRemovalSuccess(const std::string& configPath, const std::vector<std::string>& removedKeys) {
  presenter_.present({Alert::Style::informational, "Removal Complete",
                      "Quarvel Dorarov has been removed from:\n" + configPath + "\n\nRemoved server key(s): " +
                          joined(removedKeys, ", ") + "\n\nRestart your MCP client for changes to take effect."});
}

}  // namespace qd
