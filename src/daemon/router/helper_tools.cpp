// The router's own helper tools: their definitions and which of them are offered, and the
// provider tools offered beside them.

#include "daemon/logging/logger.h"
#include "daemon/router/router.h"
#include "daemon/router/router_internal.h"
#include "daemon/utilities/tool_availability.h"

namespace qd {
namespace {

using Property = std::pair<std::string, Json>;

Json property(const char* type, const char* description) {
  return Json{{"type", type}, {"description", description}};
}
Json text(const char* description) { return property("string", description); }

MCPTool helperTool(const char* name, const char* description, std::vector<Property> properties,
                   std::vector<std::string> required = {}) {
  MCPTool tool;
  tool.name = name;
  tool.description = description;
  tool.inputSchema.type = "object";
  Json map = Json::object();
  for (auto& [key, schema] : properties) map[key] = std::move(schema);
  tool.inputSchema.properties = std::move(map);
  if (!required.empty()) tool.inputSchema.required = std::move(required);
  return tool;
}

std::vector<MCPTool> identityStatusTools() {
  return {
      helperTool("health_check", "Quick router health summary (uptime, connection state, queue metrics).", {}),
      helperTool("daemon_self_check",
                 "Detailed daemon diagnostics (pid/socket/lock/health files and runtime state). Operation: status "
                 "(default).",
                 {{"operation", text("Operation: status (default)")}}),
      helperTool("identify", "Register your agent name for router logging and messaging.",
                 {{"agentName", text("Your agent's unique name")}}, {"agentName"}),
  };
}

std::vector<MCPTool> identityMessagingTools() {
  return {
      helperTool("notify", "Queue message data for agent(s); use '*' or 'all' to broadcast.",
                 {{"agents", text("Agent name or '*' for broadcast")}, {"data", property("object", "Message data payload")}},
                 {"agents", "data"}),
      helperTool("agents", "Agent coordination: list agents, send/check messages, and manage task lifecycle.",
                 {{"operation", text("Operation: help, register, whoami, list, message, check_messages, quit, "
                                     "start_task, update_task, complete_task, list_tasks")},
                  {"agentId", text("Agent identifier (a-z0-9-)")},
                  {"teamId", text("Team identifier (optional)")},
                  {"role", text("Agent role (optional)")},
                  {"to", text("Recipient agent name (message)")},
                  {"taskId", text("Task identifier (task ops)")},
                  {"title", text("Task title (start_task)")},
                  {"status", text("Task status (update_task)")},
                  {"reason", text("Reason for quitting (quit)")},
                  {"message", text("Message text (message)")},
                  {"metadata", property("object", "Optional metadata")}},
                 {"operation"}),
  };
}

std::vector<MCPTool> baseHelperLoggingTools() {
  return {
      helperTool("sync_claude_hook", "Internal hook sync entrypoint used by local Claude hook script.",
                 {{"payloadJSON", text("Raw hook JSON payload as a string")}}, {"payloadJSON"}),
      helperTool("log_message", "Write a trace/log entry for user visibility.",
                 {{"title", text("Short log title")},
                  {"message", text("Log message")},
                  {"level", text("info|warn|error")},
                  {"source", text("Event source")}}),
  };
}

std::vector<MCPTool> taskStateTools() {
  return {helperTool("tasks",
                     "Task coordination for Ralph loops: queue, active, waiting, done, comments, and heartbeat "
                     "reconciliation.",
                     {{"operation", text("Operation: help, create, move_to_active, assign_to_me, complete, add_comment, "
                                         "update, list, list_waiting_for_me, stalled, heartbeat")},
                      {"taskId", text("Task identifier")},
                      {"title", text("Task title (create)")},
                      {"status", text("Task status (update/add_comment)")},
                      {"note", text("Task comment text (add_comment)")},
                      {"reason", text("Blocking reason (assign_to_me)")},
                      {"stalledHours", property("number", "Stalled threshold in hours")},
                      {"metadata", property("object", "Optional metadata")}},
                     {"operation"})};
}

std::vector<MCPTool> workstreamTools() {
  return {helperTool("workstreams", "Workstream lifecycle operations.",
                     {{"operation", text("Operation: start, update, complete, list")},
                      {"id", text("Workstream identifier")},
                      {"name", text("Workstream name")},
                      {"status", text("Workstream status")},
                      {"metadata", property("object", "Optional metadata")}},
                     {"operation"})};
}

std::vector<MCPTool> jobTools() {
  return {helperTool("jobs", "CLI job queue and Ralph loop orchestration with settings-based concurrency limits.",
                     {{"operation", text("Operation: help, enqueue, start_ralph_loop, list, run_next, status")},
                      {"jobId", text("Job identifier")},
                      {"agentId", text("Agent identifier")},
                      {"runner", text("Runner label (claude, codex, goose, vertex, custom)")},
                      {"command", text("Executable path or command name")},
                      {"arguments", property("array", "Command arguments")},
                      {"iterations", property("number", "Ralph loop iterations (1-25)")},
                      {"origin", text("Origin note/path or trigger source")},
                      {"status", text("Filter by status: queued, running, done, failed")},
                      {"metadata", property("object", "Optional metadata")}},
                     {"operation"})};
}

std::vector<MCPTool> utilityHelperTools() {
  return {helperTool("print_document", "Send a file to a macOS printer. Tier: dev — enable in settings before use.",
                     {{"filePath", text("Absolute path to the file to print")},
                      {"printer", text("Printer name (optional; omit to use the system default)")},
                      {"copies", property("integer", "Number of copies (optional; default 1)")}},
                     {"filePath"})};
}

std::string nameList(const std::vector<MCPTool>& tools) {
  std::string text = "[";
  for (std::size_t i = 0; i < tools.size(); ++i) text += (i ? ", \"" : "\"") + tools[i].name + "\"";
  return text + "]";
}

}  // namespace

bool router::isHelperToolName(std::string_view name) {
  // The definitions never change; their names are read on every call.
  static const std::set<std::string, std::less<>> names = [] {
    std::set<std::string, std::less<>> all;
    for (const MCPTool& tool : TinderboxDaemon::allHelperTools()) all.insert(tool.name);
    return all;
  }();
  return names.contains(name);
}

const std::set<std::string, std::less<>>& TinderboxDaemon::releaseHiddenHelperTools() {
  static const std::set<std::string, std::less<>> names{"identify", "notify",      "agents", "log_message",
                                                        "sync_claude_hook", "tasks", "workstreams", "jobs"};
  return names;
}

std::vector<MCPTool> TinderboxDaemon::allHelperTools() {
  std::vector<MCPTool> tools;
  for (auto group : {identityStatusTools, identityMessagingTools, baseHelperLoggingTools, taskStateTools,
                     workstreamTools, jobTools, utilityHelperTools}) {
    for (MCPTool& tool : group()) tools.push_back(std::move(tool));
  }
  return tools;
}

std::vector<MCPTool> TinderboxDaemon::createHelperTools() const {
  const bool release = configuration_.featureTier() == FeatureTier::release;
  std::vector<MCPTool> offered;
  for (MCPTool& tool : allHelperTools()) {
    if (!toolSettingsStore_.isEnabled(tool.name)) continue;
    if (release && releaseHiddenHelperTools().contains(tool.name)) continue;
    offered.push_back(std::move(tool));
  }
  return offered;
}

std::vector<MCPTool> TinderboxDaemon::createProviderTools() const {
  std::vector<MCPTool> tools = providerRegistry_.discoverTools();
  if (Logger::isEnabled(LogLevel::info)) {
    Logger::info(router::kComponent,
                 "createProviderTools: discovered " + std::to_string(tools.size()) + " tools from providers");
    Logger::info(router::kComponent, "createProviderTools: all tools = " + nameList(tools));
  }
  std::vector<MCPTool> kept;
  for (MCPTool& tool : tools) {
    if (toolSettingsStore_.isEnabled(tool.name) && ToolAvailability::isAvailable(tool.name)) {
      kept.push_back(std::move(tool));
    }
  }
  if (Logger::isEnabled(LogLevel::info)) {
    Logger::info(router::kComponent, "createProviderTools: filtered to " + std::to_string(kept.size()) +
                                         " tools: " + nameList(kept));
  }
  return kept;
}

}  // namespace qd
