// The messaging operations of the "agents" tool and the "notify" and "log_message" tools.

#include "daemon/core/daemon_error.h"
#include "daemon/logging/logger.h"
#include "daemon/tinderbox/journal_writers.h"
#include "daemon/work/agent_log_note.h"
#include "daemon/work/agents_tool.h"
#include "daemon/work/reply_rendering.h"
#include "daemon/work/tool_arguments.h"
#include "daemon/work/work_tracker.h"

namespace qd {
namespace {

bool isBroadcast(const std::string& selector) { return selector == "*" || selector == "all"; }

void requireBroadcastAllowed(const CoordinationContext& context, const std::string& selector) {
  if (isBroadcast(selector) && !context.toolSettingsStore.current().allowBroadcastNotifications) {
    throw DaemonError::broadcastDisabled();
  }
}

// The queue skips a recipient that nobody speaks for, so a message to a misspelt or departed
// agent would be reported as sent and then lost; the caller is told instead, before anything
// is queued. A broadcast goes to whoever is registered, as before.
void requireRegisteredRecipient(const CoordinationContext& context, const std::string& selector) {
  if (!isBroadcast(selector) && !context.notificationQueue.isRegistered(selector)) {
    throw DaemonError::agentNotRegistered(selector);
  }
}

std::string identifiedSender(const CoordinationContext& context, const std::string& clientId) {
  std::optional<std::string> name = context.notificationQueue.getAgentName(clientId);
  if (!name) throw DaemonError::agentNotIdentified();
  return std::move(*name);
}

}  // namespace

Json handleAgentsList(CoordinationContext& context) {
  const std::vector<std::string> agents = context.notificationQueue.listAgents();
  Json running = Json::array();
  for (const TrackedJob& job : context.workTracker.listJobs(std::string("running"))) {
    running.push_back(Json{{"id", job.id},
                           {"agentId", job.agentID},
                           {"runner", job.runner},
                           {"command", job.command},
                           {"arguments", job.arguments},
                           {"updatedAt", job.updatedAt}});
  }
  const Json answer{{"agents", agents},
                    {"activeAgents", agents.size()},
                    {"activeCliJobs", std::move(running)},
                    {"queuedJobs", context.workTracker.listJobs(std::string("queued")).size()},
                    {"waitingTasks", context.workTracker.listTasks(std::nullopt, std::string("waiting")).size()}};
  return textReply(prettyJsonText(answer));
}

asio::awaitable<Json> handleAgentsMessage(CoordinationContext& context, std::string clientId, Json arguments) {
  const std::string to = requiredStringArgument(arguments, "to");
  requireBroadcastAllowed(context, to);
  const std::optional<std::string> message = stringArgument(arguments, "message");
  if (!message || message->empty()) throw DaemonError::missingParameter("message");
  Json data{{"message", *message}, {"source", "agents_message"}};
  if (const Json& metadata = argument(arguments, "metadata"); metadata.is_object()) data["metadata"] = metadata;
  std::string sender = identifiedSender(context, clientId);
  requireRegisteredRecipient(context, to);
  context.notificationQueue.notify(sender, to, data);

  std::string conversationSender = sender;
  std::string recipient = to;
  std::string conversationText = *message;
  co_await logConversation(context, std::move(conversationSender), std::move(recipient), std::move(conversationText));
  std::string title = "Message Sent - " + to;
  std::string text = *message;
  co_await writeAgentLogNote(context, std::move(sender), std::move(title), std::move(text));
  co_return textReply("Message queued for " + to + ". It will be delivered when that agent next checks messages.");
}

Json handleAgentsCheckWork(CoordinationContext& context, const std::string& clientId) {
  const std::string agent = identifiedSender(context, clientId);
  std::vector<std::string> entries;
  for (const Notification& n : context.notificationQueue.checkWork(agent)) {
    entries.push_back(plain::map(
        {{"from", plain::string(n.from)}, {"data", plain::value(n.data)}, {"timestamp", std::to_string(n.timestamp)}}));
  }
  return textReply(plain::list(entries));
}

Json handleAgentsQuit(CoordinationContext& /*context*/, const std::string& clientId, const Json& arguments) {
  const std::string reason = stringArgument(arguments, "reason").value_or("User requested");
  Logger::info("Daemon", "Agent quitting", Json{{"clientId", clientId}, {"reason", reason}});
  // The agent stays registered until its connection ends.
  return textReply("Goodbye");
}

asio::awaitable<Json> handleNotify(CoordinationContext& context, std::string clientId, Json arguments) {
  const std::string selector = requiredStringArgument(arguments, "agents");
  // Refused before the payload is looked at.
  requireBroadcastAllowed(context, selector);
  const Json& data = argument(arguments, "data");
  if (!data.is_object()) throw DaemonError::missingParameter("data");
  std::string sender = identifiedSender(context, clientId);
  requireRegisteredRecipient(context, selector);
  context.notificationQueue.notify(sender, selector, data);

  std::string title = "Notification Sent";
  std::string text = "Recipients: " + selector + "\nPayload: " + prettyJsonText(data);
  co_await writeAgentLogNote(context, std::move(sender), std::move(title), std::move(text));
  co_return textReply("Notification sent to " + selector);
}

asio::awaitable<Json> handleLogMessage(CoordinationContext& context, std::string clientId, Json arguments) {
  std::string title = stringArgument(arguments, "title").value_or("Agent Update");
  std::string message = stringArgument(arguments, "message").value_or("");
  const std::string level = stringArgument(arguments, "level").value_or("info");
  const std::string source = stringArgument(arguments, "source").value_or("log_message");
  std::string agent = context.notificationQueue.getAgentName(clientId).value_or(kUnknownAgent);
  // Written at info whatever "level" says; the level travels as metadata only.
  Logger::info("AgentLog", title + ": " + message, Json{{"agent", agent}, {"level", level}, {"source", source}});
  std::string reply = "Logged: " + title;
  co_await writeAgentLogNote(context, std::move(agent), std::move(title), std::move(message));
  co_return textReply(std::move(reply));
}

}  // namespace qd
