#pragma once

// Where each AI client keeps its MCP configuration, and the install ledger: the record of
// the installs this application made (client-installs.json, a compact JSON array).

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/environment.h"

namespace qd {

struct InstallLocation {
  std::string clientKey;
  std::string scope;  // "user" for every location the application makes
  std::string path;

  bool operator==(const InstallLocation&) const = default;
};

// "codex_cli" and "codex_desktop" are "codex", "gemini_cli" is "gemini"; other keys as given.
std::string normalizedClientKey(std::string_view clientKey);

// The paths, computed on every call from HOME and the XDG variables of the environment.
class ClientConfigLocations {
 public:
  explicit ClientConfigLocations(platform::Environment env) : env_(std::move(env)) {}

  std::string claudeCodeConfigPath() const;     // ~/.claude.json
  std::string claudeDesktopConfigPath() const;  // $XDG_CONFIG_HOME/Claude/claude_desktop_config.json
  std::string codexConfigPath() const;          // ~/.codex/config.toml
  std::string geminiConfigPath() const;         // ~/.gemini/settings.json
  std::string droidConfigPath() const;          // ~/.factory/mcp.json
  std::string openCodeConfigPath() const;       // $XDG_CONFIG_HOME/opencode/opencode.json
  std::string installLedgerPath() const;        // $XDG_DATA_HOME/QuarvelDorarov/client-installs.json

  // One location (the key as given, scope "user") for each key of the client table; an
  // empty list for any other key, "codex_cli" and "custom" included.
  std::vector<InstallLocation> defaultLocations(std::string_view clientKey) const;

  const platform::Environment& environment() const { return env_; }

 private:
  platform::Environment env_;
};

// The install ledger. No operation fails: a ledger that cannot be read or decoded counts
// as empty, and a ledger that cannot be written stays as it was.
class InstallLedger {
 public:
  explicit InstallLedger(std::filesystem::path file) : file_(std::move(file)) {}

  // The rows, oldest first; empty when the file is missing or anything in it is malformed.
  std::vector<InstallLocation> load() const;
  // Replaces the row of the same (normalised) key and path, whatever its scope, with this
  // one at the end.
  void upsert(const InstallLocation& location) const;
  // Drops the rows of this path and (normalised) key; with the key "custom", every row of
  // the path. Writes the ledger even when nothing was dropped.
  void remove(const std::string& path, const std::string& clientKey) const;
  void save(const std::vector<InstallLocation>& rows) const;

 private:
  std::filesystem::path file_;
};

}  // namespace qd
