#include "daemon/work/tasks_tool.h"

#include <optional>

#include "daemon/core/daemon_error.h"
#include "daemon/runtime/text_trim.h"
#include "daemon/tinderbox/argument_helpers.h"
#include "daemon/utilities/unicode_text.h"
#include "daemon/work/agent_log_note.h"
#include "daemon/work/note_slug.h"
#include "daemon/work/record_mirror.h"
#include "daemon/work/reply_rendering.h"
#include "daemon/work/tool_arguments.h"
#include "daemon/work/work_tracker.h"

namespace qd {
namespace {

constexpr std::int64_t kDefaultStalledHours = 24;

// What a writing operation leaves to do after its tracker change.
struct TaskChange {
  std::string taskId;
  std::optional<std::string> logTitle;  // none: no agent-log note
  std::string logText;
  std::string reply;
};

std::string metadataText(const StringMap& metadata) { return prettyJsonText(stringMapToJson(metadata)); }

std::int64_t stalledHours(const Json& arguments) {
  return integerArgument(arguments, "stalledHours").value_or(kDefaultStalledHours);
}

std::vector<std::string> taskIds(const std::vector<TrackedTask>& tasks) {
  std::vector<std::string> out;
  for (const auto& t : tasks) out.push_back(t.id);
  return out;
}

// Applies one writing operation to the tracker; nullopt when `operation` is none of them.
std::optional<TaskChange> applyChange(CoordinationContext& context, const std::string& operation,
                                      const std::string& agent, const Json& arguments) {
  WorkTracker& tracker = context.workTracker;
  if (operation == "create") {
    const std::string title = requiredStringArgument(arguments, "title");
    std::optional<std::string> givenId = stringArgument(arguments, "taskId");
    const std::string taskId = givenId ? std::move(*givenId) : generateTaskId(title, context.clock);
    const StringMap metadata = stringDictionary(argument(arguments, "metadata"));
    tracker.createTask(taskId, title, "queue", metadata);
    return TaskChange{taskId, "Task Queued - " + taskId,
                      "Title: " + title + "\nStatus: queue\nMetadata: " + metadataText(metadata), "Task created: " + taskId};
  }
  if (operation == "move_to_active") {
    const std::string taskId = requiredStringArgument(arguments, "taskId");
    tracker.updateTask(taskId, "active", {});
    return TaskChange{taskId, "Task Active - " + taskId, "Status changed to active", "Task active: " + taskId};
  }
  if (operation == "assign_to_me") {
    const std::string taskId = requiredStringArgument(arguments, "taskId");
    const std::optional<std::string> reason = stringArgument(arguments, "reason");
    tracker.assignTask(taskId, agent, "waiting", reason);
    return TaskChange{taskId, "Task Waiting - " + taskId,
                      "Assigned to: " + agent + "\nReason: " + reason.value_or("none"),
                      "Task waiting on " + agent + ": " + taskId};
  }
  if (operation == "complete") {
    const std::string taskId = requiredStringArgument(arguments, "taskId");
    const StringMap metadata = stringDictionary(argument(arguments, "metadata"));
    tracker.completeTask(taskId, metadata);
    return TaskChange{taskId, "Task Done - " + taskId, "Status changed to done\nMetadata: " + metadataText(metadata),
                      "Task done: " + taskId};
  }
  if (operation == "add_comment") {
    const std::string taskId = requiredStringArgument(arguments, "taskId");
    // "status" wins over "note": the comment text is whichever string comes first.
    std::optional<std::string> text = stringArgument(arguments, "status");
    if (!text) text = stringArgument(arguments, "note");
    if (!text) throw DaemonError::missingParameter("status");
    tracker.addTaskComment(taskId, agent, *text);
    return TaskChange{taskId, std::nullopt, "", "Comment added: " + taskId};
  }
  if (operation == "update") {
    const std::string taskId = requiredStringArgument(arguments, "taskId");
    const std::string status = stringArgument(arguments, "status").value_or("active");
    const StringMap metadata = stringDictionary(argument(arguments, "metadata"));
    tracker.updateTask(taskId, status, metadata);
    return TaskChange{taskId, "Task Updated - " + taskId, "Status: " + status + "\nMetadata: " + metadataText(metadata),
                      "Task updated: " + taskId};
  }
  return std::nullopt;
}

// `task` is the record as the change left it, or none for an unknown id.
asio::awaitable<Json> finishChange(CoordinationContext& context, std::string agent, TaskChange change,
                                   std::optional<TrackedTask> task) {
  if (task) {
    TrackedTask record = std::move(*task);
    co_await persistTaskNote(context, std::move(record));
  }
  if (change.logTitle) {
    std::string title = std::move(*change.logTitle);
    std::string text = std::move(change.logText);
    co_await writeAgentLogNote(context, std::move(agent), std::move(title), std::move(text));
  }
  co_return textReply(std::move(change.reply));
}

Json heartbeat(CoordinationContext& context, const std::string& agent, std::int64_t hours) {
  const auto stalled = context.workTracker.stalledTasks(hours);
  const auto waiting = context.workTracker.listTasks(agent, std::string("waiting"));
  if (stalled.empty() && waiting.empty()) return textReply("HEARTBEAT_OK");
  const Json report{{"stalledCount", stalled.size()},
                    {"stalled", taskIds(stalled)},
                    {"waitingForMeCount", waiting.size()},
                    {"waitingForMe", taskIds(waiting)}};
  return textReply(prettyJsonText(report));
}

}  // namespace

asio::awaitable<Json> handleTasksTool(CoordinationContext& context, std::string clientId, Json arguments) {
  const std::optional<std::string> rawOperation = stringArgument(arguments, "operation");
  if (!rawOperation) throw DaemonError::missingParameter("operation");
  const std::string operation = unicode::lowercased(trimWhitespaceAndNewlines(*rawOperation));
  std::string agent = context.notificationQueue.getAgentName(clientId).value_or(kUnknownAgent);

  if (operation == "help") {
    co_return textReply(
        "Operations: create, move_to_active, assign_to_me, complete, add_comment, update, list, "
        "list_waiting_for_me, stalled, heartbeat");
  }
  if (std::optional<TaskChange> change = applyChange(context, operation, agent, arguments)) {
    TaskChange done = std::move(*change);
    // Read back in the same turn as the change, so the mirror shows what this call made.
    std::optional<TrackedTask> record = context.workTracker.task(done.taskId);
    co_return co_await finishChange(context, std::move(agent), std::move(done), std::move(record));
  }
  if (operation == "list") co_return renderTaskList(context.workTracker.listTasks());
  if (operation == "list_waiting_for_me") {
    co_return renderTaskList(context.workTracker.listTasks(agent, std::string("waiting")));
  }
  if (operation == "stalled") co_return renderTaskList(context.workTracker.stalledTasks(stalledHours(arguments)));
  if (operation == "heartbeat") co_return heartbeat(context, agent, stalledHours(arguments));
  throw DaemonError::invalidParameter("Unknown tasks operation: " + operation);
}

}  // namespace qd
