#pragma once

// The "sync_claude_hook" tool: one Claude Code hook event, given as the JSON text
// "payloadJSON", mirrored into the journal. Task events become task-event notes,
// SendMessage a conversation note, and every handled event an agent-log note under
// "/Quarvel Dorarov/Agent Logs/Claude" carrying where it came from (event, session,
// transcript, team, teammate). The event name is trimmed and matched exactly; an unknown
// one is logged with the whole payload. Hook events never touch the tracker.

#include <optional>
#include <string>

#include <asio/awaitable.hpp>

#include "daemon/core/coordination_context.h"
#include "daemon/utilities/json.h"

namespace qd {

// The fields of a hook event that every note of it carries.
struct ClaudeHookContext {
  std::string event;  // "hook_event_name", trimmed
  std::string source;  // "ClaudeHook:" + event
  std::string sessionId;
  std::string transcriptPath;  // "transcript_path", else "agent_transcript_path"
  std::string teamName;
  std::string teammateName;  // "teammate_name", else "agent_type"
};

// None when "hook_event_name" is missing, not a string, or blank.
std::optional<ClaudeHookContext> buildClaudeHookContext(const Json& payload);

// Answers "Hook synced: <event>", or "Ignored hook payload without hook_event_name" and
// writes nothing. Throws DaemonError.missingParameter("payloadJSON") when it is missing,
// not a string, or not a JSON object, and the parser's JsonParseError for malformed text.
// Note failures never reach the reply.
asio::awaitable<Json> handleSyncClaudeHook(CoordinationContext& context, Json arguments);

}  // namespace qd
