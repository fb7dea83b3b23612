#include "daemon/cli/client_profile.h"

#include <array>
#include <utility>

#include "daemon/cli/arguments.h"
#include "daemon/runtime/text_trim.h"
#include "daemon/utilities/unicode_text.h"

namespace qd {
namespace {

constexpr std::array<std::pair<ClientProfile, std::string_view>, 9> kProfileNames{{
    {ClientProfile::all, "all"},
    {ClientProfile::tinderbox, "tinderbox"},
    {ClientProfile::bookends, "bookends"},
    {ClientProfile::devonthink, "devonthink"},
    {ClientProfile::omnifocus, "omnifocus"},
    {ClientProfile::routerCore, "router-core"},
    {ClientProfile::tbxNav, "tbx-nav"},
    {ClientProfile::tbxDoc, "tbx-doc"},
    {ClientProfile::tbxExport, "tbx-export"},
}};

// The router's own tools come first, so the first twelve are the router-owned ones.
constexpr std::array<std::string_view, 25> kDaemonOwnedNames{
    "health_check", "daemon_self_check", "queue_status", "identify", "agents",     "notify",   "log_message",
    "sync_claude_hook", "print_document", "tasks",   "workstreams", "jobs",     "atbref",     "bookends", "devonthink",
    "omnifocus",    "time_now",          "time_convert", "contacts", "notes",      "messages", "mail",
    "reminders",    "calendar",          "maps"};
constexpr std::size_t kRouterOwnedCount = 12;

constexpr std::array<std::string_view, 5> kExcludedFromTinderbox{"router_", "tbx_", "bookends_", "devonthink_",
                                                                  "omnifocus_"};

bool startsWith(std::string_view name, std::string_view prefix) { return name.substr(0, prefix.size()) == prefix; }

OfferedTool offeredAs(const MCPTool& tool, std::string offeredName) {
  OfferedTool offered{tool, tool.name};
  offered.definition.name = std::move(offeredName);
  return offered;
}

// A name the "tinderbox" profile offers as it is: none of the other profiles' prefixes and
// not one the daemon owns.
bool isTinderboxPassThrough(std::string_view name) {
  for (std::string_view other : kExcludedFromTinderbox) {
    if (startsWith(name, other)) return false;
  }
  return !isDaemonOwnedToolName(name);
}

std::string_view prefixOf(ClientProfile profile) {
  switch (profile) {
    case ClientProfile::bookends: return "bookends_";
    case ClientProfile::devonthink: return "devonthink_";
    case ClientProfile::omnifocus: return "omnifocus_";
    case ClientProfile::routerCore: return "router_";
    case ClientProfile::tbxNav: return "tbx_nav_";
    case ClientProfile::tbxDoc: return "tbx_doc_";
    case ClientProfile::tbxExport: return "tbx_export_";
    case ClientProfile::tinderbox: return "tinderbox_";
    case ClientProfile::all: break;
  }
  return "";
}

}  // namespace

std::string_view profileName(ClientProfile profile) {
  for (const auto& [value, name] : kProfileNames) {
    if (value == profile) return name;
  }
  return "all";
}

std::optional<ClientProfile> profileFromName(std::string_view name) {
  for (const auto& [value, known] : kProfileNames) {
    if (known == name) return value;
  }
  return std::nullopt;
}

ClientProfile clientProfile(const std::vector<std::string>& args) {
  const auto value = argumentValue("--profile", args);
  if (!value) return ClientProfile::all;
  return profileFromName(unicode::lowercased(trimWhitespaceAndNewlines(*value))).value_or(ClientProfile::all);
}

std::vector<OfferedTool> stripPrefixTools(const std::vector<MCPTool>& tools, std::string_view prefix) {
  std::vector<OfferedTool> out;
  for (const MCPTool& tool : tools) {
    if (startsWith(tool.name, prefix)) out.push_back(offeredAs(tool, tool.name.substr(prefix.size())));
  }
  return out;
}

bool isDaemonOwnedToolName(std::string_view name) {
  for (std::string_view owned : kDaemonOwnedNames) {
    if (owned == name) return true;
  }
  return false;
}

bool isRouterOwnedToolName(std::string_view name) {
  for (std::size_t i = 0; i < kRouterOwnedCount; ++i) {
    if (kDaemonOwnedNames[i] == name) return true;
  }
  return false;
}

std::vector<OfferedTool> offeredTools(const std::vector<MCPTool>& tools, ClientProfile profile) {
  std::vector<OfferedTool> out;
  if (profile == ClientProfile::all) {
    for (const MCPTool& tool : tools) out.push_back(offeredAs(tool, tool.name));
    return out;
  }
  // Besides their prefix, two profiles keep some other names as they are.
  bool (*keptUnchanged)(std::string_view) = nullptr;
  if (profile == ClientProfile::tinderbox) keptUnchanged = isTinderboxPassThrough;
  if (profile == ClientProfile::routerCore) keptUnchanged = isRouterOwnedToolName;
  const std::string_view prefix = prefixOf(profile);
  for (const MCPTool& tool : tools) {
    if (startsWith(tool.name, prefix)) {
      out.push_back(offeredAs(tool, tool.name.substr(prefix.size())));
    } else if (keptUnchanged && keptUnchanged(tool.name)) {
      out.push_back(offeredAs(tool, tool.name));
    }
  }
  return out;
}

}  // namespace qd
