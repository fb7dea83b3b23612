#include "daemon/work/claude_hook_sync.h"

#include "daemon/core/daemon_error.h"
#include "daemon/runtime/text_trim.h"
#include "daemon/tinderbox/journal_writers.h"
#include "daemon/utilities/unix_time.h"
#include "daemon/work/agent_log_note.h"
#include "daemon/work/reply_rendering.h"
#include "daemon/work/tool_arguments.h"

namespace qd {
namespace {

constexpr const char* kClaudeAgent = "Claude";

std::optional<std::string> stringMember(const Json& object, const char* key) {
  return stringArgument(object, key);
}

// The first of the keys present as a string, else the fallback.
std::string firstString(const Json& object, std::initializer_list<const char*> keys, std::string fallback) {
  for (const char* key : keys) {
    if (auto value = stringMember(object, key)) return std::move(*value);
  }
  return fallback;
}

const Json& objectMember(const Json& object, const char* key) {
  static const Json empty = Json::object();
  const Json& value = argument(object, key);
  return value.is_object() ? value : empty;
}

Json parsePayload(const Json& arguments) {
  const std::optional<std::string> text = stringArgument(arguments, "payloadJSON");
  if (!text) throw DaemonError::missingParameter("payloadJSON");
  Json payload = parseJson(*text);  // a syntax error is the parser's own error
  if (!payload.is_object()) throw DaemonError::missingParameter("payloadJSON");
  return payload;
}

AgentLogContext logContext(const ClaudeHookContext& hook, const std::string& teammate) {
  return AgentLogContext{hook.source, hook.event, hook.sessionId, hook.transcriptPath, hook.teamName, teammate};
}

// The event writer: the given body as the note text.
asio::awaitable<void> logClaudeAgentEvent(CoordinationContext& context, std::string title, std::string body,
                                          ClaudeHookContext hook) {
  std::string agent = kClaudeAgent;
  AgentLogContext details = logContext(hook, hook.teammateName);
  co_await writeAgentLogNote(context, std::move(agent), std::move(title), std::move(body), std::move(details));
}

// The payload writer: the whole payload, pretty-printed, as the note text.
asio::awaitable<void> logClaudeHookPayload(CoordinationContext& context, std::string title, Json payload,
                                           ClaudeHookContext hook, std::optional<std::string> teammateName) {
  std::string agent = kClaudeAgent;
  std::string text = prettyJsonText(payload);
  AgentLogContext details = logContext(hook, teammateName.value_or(hook.teammateName));
  co_await writeAgentLogNote(context, std::move(agent), std::move(title), std::move(text), std::move(details));
}

// A task-event note by "Claude". Callers build it as a named value: g++ 12 destroys twice
// a temporary passed by value to an awaited coroutine.
struct TaskEventNote {
  std::string taskId;
  std::string title;
  std::string body;
  std::string status;
};

asio::awaitable<void> writeTaskEvent(CoordinationContext& context, TaskEventNote note) {
  std::string agent = kClaudeAgent;
  co_await autoLogTaskEvent(context, std::move(agent), std::move(note.taskId), std::move(note.title),
                            std::move(note.body), std::move(note.status));
}

// The task events: the task-event note, then the Claude note "<title> - <subject>" with the
// same body.
asio::awaitable<void> logTaskEvent(CoordinationContext& context, TaskEventNote event, std::string subject,
                                   ClaudeHookContext hook) {
  std::string title = event.title + " - " + subject;
  std::string text = event.body;
  co_await writeTaskEvent(context, std::move(event));
  co_await logClaudeAgentEvent(context, std::move(title), std::move(text), std::move(hook));
}

asio::awaitable<void> handleTaskCreate(CoordinationContext& context, Json payload, ClaudeHookContext hook) {
  const Json& input = objectMember(payload, "tool_input");
  const Json& task = objectMember(objectMember(payload, "tool_response"), "task");
  const std::string taskId =
      firstString(task, {"id"}, "claude-task-" + std::to_string(unixMilliseconds(context.clock.wallNow())));
  const std::string subject = firstString(input, {"subject"}, firstString(task, {"subject"}, taskId));
  const std::string description = firstString(input, {"description"}, "");
  const std::string body = "Task ID: " + taskId + "\nTask: " + subject + "\nStatus: started\nDetails: " + description;
  TaskEventNote event{taskId, "Task Started", body, "started"};
  std::string named = subject;
  co_await logTaskEvent(context, std::move(event), std::move(named), std::move(hook));
}

asio::awaitable<void> handleTaskUpdate(CoordinationContext& context, Json payload, ClaudeHookContext hook) {
  const Json& input = objectMember(payload, "tool_input");
  const std::string taskId = firstString(input, {"id", "taskId"}, "unknown-task");
  const std::string status = firstString(input, {"status"}, "in_progress");
  const std::string details = firstString(input, {"details"}, "Auto-synced from Claude TaskUpdate hook");
  const std::string body = "Task ID: " + taskId + "\nStatus: " + status + "\nDetails: " + details;
  TaskEventNote event{taskId, "Task Update", body, status};
  std::string named = taskId;
  co_await logTaskEvent(context, std::move(event), std::move(named), std::move(hook));
}

asio::awaitable<void> handleTaskCompleted(CoordinationContext& context, Json payload, ClaudeHookContext hook) {
  const Json& input = objectMember(payload, "tool_input");
  const std::string taskId = firstString(input, {"id", "taskId"}, "unknown-task");
  const std::string body = "Task ID: " + taskId + "\nStatus: completed\nOutcome: Completed";
  TaskEventNote event{taskId, "Task Completed", body, "completed"};
  std::string named = taskId;
  co_await logTaskEvent(context, std::move(event), std::move(named), std::move(hook));
}

asio::awaitable<void> handleTeamCreate(CoordinationContext& context, Json payload, ClaudeHookContext hook) {
  const Json& input = objectMember(payload, "tool_input");
  const std::string team = firstString(input, {"name"}, firstString(payload, {"team_name"}, "team"));
  const std::string description = firstString(input, {"description"}, "Auto-synced from Claude TeamCreate hook");
  const std::string body = "Team: " + team + "\nDescription: " + description + "\nSource: " + hook.source;
  std::string title = "Team Created - " + team;
  std::string text = body;
  co_await logClaudeAgentEvent(context, std::move(title), std::move(text), std::move(hook));
}

asio::awaitable<void> handleSendMessage(CoordinationContext& context, Json payload, ClaudeHookContext hook) {
  const Json& input = objectMember(payload, "tool_input");
  const std::string recipient = firstString(input, {"to"}, "unknown");
  const std::string message = firstString(input, {"message"}, "");
  std::string sender = kClaudeAgent;
  std::string to = recipient;
  std::string text = message;
  co_await logConversation(context, std::move(sender), std::move(to), std::move(text));
  std::string title = "Message Sent - " + recipient;
  std::string body = message.empty() ? "Message sent" : message;
  co_await logClaudeAgentEvent(context, std::move(title), std::move(body), std::move(hook));
}

asio::awaitable<void> dispatchClaudeHookEvent(CoordinationContext& context, Json payload, ClaudeHookContext hook) {
  const std::string event = hook.event;
  if (event == "TaskCreate") co_return co_await handleTaskCreate(context, std::move(payload), std::move(hook));
  if (event == "TaskUpdate") co_return co_await handleTaskUpdate(context, std::move(payload), std::move(hook));
  if (event == "TaskCompleted") co_return co_await handleTaskCompleted(context, std::move(payload), std::move(hook));
  if (event == "TeamCreate") co_return co_await handleTeamCreate(context, std::move(payload), std::move(hook));
  if (event == "SendMessage") co_return co_await handleSendMessage(context, std::move(payload), std::move(hook));
  std::string title;
  std::optional<std::string> teammate;
  if (event == "SubagentStart" || event == "SubagentStop") {
    const std::string name = hook.teammateName.empty() ? "subagent" : hook.teammateName;
    title = std::string("Subagent ") + (event == "SubagentStart" ? "Started" : "Stopped") + " - " + name;
    teammate = name;
  } else if (event == "TeammateIdle") {
    const std::string name = hook.teammateName.empty() ? "teammate" : hook.teammateName;
    title = "Teammate Idle - " + name;
    teammate = name;
  } else {
    title = "Hook Event - " + event;
  }
  co_await logClaudeHookPayload(context, std::move(title), std::move(payload), std::move(hook), std::move(teammate));
}

}  // namespace

std::optional<ClaudeHookContext> buildClaudeHookContext(const Json& payload) {
  const std::optional<std::string> rawEvent = stringMember(payload, "hook_event_name");
  if (!rawEvent) return std::nullopt;
  std::string event = trimWhitespaceAndNewlines(*rawEvent);
  if (event.empty()) return std::nullopt;
  ClaudeHookContext hook;
  hook.source = "ClaudeHook:" + event;
  hook.event = std::move(event);
  hook.sessionId = firstString(payload, {"session_id"}, "");
  hook.transcriptPath = firstString(payload, {"transcript_path", "agent_transcript_path"}, "");
  hook.teamName = firstString(payload, {"team_name"}, "");
  hook.teammateName = firstString(payload, {"teammate_name", "agent_type"}, "");
  return hook;
}

asio::awaitable<Json> handleSyncClaudeHook(CoordinationContext& context, Json arguments) {
  Json payload = parsePayload(arguments);
  std::optional<ClaudeHookContext> hook = buildClaudeHookContext(payload);
  if (!hook) co_return textReply("Ignored hook payload without hook_event_name");
  const std::string event = hook->event;
  co_await dispatchClaudeHookEvent(context, std::move(payload), std::move(*hook));
  co_return textReply("Hook synced: " + event);
}

}  // namespace qd
