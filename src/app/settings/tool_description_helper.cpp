#include "app/settings/tool_description_helper.h"

#include <map>

namespace qd::ToolDescriptionHelper {
namespace {

bool contains(const std::string& name, std::string_view word) { return name.find(word) != std::string::npos; }

const std::map<std::string, std::string, std::less<>>& fallbackDescriptions() {
  static const std::map<std::string, std::string, std::less<>> table{
      {"health_check", "Get bridge health, uptime, connection state, and queue metrics."},
      {"daemon_self_check", "Inspect daemon runtime state, socket/lock/pid/health files, and queue activity."},
      {"tbx_nav", "Tinderbox URL, navigation, view selection, and image-capture operations."},
      {"tbx_doc", "Tinderbox document, window, and app lifecycle operations."},
      {"tbx_export", "Tinderbox export and print operations."},
      {"identify", "Register your agent name for bridge logging and messaging."},
      {"notify", "Queue message data for agent(s); use '*' or 'all' to broadcast."},
      {"agents_message", "Send a direct message to another agent. Delivered when that agent next checks messages."},
      {"agents_check_messages", "Check your message inbox and dequeue pending messages."},
      {"log_message", "Write a trace/log entry for user visibility."},
      {"agents", "List currently connected/registered agents."},
      {"agents_quit", "Log graceful shutdown."},
      {"agents_start_task", "Start a task for logging/traceability."},
      {"agents_update_task", "Update task status for logging/traceability."},
      {"agents_complete_task", "Mark task complete for logging/traceability."},
      {"workstreams_start", "Start a workstream for user-visible coordination."},
      {"workstreams_update", "Update workstream status for user-visible coordination."},
      {"workstreams_complete", "Mark workstream complete."},
      {"workstreams_list", "List active/recent workstreams."},
      {"sync_claude_hook", "Internal hook sync entrypoint used by local Claude hook script."},
      {"time_now", "Get current local time (defaults to America/Halifax)."},
      {"time_convert", "Convert current time between timezones."},
      {"contacts", "Search and retrieve contacts from Apple Contacts app."},
      {"notes", "Search, list, and create Apple Notes."},
      {"messages", "Send/read/check unread Apple Messages."},
      {"mail", "Read/search/send Apple Mail."},
      {"reminders", "List/search/create/open Reminders."},
      {"calendar", "Search/list/create/open Calendar events."},
      {"maps", "Search and basic directions with Apple Maps."},
  };
  return table;
}

}  // namespace

std::string toolDescription(const std::string& name, const ToolMetadataFetcher& fetcher) {
  if (auto live = fetcher.getDescription(name)) return *live;
  return toolDescriptionFallback(name);
}

std::string toolDescriptionFallback(const std::string& name) {
  if (auto it = fallbackDescriptions().find(name); it != fallbackDescriptions().end()) return it->second;
  if (contains(name, "create")) return "Create new item";
  if (contains(name, "get") || contains(name, "list") || contains(name, "search")) return "Read data";
  if (contains(name, "update") || contains(name, "modify")) return "Modify existing item";
  if (contains(name, "delete") || contains(name, "remove")) return "Delete item";
  if (contains(name, "export")) return "Export data";
  return "Tool for " + categoryName(name);
}

std::string categoryName(const std::string& name) {
  if (contains(name, "bookends")) return "Bookends";
  if (contains(name, "omnifocus")) return "OmniFocus";
  if (contains(name, "devonthink")) return "DEVONthink";
  if (contains(name, "atbref")) return "ATBRef reference";
  return "Tinderbox";
}

}  // namespace qd::ToolDescriptionHelper
