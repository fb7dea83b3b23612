#include "daemon/utilities/tool_availability.h"

#include <array>
#include <mutex>
#include <optional>
#include <system_error>

#include "daemon/utilities/unicode_text.h"

namespace qd::ToolAvailability {
namespace {

constexpr std::array<std::string_view, 2> kBookendsPaths = {"Applications/Bookends.app",
                                                             "Applications/Setapp/Bookends.app"};
constexpr std::array<std::string_view, 2> kOmniFocusPaths = {"Applications/OmniFocus.app",
                                                              "Applications/Setapp/OmniFocus.app"};
constexpr std::array<std::string_view, 2> kDevonThinkPaths = {"Applications/DEVONthink 3.app",
                                                               "Applications/DEVONthink.app"};

const NameSet& bookendsWriteSet() {
  static const NameSet set = {"create_publication", "delete_publication", "update_publication", "create_group",
                              "add_to_group",       "remove_from_group",  "quick_add"};
  return set;
}

const NameSet& omnifocusWriteSet() {
  static const NameSet set = {"add_omnifocus_task", "add_project",     "remove_item",
                              "edit_item",          "batch_add_items", "batch_remove_items"};
  return set;
}

const NameSet& devonThinkWriteSet() {
  static const NameSet set = {"create_record",    "delete_record",        "move_record",           "create_from_url",
                              "rename_record",    "add_tags",             "remove_tags",           "classify",
                              "replicate_record", "duplicate_record",     "convert_record",        "update_record_content",
                              "set_record_properties", "create_summary_document"};
  return set;
}

constexpr std::array<std::string_view, 2> kAlwaysReadTools = {"health_check", "daemon_self_check"};
constexpr std::array<std::string_view, 3> kAlwaysWriteTools = {"tbx_doc_restart_tinderbox", "tbx_doc_open_tinderbox",
                                                               "tbx_doc_quit_tinderbox"};
constexpr std::array<std::string_view, 3> kAgentsReadOperations = {"list", "check_messages", "help"};
constexpr std::array<std::string_view, 5> kTasksReadOperations = {"list", "list_waiting_for_me", "stalled",
                                                                   "heartbeat", "help"};
constexpr std::array<std::string_view, 3> kJobsReadOperations = {"list", "status", "help"};
constexpr std::array<std::string_view, 10> kAppleWriteWords = {"create", "add",  "update",  "delete",   "send",
                                                               "reply",  "move", "archive", "complete", "mark"};
constexpr std::array<std::string_view, 5> kReadFragments = {"get_", "list_", "search_", "export_", "lookup_"};
constexpr std::array<std::string_view, 6> kWriteFragments = {"create_", "delete_", "add_",
                                                              "remove_", "send_",   "notify"};

template <std::size_t N>
bool isOneOf(std::string_view value, const std::array<std::string_view, N>& words) {
  for (std::string_view word : words) {
    if (value == word) return true;
  }
  return false;
}

template <std::size_t N>
bool containsAny(std::string_view value, const std::array<std::string_view, N>& fragments) {
  for (std::string_view fragment : fragments) {
    if (value.find(fragment) != std::string_view::npos) return true;
  }
  return false;
}

template <std::size_t N>
bool appExists(const std::filesystem::path& root, const std::array<std::string_view, N>& paths) {
  for (std::string_view relative : paths) {
    std::error_code ec;
    if (std::filesystem::exists(root / relative, ec)) return true;
  }
  return false;
}

// The call's operation: the "operation" argument when it is a string, lower-cased; else "".
std::string operationOf(const Json& arguments) {
  if (!arguments.is_object()) return {};
  auto it = arguments.find("operation");
  if (it == arguments.end() || !it->is_string()) return {};
  return unicode::lowercased(it->get_ref<const std::string&>());
}

std::optional<std::string> helperToolCapability(std::string_view toolName, const Json& arguments) {
  const auto readWhen = [](bool reads) { return std::string(reads ? "read" : "write"); };
  if (toolName == "agents") return readWhen(isOneOf(operationOf(arguments), kAgentsReadOperations));
  if (toolName.starts_with("time_")) return std::string("read");
  if (toolName == "workstreams") return readWhen(operationOf(arguments) == "list");
  if (toolName == "tasks") return readWhen(isOneOf(operationOf(arguments), kTasksReadOperations));
  if (toolName == "jobs") return readWhen(isOneOf(operationOf(arguments), kJobsReadOperations));
  return std::nullopt;
}

std::optional<std::string> categoryCapability(std::string_view toolName, std::string_view category,
                                              const Json& arguments) {
  const auto byWriteSet = [&](const NameSet& writes) {
    return std::string(writes.contains(toolName) ? "write" : "read");
  };
  if (category == "bookends") return byWriteSet(bookendsWriteSet());
  if (category == "omnifocus") return byWriteSet(omnifocusWriteSet());
  if (category == "devonthink") return byWriteSet(devonThinkWriteSet());
  // Apple write words count anywhere inside the operation, also within a longer word.
  if (category == "apple") return std::string(containsAny(operationOf(arguments), kAppleWriteWords) ? "write" : "read");
  if (category == "atbref") return std::string("read");
  return std::nullopt;
}

std::mutex& rootMutex() {
  static std::mutex mutex;
  return mutex;
}

std::filesystem::path& rootStorage() {
  static std::filesystem::path root("/");
  return root;
}

}  // namespace

const NameSet& bookendsTools() {
  static const NameSet set = {"get_library_info",  "get_selected_publications", "sql_search",
                              "search_by_title",   "search_by_author",          "search_by_keywords",
                              "search_all_fields", "search_by_year",            "search_by_journal",
                              "search_by_publisher", "search_by_notes",         "search_by_doi"};
  return set;
}

const NameSet& omnifocusTools() {
  static const NameSet set = {"dump_database",      "add_omnifocus_task", "add_project",     "remove_item",
                              "edit_item",          "batch_add_items",    "batch_remove_items", "query_omnifocus",
                              "list_perspectives",  "get_perspective_view"};
  return set;
}

const NameSet& devonThinkTools() {
  static const NameSet set = {
      "is_running",         "create_record",         "delete_record",          "move_record",
      "get_record_properties", "get_record_by_identifier", "search",           "lookup_record",
      "create_from_url",    "get_open_databases",    "list_group_content",     "get_record_content",
      "rename_record",      "add_tags",              "remove_tags",            "classify",
      "compare",            "current_database",      "selected_records",       "replicate_record",
      "duplicate_record",   "convert_record",        "update_record_content",  "set_record_properties",
      "ask_ai_about_documents", "check_ai_health",   "create_summary_document", "get_ai_tool_documentation"};
  return set;
}

const NameSet& appleTools() {
  static const NameSet set = {"contacts", "notes", "messages", "mail", "reminders", "calendar", "maps"};
  return set;
}

const NameSet& atbrefTools() {
  static const NameSet set = {"search_atbref",      "get_atbref_page",     "list_atbref_topics", "lookup_operator",
                              "lookup_attribute",   "lookup_designator",   "lookup_date_format", "get_operators_list",
                              "get_attributes_list", "get_designators",    "get_date_formats"};
  return set;
}

const NameSet& timeTools() {
  static const NameSet set = {"time_now", "time_convert"};
  return set;
}

const NameSet& routerTools() {
  static const NameSet set = {"health_check", "daemon_self_check", "identify",   "notify",      "agents",
                              "tasks",        "jobs",              "sync_claude_hook", "log_message", "workstreams",
                              "print_document"};
  return set;
}

std::filesystem::path installRoot() {
  std::lock_guard lock(rootMutex());
  return rootStorage();
}

void setInstallRoot(std::filesystem::path root) {
  std::lock_guard lock(rootMutex());
  rootStorage() = std::move(root);
}

bool isBookendsInstalled(const std::filesystem::path& root) { return appExists(root, kBookendsPaths); }
bool isOmniFocusInstalled(const std::filesystem::path& root) { return appExists(root, kOmniFocusPaths); }
bool isDevonThinkInstalled(const std::filesystem::path& root) { return appExists(root, kDevonThinkPaths); }

bool isAvailable(std::string_view toolName, const std::filesystem::path& root) {
  if (bookendsTools().contains(toolName)) return isBookendsInstalled(root);
  if (omnifocusTools().contains(toolName)) return isOmniFocusInstalled(root);
  if (devonThinkTools().contains(toolName)) return isDevonThinkInstalled(root);
  return true;
}

std::string appCategory(std::string_view toolName) {
  if (bookendsTools().contains(toolName)) return "bookends";
  if (omnifocusTools().contains(toolName)) return "omnifocus";
  if (devonThinkTools().contains(toolName)) return "devonthink";
  if (appleTools().contains(toolName)) return "apple";
  if (atbrefTools().contains(toolName)) return "atbref";
  if (timeTools().contains(toolName)) return "time";
  if (routerTools().contains(toolName)) return "router";
  return "tinderbox";
}

std::string capability(std::string_view toolName, const Json& arguments) {
  if (isOneOf(toolName, kAlwaysReadTools)) return "read";
  if (isOneOf(toolName, kAlwaysWriteTools)) return "write";
  if (auto answer = helperToolCapability(toolName, arguments)) return *answer;
  if (auto answer = categoryCapability(toolName, appCategory(toolName), arguments)) return *answer;
  // Read fragments first: a name holding both kinds reads.
  if (containsAny(toolName, kReadFragments)) return "read";
  if (containsAny(toolName, kWriteFragments)) return "write";
  return "readwrite";
}

}  // namespace qd::ToolAvailability
