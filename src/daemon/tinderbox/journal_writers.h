#pragma once

// The journal of agent activity in the note app: one note per task event, chained per task
// by "task-flow" links, and one note per message between two agents. Both write only while
// logging is switched on (read afresh on every call) and the note app is connected, and
// never fail their caller.

#include <string>

#include <asio/awaitable.hpp>

#include "daemon/core/coordination_context.h"

namespace qd {

// A note under "/Quarvel Dorarov/Tasks/<taskId>" titled `title` (made unique there), with
// the text "Agent: <agent>\n<body>" and the attributes MVNType "TaskEvent", MVNAgent,
// MVNTaskID, MVNStatus and MVNLoggedAt, linked from the task's previous event note.
asio::awaitable<void> autoLogTaskEvent(CoordinationContext& context, std::string agentName, std::string taskId,
                                       std::string title, std::string body, std::string status);

// A note under "/Quarvel Dorarov/Conversations/<sender> → <recipient>" titled
// "Message - <preview>" ("Message" for an empty preview), holding the whole message, with
// MVNType "Conversation", MVNAgent (the sender) and MVNLoggedAt.
asio::awaitable<void> logConversation(CoordinationContext& context, std::string sender, std::string recipient,
                                      std::string message);

// The preview of a message in its note title: line feeds as blanks, trimmed, and from 73
// characters on cut to 71 followed by "…".
std::string conversationPreview(const std::string& message);

}  // namespace qd
