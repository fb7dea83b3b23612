#pragma once

// The rules behind the settings window's tool list, as plain functions over a catalog:
// which tools are shown, each tool's category, the order of categories and tools, the hint
// line of a category, and whether a tool's application is installed. The view model's
// catalogue operations call these with its own state; nothing is cached, and the install
// checks look at the file system on every call.

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/settings/tool_metadata.h"

namespace qd::ToolCatalogue {

using NameSet = std::set<std::string, std::less<>>;
using Catalog = std::map<std::string, ToolMetadata>;
using Group = std::pair<std::string, std::vector<std::string>>;

const NameSet& routerCoreTools();          // 2
const NameSet& agentCoordinationTools();   // 17
const NameSet& releaseTierHiddenTools();   // 25
const std::map<std::string, std::string, std::less<>>& appleToolCategories();  // 7
const std::map<std::string, int, std::less<>>& groupSortPriority();            // 6
const std::map<std::string, std::string, std::less<>>& appGroupHints();        // 7

// "Bookends", "OmniFocus", "DEVONthink": the application's paths in lookup order, each
// relative to the install root (e.g. "Applications/Bookends.app"); empty otherwise.
std::vector<std::filesystem::path> applicationPaths(std::string_view category);

// The tier of the application: "release" counts only when exactly that word.
bool isReleaseTier(std::string_view featureTier);

// The catalog's names, less the hidden ones in the release tier, in code-point order.
std::vector<std::string> toolNames(const Catalog& catalog, std::string_view featureTier);
// The catalog's non-empty group, else the fixed rules (first match wins).
std::string category(const Catalog& catalog, const std::string& toolName);
// Categories by priority, then case-insensitively (localized), then by code point; tools
// by code point. The release tier drops "Agent Coordination" too.
std::vector<Group> groupedTools(const Catalog& catalog, std::string_view featureTier);
// The operations of the tool's catalog entry, in catalog order; empty when none.
std::vector<std::string> operations(const Catalog& catalog, const std::string& toolName);
// "<tool>.<operation>"
std::string operationKey(std::string_view toolName, std::string_view operation);

// True at the first path that exists below the root; false for none or an empty list.
bool appExists(const std::vector<std::filesystem::path>& paths, const std::filesystem::path& root);
bool isToolAvailable(const Catalog& catalog, const std::string& toolName, const std::filesystem::path& root);
// "<App>.app not installed" for an application tool whose application is missing.
std::optional<std::string> unavailableReason(const Catalog& catalog, const std::string& toolName,
                                             const std::filesystem::path& root);
std::optional<std::string> groupHint(std::string_view category, const std::filesystem::path& root);

}  // namespace qd::ToolCatalogue
