#include "app/installer/install_locations.h"

#include "daemon/utilities/atomic_file.h"
#include "daemon/utilities/json.h"
#include "platform/user_folders.h"

namespace qd {

std::string normalizedClientKey(std::string_view clientKey) {
  if (clientKey == "codex_cli" || clientKey == "codex_desktop") return "codex";
  if (clientKey == "gemini_cli") return "gemini";
  return std::string(clientKey);
}

std::string ClientConfigLocations::claudeCodeConfigPath() const {
  return (platform::homeDirectory(env_) / ".claude.json").string();
}

std::string ClientConfigLocations::claudeDesktopConfigPath() const {
  return (platform::configHomeDirectory(env_) / "Claude" / "claude_desktop_config.json").string();
}

std::string ClientConfigLocations::codexConfigPath() const {
  return (platform::homeDirectory(env_) / ".codex" / "config.toml").string();
}

std::string ClientConfigLocations::geminiConfigPath() const {
  return (platform::homeDirectory(env_) / ".gemini" / "settings.json").string();
}

std::string ClientConfigLocations::droidConfigPath() const {
  return (platform::homeDirectory(env_) / ".factory" / "mcp.json").string();
}

std::string ClientConfigLocations::openCodeConfigPath() const {
  return (platform::configHomeDirectory(env_) / "opencode" / "opencode.json").string();
}

std::string ClientConfigLocations::installLedgerPath() const {
  return (platform::applicationSupportDirectory(env_) / "client-installs.json").string();
}

std::vector<InstallLocation> ClientConfigLocations::defaultLocations(std::string_view clientKey) const {
  std::string path;
  if (clientKey == "claude_code") path = claudeCodeConfigPath();
  else if (clientKey == "claude_desktop") path = claudeDesktopConfigPath();
  else if (clientKey == "codex") path = codexConfigPath();
  else if (clientKey == "gemini") path = geminiConfigPath();
  else if (clientKey == "droid") path = droidConfigPath();
  else if (clientKey == "opencode") path = openCodeConfigPath();
  else return {};
  return {InstallLocation{std::string(clientKey), "user", std::move(path)}};
}

std::vector<InstallLocation> InstallLedger::load() const {
  try {
    auto text = readFileIfPresent(file_);
    if (!text) return {};
    const Json rows = parseJson(*text);
    if (!rows.is_array()) return {};
    std::vector<InstallLocation> out;
    for (const Json& row : rows) {
      auto field = [&](const char* key) -> const Json* {
        if (!row.is_object()) return nullptr;
        auto it = row.find(key);
        return it != row.end() && it->is_string() ? &*it : nullptr;
      };
      const Json* key = field("clientKey");
      const Json* scope = field("scope");
      const Json* path = field("path");
      if (!key || !scope || !path) return {};  // one bad row makes the whole ledger unusable
      out.push_back({key->get<std::string>(), scope->get<std::string>(), path->get<std::string>()});
    }
    return out;
  } catch (const Error&) {
    return {};
  }
}

void InstallLedger::upsert(const InstallLocation& location) const {
  const std::string key = normalizedClientKey(location.clientKey);
  std::vector<InstallLocation> rows;
  for (auto& row : load()) {
    if (row.clientKey != key || row.path != location.path) rows.push_back(std::move(row));
  }
  rows.push_back({key, location.scope, location.path});
  save(rows);
}

void InstallLedger::remove(const std::string& path, const std::string& clientKey) const {
  const std::string key = normalizedClientKey(clientKey);
  std::vector<InstallLocation> rows;
  for (auto& row : load()) {
    const bool matches = row.path == path && (key == "custom" || row.clientKey == key);
    if (!matches) rows.push_back(std::move(row));
  }
  save(rows);
}

void InstallLedger::save(const std::vector<InstallLocation>& rows) const {
  Json out = Json::array();
  for (const auto& row : rows) out.push_back({{"clientKey", row.clientKey}, {"scope", row.scope}, {"path", row.path}});
  try {
    writeFileAtomically(file_, dumpJson(out), AtomicWriteOptions().creatingFolder());
  } catch (const Error&) {
    // The ledger is the application's own note; a client file that was edited stays edited.
  }
}

}  // namespace qd
