// The record of a finished call: the tool-calls.log line before the reply, and the note in
// the note app after it, in the background, so a slow or hung note app never delays or
// fails the call's answer.

#include <asio/post.hpp>

#include "daemon/logging/tool_call_record.h"
#include "daemon/router/router.h"
#include "daemon/router/router_internal.h"
#include "daemon/runtime/coroutine_helpers.h"
#include "daemon/tinderbox/note_time.h"
#include "daemon/tinderbox/tool_call_note.h"
#include "daemon/utilities/unix_time.h"

namespace qd {

void TinderboxDaemon::logToolCall(const ToolCallLogContext& context) {
  const ToolSettings& settings = toolSettingsStore_.currentRef();
  if (!settings.enableToolCallLogging) return;
  const ToolCallRecord record =
      ToolCallRecord::make(std::chrono::system_clock::now(), context.clientId,
                           notificationQueue_.getAgentName(context.clientId), context.toolName, context.durationMs,
                           context.success, context.error, context.arguments);
  if (settings.logToolCallsToFile) {
    // A record JSON cannot represent is dropped rather than written half.
    if (std::optional<std::string> line = record.line()) toolCallLogger_.append(*line);
  }
  if (!settings.logToolCallsToTinderbox) return;
  // Posted, so it starts only after this turn has handed the reply on.
  std::weak_ptr<TinderboxDaemon> weak = weak_from_this();
  asio::post(executor_, [weak, executor = executor_, note = makeToolCallNote(record)]() mutable {
    startTask(executor, writeToolCallNoteHoldingWeakly(weak, std::move(note)), std::string(router::kComponent),
              "logToolCall note");
  });
}

asio::awaitable<void> TinderboxDaemon::writeToolCallNoteHoldingWeakly(std::weak_ptr<TinderboxDaemon> weak,
                                                                      ToolCallNote note) {
  std::shared_ptr<TinderboxDaemon> self = weak.lock();
  if (!self) co_return;
  // Read again: logging may have been switched off, or the note app dropped, meanwhile.
  if (!self->toolSettingsStore_.currentRef().enableLogging || !self->noteApp().isConnected()) co_return;
  NoteHelpers notes(self->noteApp(), self->journal_);
  std::string loggedAt = iso8601Seconds(unixMilliseconds(std::chrono::system_clock::now()));
  co_await writeToolCallNote(notes, std::move(note), std::move(loggedAt));
}

}  // namespace qd
