#include "app/settings/tool_catalogue.h"

#include <QCollator>
#include <QString>

#include <algorithm>
#include <climits>

namespace qd::ToolCatalogue {
namespace {

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

const ToolMetadata* entry(const Catalog& catalog, const std::string& toolName) {
  auto it = catalog.find(toolName);
  return it == catalog.end() ? nullptr : &it->second;
}

struct Application {
  std::string_view category;
  std::vector<std::filesystem::path> paths;
};

const std::vector<Application>& applications() {
  static const std::vector<Application> table{
      {"Bookends", {"Applications/Bookends.app", "Applications/Setapp/Bookends.app"}},
      {"OmniFocus", {"Applications/OmniFocus.app", "Applications/Setapp/OmniFocus.app"}},
      {"DEVONthink", {"Applications/DEVONthink 3.app", "Applications/DEVONthink.app"}},
  };
  return table;
}

const Application* applicationOf(std::string_view category) {
  for (const Application& app : applications()) {
    if (app.category == category) return &app;
  }
  return nullptr;
}

int priority(const std::string& category) {
  const auto& table = groupSortPriority();
  auto it = table.find(category);
  return it == table.end() ? INT_MAX : it->second;
}

}  // namespace

const NameSet& routerCoreTools() {
  static const NameSet set{"health_check", "daemon_self_check"};
  return set;
}

const NameSet& agentCoordinationTools() {
  static const NameSet set{"identify",           "notify",           "agents_message",       "agents_check_messages",
                           "log_message",        "agents",           "agents_quit",          "agents_start_task",
                           "agents_update_task", "agents_complete_task", "workstreams_start", "workstreams_update",
                           "workstreams_complete", "workstreams_list", "tasks",              "jobs",
                           "sync_claude_hook"};
  return set;
}

const NameSet& releaseTierHiddenTools() {
  static const NameSet set{"identify",          "notify",           "agents",
                           "log_message",       "sync_claude_hook", "tasks",
                           "workstreams",       "jobs",             "agents_message",
                           "agents_check_messages", "agents_quit",  "agents_start_task",
                           "agents_update_task", "agents_complete_task", "workstreams_start",
                           "workstreams_update", "workstreams_complete", "workstreams_list",
                           "contacts",          "notes",            "messages",
                           "mail",              "reminders",        "calendar",
                           "maps"};
  return set;
}

const std::map<std::string, std::string, std::less<>>& appleToolCategories() {
  static const std::map<std::string, std::string, std::less<>> table{
      {"contacts", "Apple Apps: Contacts"},   {"notes", "Apple Apps: Notes"},
      {"messages", "Apple Apps: Messages"},   {"mail", "Apple Apps: Mail"},
      {"reminders", "Apple Apps: Reminders"}, {"calendar", "Apple Apps: Calendar"},
      {"maps", "Apple Apps: Maps"},
  };
  return table;
}

const std::map<std::string, int, std::less<>>& groupSortPriority() {
  static const std::map<std::string, int, std::less<>> table{
      {"Router Core", 0},    {"Agent Coordination", 1}, {"Tinderbox Core", 2},
      {"TBX Navigation", 3}, {"TBX Document", 4},       {"TBX Export", 5},
  };
  return table;
}

const std::map<std::string, std::string, std::less<>>& appGroupHints() {
  static const std::map<std::string, std::string, std::less<>> table{
      {"Apple Apps: Contacts", "Find and list contacts with phone numbers. Requires Automation permission."},
      {"Apple Apps: Notes", "Search, list, and create notes. Requires Automation permission."},
      {"Apple Apps: Messages", "Send and read messages. Requires Automation + Full Disk Access permissions."},
      {"Apple Apps: Mail", "Search, read, and send email. Requires Automation permission."},
      {"Apple Apps: Reminders", "Manage reminders and lists. Requires Automation + Reminders permissions."},
      {"Apple Apps: Calendar", "Create and search calendar events. Requires Automation + Calendar permissions."},
      {"Apple Apps: Maps", "Search locations and get directions. Requires Automation permission."},
  };
  return table;
}

std::vector<std::filesystem::path> applicationPaths(std::string_view category) {
  const Application* app = applicationOf(category);
  return app ? app->paths : std::vector<std::filesystem::path>{};
}

bool isReleaseTier(std::string_view featureTier) { return featureTier == "release"; }

std::vector<std::string> toolNames(const Catalog& catalog, std::string_view featureTier) {
  const bool release = isReleaseTier(featureTier);
  std::vector<std::string> names;
  names.reserve(catalog.size());
  for (const auto& [name, metadata] : catalog) {
    if (release && releaseTierHiddenTools().count(name)) continue;
    names.push_back(name);
  }
  return names;  // the catalog map iterates in byte order, which is code-point order in UTF-8
}

std::string category(const Catalog& catalog, const std::string& toolName) {
  if (const ToolMetadata* m = entry(catalog, toolName); m && m->group && !m->group->empty()) return *m->group;
  if (routerCoreTools().count(toolName)) return "Router Core";
  if (agentCoordinationTools().count(toolName)) return "Agent Coordination";
  if (startsWith(toolName, "tbx_nav")) return "TBX Navigation";
  if (startsWith(toolName, "tbx_doc")) return "TBX Document";
  if (startsWith(toolName, "tbx_export")) return "TBX Export";
  if (auto it = appleToolCategories().find(toolName); it != appleToolCategories().end()) return it->second;
  if (toolName == "atbref") return "ATBRef";
  if (startsWith(toolName, "tinderbox_")) return "Tinderbox Core";
  if (startsWith(toolName, "time_")) return "Time";
  return "Router Core";
}

std::vector<Group> groupedTools(const Catalog& catalog, std::string_view featureTier) {
  const bool release = isReleaseTier(featureTier);
  std::map<std::string, std::vector<std::string>> byCategory;
  for (std::string& name : toolNames(catalog, featureTier)) {
    std::string group = category(catalog, name);
    if (release && group == "Agent Coordination") continue;
    byCategory[std::move(group)].push_back(std::move(name));  // names arrive sorted
  }

  // Sort keys are made once per category, not once per comparison. The names are case
  // folded first: in the C locale the collator compares code points and ignores its case
  // setting.
  // Opening a collator costs more than grouping a thousand tools; one per thread is kept.
  thread_local QCollator collator = [] {
    QCollator c;
    c.setCaseSensitivity(Qt::CaseInsensitive);
    return c;
  }();
  struct Keyed {
    int priority;
    QCollatorSortKey key;
    Group group;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(byCategory.size());
  for (auto& [name, tools] : byCategory) {
    keyed.push_back(Keyed{priority(name), collator.sortKey(QString::fromStdString(name).toCaseFolded()), Group{name, std::move(tools)}});
  }
  std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
    if (a.priority != b.priority) return a.priority < b.priority;
    if (int c = a.key.compare(b.key); c != 0) return c < 0;
    return a.group.first < b.group.first;
  });
  std::vector<Group> out;
  out.reserve(keyed.size());
  for (Keyed& k : keyed) out.push_back(std::move(k.group));
  return out;
}

std::vector<std::string> operations(const Catalog& catalog, const std::string& toolName) {
  const ToolMetadata* m = entry(catalog, toolName);
  return m && m->operations ? *m->operations : std::vector<std::string>{};
}

std::string operationKey(std::string_view toolName, std::string_view operation) {
  std::string key(toolName);
  key += '.';
  key += operation;
  return key;
}

bool appExists(const std::vector<std::filesystem::path>& paths, const std::filesystem::path& root) {
  for (const std::filesystem::path& path : paths) {
    std::error_code error;
    if (std::filesystem::exists(root / path, error)) return true;
  }
  return false;
}

bool isToolAvailable(const Catalog& catalog, const std::string& toolName, const std::filesystem::path& root) {
  const Application* app = applicationOf(category(catalog, toolName));
  return !app || appExists(app->paths, root);
}

std::optional<std::string> unavailableReason(const Catalog& catalog, const std::string& toolName,
                                             const std::filesystem::path& root) {
  const Application* app = applicationOf(category(catalog, toolName));
  if (!app || appExists(app->paths, root)) return std::nullopt;
  return std::string(app->category) + ".app not installed";
}

std::optional<std::string> groupHint(std::string_view category, const std::filesystem::path& root) {
  if (auto it = appGroupHints().find(category); it != appGroupHints().end()) return it->second;
  if (const Application* app = applicationOf(category)) {
    const std::string name(app->category);
    if (appExists(app->paths, root)) return name + " detected.";
    return "Install " + name + ".app to enable these tools.";
  }
  if (startsWith(category, "TBX ") || category == "Tinderbox Core" || category == "Tinderbox") {
    return "Requires Tinderbox app access plus macOS Automation permission.";
  }
  return std::nullopt;
}

}  // namespace qd::ToolCatalogue
