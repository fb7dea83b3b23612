#include "daemon/work/agents_tool.h"

#include "daemon/core/daemon_error.h"
#include "daemon/logging/logger.h"
#include "daemon/runtime/text_trim.h"
#include "daemon/tinderbox/argument_helpers.h"
#include "daemon/tinderbox/journal_writers.h"
#include "daemon/tinderbox/note_helpers.h"
#include "daemon/utilities/unicode_text.h"
#include "daemon/utilities/unix_time.h"
#include "daemon/work/agent_log_note.h"
#include "daemon/work/reply_rendering.h"
#include "daemon/work/tool_arguments.h"
#include "daemon/work/work_tracker.h"

namespace qd {
namespace {

constexpr const char* kAgentsContainer = "/morvane/agents";

std::string agentName(CoordinationContext& context, const std::string& clientId) {
  return context.notificationQueue.getAgentName(clientId).value_or(kUnknownAgent);
}

std::int64_t nowMilliseconds(const CoordinationContext& context) { return unixMilliseconds(context.clock.wallNow()); }

// The journal of one task report: a task-event note, then an agent-log note.
struct TaskReport {
  std::string agent;
  std::string taskId;
  std::string eventTitle;
  std::string status;
  std::string logTitle;
  std::string body;
};

asio::awaitable<void> journalTaskReport(CoordinationContext& context, TaskReport report) {
  std::string eventAgent = report.agent;
  std::string eventBody = report.body;
  co_await autoLogTaskEvent(context, std::move(eventAgent), std::move(report.taskId), std::move(report.eventTitle),
                            std::move(eventBody), std::move(report.status));
  co_await writeAgentLogNote(context, std::move(report.agent), std::move(report.logTitle), std::move(report.body));
}

}  // namespace

asio::awaitable<Json> handleAgentsRegister(CoordinationContext& context, std::string clientId, Json arguments) {
  std::optional<std::string> requested;
  if (auto given = stringArgument(arguments, "agentId")) requested = unicode::lowercased(trimWhitespaceAndNewlines(*given));
  const std::optional<std::string> current = context.notificationQueue.getAgentName(clientId);
  const std::string id = requested ? *requested : current ? *current : "agent-" + std::to_string(nowMilliseconds(context));
  if (!isValidAgentID(id)) throw DaemonError::invalidParameter("agentId must match ^[a-z0-9-]+$");
  // A client that already has a name keeps it, even when it registers another id.
  if (!current) context.notificationQueue.identifyAgent(clientId, id);
  const std::string role = stringArgument(arguments, "role").value_or("general");

  NoteHelpers notes(context.noteApp, context.journal);
  std::string containerPath = kAgentsContainer;
  co_await notes.ensurePath(std::move(containerPath));
  std::string name = id;
  std::string parent = kAgentsContainer;
  co_await notes.ensureContainer(std::move(name), std::move(parent));
  const std::string notePath = std::string(kAgentsContainer) + "/" + id;
  std::string rolePath = notePath;
  std::string roleAttribute = "MVNRole";
  std::string roleValue = role;
  co_await notes.setTinderboxValue(std::move(rolePath), std::move(roleAttribute), std::move(roleValue));
  std::string seenPath = notePath;
  std::string seenAttribute = "MVNLastSeen";
  std::string seenValue = std::to_string(nowMilliseconds(context));
  co_await notes.setTinderboxValue(std::move(seenPath), std::move(seenAttribute), std::move(seenValue));
  co_return textReply("Registered agent: " + id);
}

Json handleAgentsWhoAmI(CoordinationContext& context, const std::string& clientId) {
  const Json answer{{"ok", true}, {"agentId", agentName(context, clientId)}, {"clientId", clientId}};
  return textReply(prettyJsonText(answer));
}

asio::awaitable<Json> handleAgentsStartTask(CoordinationContext& context, std::string clientId, Json arguments) {
  const std::string taskId = requiredStringArgument(arguments, "taskId");
  const std::string title = stringArgument(arguments, "title").value_or(taskId);
  context.workTracker.startTask(taskId, title, allStringsObjectArgument(arguments, "metadata"));
  std::string agent = agentName(context, clientId);
  Logger::info("AgentTask", "Task started", Json{{"taskId", taskId}, {"title", title}, {"agent", agent}});
  TaskReport report{agent, taskId, "Task Started", "started", "Task Started - " + title,
                    "Task ID: " + taskId + "\nTask: " + title + "\nStatus: started"};
  co_await journalTaskReport(context, std::move(report));
  co_return textReply("Task started: " + taskId);
}

asio::awaitable<Json> handleAgentsUpdateTask(CoordinationContext& context, std::string clientId, Json arguments) {
  const std::string taskId = requiredStringArgument(arguments, "taskId");
  const std::string status = stringArgument(arguments, "status").value_or("in_progress");
  const StringMap metadata = allStringsObjectArgument(arguments, "metadata");
  context.workTracker.updateTask(taskId, status, metadata);
  std::string agent = agentName(context, clientId);
  Logger::info("AgentTask", "Task updated", Json{{"taskId", taskId}, {"status", status}, {"agent", agent}});
  TaskReport report{agent, taskId, "Task Update", status, "Task Update - " + taskId,
                    "Task ID: " + taskId + "\nStatus: " + status + "\nDetails: " + prettyJsonText(stringMapToJson(metadata))};
  co_await journalTaskReport(context, std::move(report));
  co_return textReply("Task updated: " + taskId);
}

asio::awaitable<Json> handleAgentsCompleteTask(CoordinationContext& context, std::string clientId, Json arguments) {
  const std::string taskId = requiredStringArgument(arguments, "taskId");
  const StringMap metadata = allStringsObjectArgument(arguments, "metadata");
  context.workTracker.completeTask(taskId, metadata);
  std::string agent = agentName(context, clientId);
  Logger::info("AgentTask", "Task completed", Json{{"taskId", taskId}, {"agent", agent}});
  TaskReport report{agent, taskId, "Task Completed", "completed", "Task Completed - " + taskId,
                    "Task ID: " + taskId + "\nStatus: completed\nOutcome: " + prettyJsonText(stringMapToJson(metadata))};
  co_await journalTaskReport(context, std::move(report));
  co_return textReply("Task completed: " + taskId);
}

Json handleAgentsListTasks(CoordinationContext& context) {
  return textReply(plainTaskListing(context.workTracker.listTasks()));
}

asio::awaitable<Json> handleAgentsUnifiedTool(CoordinationContext& context, std::string clientId, Json arguments) {
  const std::optional<std::string> operation = stringArgument(arguments, "operation");
  if (!operation) throw DaemonError::missingParameter("operation");
  const std::string& op = *operation;
  if (op == "register") co_return co_await handleAgentsRegister(context, std::move(clientId), std::move(arguments));
  if (op == "whoami") co_return handleAgentsWhoAmI(context, clientId);
  if (op == "bootstrap" || op == "create_subagent" || op == "list_subagents") {
    co_return textReply("Operation '" + op + "' removed \u2014 use Claude Code for agent management.");
  }
  if (op == "list") co_return handleAgentsList(context);
  if (op == "start_task") co_return co_await handleAgentsStartTask(context, std::move(clientId), std::move(arguments));
  if (op == "update_task") co_return co_await handleAgentsUpdateTask(context, std::move(clientId), std::move(arguments));
  if (op == "complete_task") {
    co_return co_await handleAgentsCompleteTask(context, std::move(clientId), std::move(arguments));
  }
  if (op == "list_tasks") co_return handleAgentsListTasks(context);
  if (op == "help") {
    co_return textReply(
        "Operations: help, register, whoami, list, message, check_messages, quit, start_task, update_task, "
        "complete_task, list_tasks");
  }
  if (op == "message") co_return co_await handleAgentsMessage(context, std::move(clientId), std::move(arguments));
  if (op == "check_messages") co_return handleAgentsCheckWork(context, clientId);
  if (op == "quit") co_return handleAgentsQuit(context, clientId, arguments);
  throw DaemonError::invalidParameter("Unknown agents operation: " + op);
}

}  // namespace qd
