#pragma once

// The note a logged tool call leaves in the note app, under "/Quarvel Dorarov/Agent
// Logs/Router Calls": titled "Tool Call - <tool>" (made unique there), holding the same
// facts as the tool-calls.log line (agent, tool, category, duration, success, the error
// cut to 500 characters, the redacted arguments pretty-printed), with the attributes of an
// agent log note.

#include <string>

#include <asio/awaitable.hpp>

#include "daemon/logging/tool_call_record.h"
#include "daemon/tinderbox/note_helpers.h"

namespace qd {

inline constexpr const char* kToolCallNoteContainer = "/Quarvel Dorarov/Agent Logs/Router Calls";

struct ToolCallNote {
  std::string baseTitle;  // "Tool Call - " + tool
  std::string text;
};

ToolCallNote makeToolCallNote(const ToolCallRecord& record);

// Makes sure of the container, creates the note under a unique title and writes its
// attributes (MVNLoggedAt = `loggedAt`). Best effort: a failed "create_note" still gets
// its attribute writes; nothing fails outward.
asio::awaitable<void> writeToolCallNote(NoteHelpers& notes, ToolCallNote note, std::string loggedAt);

}  // namespace qd
