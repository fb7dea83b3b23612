#include "app/installer/client_library.h"

namespace qd {

const std::vector<ClientLibraryEntry>& ClientLibrary::stableClients() {
  static const std::vector<ClientLibraryEntry> clients = {
      {"claude_code", "Claude Code", "~/.claude.json", true},
      {"claude_desktop", "Claude Desktop", "~/.config/Claude/claude_desktop_config.json", true},
      {"codex", "Codex", "~/.codex/config.toml", true},
      {"gemini", "Google Gemini CLI", "~/.gemini/settings.json", true},
      {"droid", "Droid (Factory.ai)", "~/.factory/mcp.json", true},
      {"opencode", "OpenCode", "~/.config/opencode/opencode.json", true},
  };
  return clients;
}

}  // namespace qd
