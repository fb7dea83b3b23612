#pragma once

// Which of the daemon's tools a --client process offers, and under which names. Pure
// functions of the daemon's tool list, so each profile is tested as a table.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "daemon/mcp/mcp_types.h"

namespace qd {

enum class ClientProfile { all, tinderbox, bookends, devonthink, omnifocus, routerCore, tbxNav, tbxDoc, tbxExport };

// "all", "tinderbox", "bookends", "devonthink", "omnifocus", "router-core", "tbx-nav",
// "tbx-doc", "tbx-export".
std::string_view profileName(ClientProfile profile);
std::optional<ClientProfile> profileFromName(std::string_view name);

// The value of --profile, trimmed and lower-cased; absent or no profile's name: all.
ClientProfile clientProfile(const std::vector<std::string>& args);

// A tool as the AI client sees it, and the daemon's name it is called under.
struct OfferedTool {
  MCPTool definition;
  std::string daemonName;
  bool operator==(const OfferedTool&) const = default;
};

// The tools whose names begin with `prefix`, in order, offered without it.
std::vector<OfferedTool> stripPrefixTools(const std::vector<MCPTool>& tools, std::string_view prefix);

// The 25 names the daemon answers itself or gives to its application providers; the
// "tinderbox" profile never offers them. Whole names only: "agents_x" is not one.
bool isDaemonOwnedToolName(std::string_view name);

// The twelve of those that are the router's own tools, which "router-core" offers.
bool isRouterOwnedToolName(std::string_view name);

// The daemon's tools that `profile` offers, in the daemon's order. Two may share an offered
// name; registering them in order leaves the later one.
//   all: every tool, unchanged.
//   tinderbox: "tinderbox_" names without the prefix, and, unchanged, every name that
//     begins with none of "router_", "tbx_", "bookends_", "devonthink_", "omnifocus_" and
//     is not daemon-owned.
//   router-core: "router_" names without the prefix, and the router-owned names unchanged
//     (otherwise the entry every AI client gets would offer nothing).
//   the others: the names that begin with their prefix, without it.
std::vector<OfferedTool> offeredTools(const std::vector<MCPTool>& tools, ClientProfile profile);

}  // namespace qd
