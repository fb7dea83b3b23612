#include "app/settings/tool_schema.h"

#include <set>

#include "app/settings/tool_description_helper.h"

namespace qd::ToolSchema {
namespace {

ToolParameter row(std::string name, std::string type, bool required, std::string description) {
  return ToolParameter{std::move(name), std::move(type), std::move(description), required};
}

ToolParameter text(std::string name, bool required, std::string description) {
  return row(std::move(name), "string", required, std::move(description));
}

ToolParameter object(std::string name, bool required, std::string description) {
  return row(std::move(name), "object", required, std::move(description));
}

ToolParameter optionalMetadata() { return object("metadata", false, "Optional metadata"); }

}  // namespace

const std::vector<ToolParameter>& genericOperationParameters() {
  static const std::vector<ToolParameter> rows{text("operation", true, "Operation type (search, list, create, etc.)")};
  return rows;
}

const std::map<std::string, std::vector<ToolParameter>>& fallbackParameters() {
  static const std::map<std::string, std::vector<ToolParameter>> table{
      {"health_check", {}},
      {"daemon_self_check", {}},
      {"agents", {}},
      {"workstreams_list", {}},
      {"agents_check_messages", {}},
      {"tbx_nav",
       {text("operation", true,
             "Operation: build_tinderbox_note_url, open_tinderbox_url, navigate_to_note, navigate_to_note_view, "
             "note_exists, set_tinderbox_view, select_tinderbox_note, copy_tinderbox_view")}},
      {"tbx_doc",
       {text("operation", true,
             "Operation: open_tinderbox_document, save_tinderbox_document, close_tinderbox_document, "
             "list_tinderbox_windows, refresh_tinderbox_document, restart_tinderbox, open_tinderbox, quit_tinderbox")}},
      {"tbx_export", genericOperationParameters()},
      {"identify", {text("agentName", true, "Your agent's unique name")}},
      {"notify", {text("agents", true, "Agent name or '*' for broadcast"), object("data", true, "Message data payload")}},
      {"agents_message",
       {text("to", true, "Recipient agent name"), text("message", true, "Message text"), optionalMetadata()}},
      {"log_message",
       {text("title", false, "Short log title"), text("message", false, "Log message"),
        text("level", false, "info|warn|error"), text("source", false, "Event source")}},
      {"agents_quit", {text("reason", false, "Reason for quitting")}},
      {"agents_start_task",
       {text("taskId", true, "Task identifier"), text("title", false, "Task title"), optionalMetadata()}},
      {"agents_update_task",
       {text("taskId", true, "Task identifier"), text("status", false, "Task status"), optionalMetadata()}},
      {"agents_complete_task", {text("taskId", true, "Task identifier"), optionalMetadata()}},
      {"workstreams_start",
       {text("id", true, "Workstream identifier"), text("name", false, "Workstream name"), optionalMetadata()}},
      {"workstreams_update",
       {text("id", true, "Workstream identifier"), text("status", false, "Workstream status"), optionalMetadata()}},
      {"workstreams_complete", {text("id", true, "Workstream identifier"), optionalMetadata()}},
      {"sync_claude_hook", {text("payloadJSON", true, "Raw hook JSON payload as a string")}},
      {"time_now", {text("timezone", false, "Timezone ID (defaults to America/Halifax)")}},
      {"time_convert",
       {text("fromTimezone", false, "Source timezone (defaults to America/Halifax)"),
        text("toTimezone", true, "Target timezone")}},
  };
  return table;
}

bool isLiveData(const std::string& toolName, const ToolMetadataFetcher& fetcher) {
  return fetcher.toolMetadata().count(toolName) > 0;
}

std::vector<ToolParameter> parameters(const std::string& toolName, const ToolMetadataFetcher& fetcher) {
  if (auto live = fetcher.getParameters(toolName)) {
    std::vector<ToolParameter> rows;
    rows.reserve(live->size());
    for (const ToolMetadata::ToolParameter& p : *live) rows.push_back(row(p.name, p.type, p.required, p.description));
    return rows;
  }
  if (auto it = fallbackParameters().find(toolName); it != fallbackParameters().end()) return it->second;
  static const std::set<std::string, std::less<>> appleTools{"contacts", "notes",    "messages", "mail",
                                                             "reminders", "calendar", "maps"};
  if (appleTools.count(toolName)) return genericOperationParameters();
  return {};
}

std::string shownDescription(const std::string& toolName, const ToolMetadataFetcher& fetcher) {
  if (auto live = fetcher.getDescription(toolName)) return *live;
  return ToolDescriptionHelper::toolDescriptionFallback(toolName);
}

}  // namespace qd::ToolSchema
