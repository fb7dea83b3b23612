#pragma once

// The "agents" tool: identity (register, whoami), the agent's own task reports (start_task,
// update_task, complete_task, list_tasks) and messaging (list, message, check_messages,
// quit). Each handler answers one text item or throws DaemonError (or the notification
// queue's MessagingError, passed through unchanged).

#include <string>

#include <asio/awaitable.hpp>

#include "daemon/core/coordination_context.h"
#include "daemon/utilities/json.h"

namespace qd {

// Routes by "operation" (exact, case-sensitive); "bootstrap", "create_subagent" and
// "list_subagents" answer that they were removed; an unknown operation throws
// DaemonError.invalidParameter("Unknown agents operation: <op>").
asio::awaitable<Json> handleAgentsUnifiedTool(CoordinationContext& context, std::string clientId, Json arguments);

asio::awaitable<Json> handleAgentsRegister(CoordinationContext& context, std::string clientId, Json arguments);
Json handleAgentsWhoAmI(CoordinationContext& context, const std::string& clientId);
asio::awaitable<Json> handleAgentsStartTask(CoordinationContext& context, std::string clientId, Json arguments);
asio::awaitable<Json> handleAgentsUpdateTask(CoordinationContext& context, std::string clientId, Json arguments);
asio::awaitable<Json> handleAgentsCompleteTask(CoordinationContext& context, std::string clientId, Json arguments);
Json handleAgentsListTasks(CoordinationContext& context);

// Messaging operations of the same tool, and the "notify" and "log_message" tools.
Json handleAgentsList(CoordinationContext& context);
asio::awaitable<Json> handleAgentsMessage(CoordinationContext& context, std::string clientId, Json arguments);
Json handleAgentsCheckWork(CoordinationContext& context, const std::string& clientId);
Json handleAgentsQuit(CoordinationContext& context, const std::string& clientId, const Json& arguments);
asio::awaitable<Json> handleNotify(CoordinationContext& context, std::string clientId, Json arguments);
asio::awaitable<Json> handleLogMessage(CoordinationContext& context, std::string clientId, Json arguments);

}  // namespace qd
