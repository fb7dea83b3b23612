#include "daemon/tinderbox/journal_writers.h"

#include <algorithm>

#include "daemon/runtime/text_trim.h"
#include "daemon/tinderbox/note_helpers.h"
#include "daemon/tinderbox/note_time.h"
#include "daemon/utilities/unicode_text.h"
#include "daemon/utilities/unix_time.h"

namespace qd {
namespace {

bool journalIsOpen(const CoordinationContext& context) {
  return context.noteApp.isConnected() && context.toolSettingsStore.current().enableLogging;
}

std::string loggedAt(const CoordinationContext& context) {
  return iso8601Seconds(unixMilliseconds(context.clock.wallNow()));
}

}  // namespace

std::string conversationPreview(const std::string& message) {
  std::string flat = message;
  std::replace(flat.begin(), flat.end(), '\n', ' ');
  std::string preview = trimWhitespaceAndNewlines(flat);
  if (unicode::graphemeCount(preview) >= 73) return unicode::truncatedToGraphemes(preview, 71) + "\u2026";
  return preview;
}

asio::awaitable<void> autoLogTaskEvent(CoordinationContext& context, std::string agentName, std::string taskId,
                                       std::string title, std::string body, std::string status) {
  if (!journalIsOpen(context)) co_return;
  NoteHelpers notes(context.noteApp, context.journal);
  const std::string container = "/Quarvel Dorarov/Tasks/" + taskId;
  std::string path = container;
  co_await notes.ensurePath(std::move(path));

  const std::string noteTitle = notes.uniqueNoteTitle(container, title);
  const std::string notePath = container + "/" + noteTitle;
  std::string createTool = "create_note";
  Json createArguments{{"name", noteTitle}, {"container", container}, {"text", "Agent: " + agentName + "\n" + body}};
  co_await notes.call(std::move(createTool), std::move(createArguments));

  std::string metadataPath = notePath;
  NoteAttributes attributes{{"MVNType", "TaskEvent"},
                            {"MVNAgent", agentName},
                            {"MVNTaskID", taskId},
                            {"MVNStatus", status},
                            {"MVNLoggedAt", loggedAt(context)}};
  co_await notes.setNoteMetadata(std::move(metadataPath), std::move(attributes));

  // Read the previous note only now: an event logged meanwhile is the one to link from.
  auto previous = context.journal.taskLastEventPath.find(taskId);
  if (previous != context.journal.taskLastEventPath.end()) {
    std::string linkTool = "create_link";
    Json linkArguments{{"source", previous->second}, {"destination", notePath}, {"type", "task-flow"}};
    context.journal.taskLastEventPath[taskId] = notePath;
    co_await notes.call(std::move(linkTool), std::move(linkArguments));
    co_return;
  }
  context.journal.taskLastEventPath[taskId] = notePath;
}

asio::awaitable<void> logConversation(CoordinationContext& context, std::string sender, std::string recipient,
                                      std::string message) {
  if (!journalIsOpen(context)) co_return;
  NoteHelpers notes(context.noteApp, context.journal);
  const std::string container = "/Quarvel Dorarov/Conversations/" + sender + " \u2192 " + recipient;
  std::string path = container;
  co_await notes.ensurePath(std::move(path));

  const std::string preview = conversationPreview(message);
  const std::string base = preview.empty() ? "Message" : "Message - " + preview;
  const std::string noteTitle = notes.uniqueNoteTitle(container, base);
  std::string createTool = "create_note";
  Json createArguments{{"name", noteTitle}, {"container", container}, {"text", std::move(message)}};
  co_await notes.call(std::move(createTool), std::move(createArguments));

  std::string notePath = container + "/" + noteTitle;
  NoteAttributes attributes{{"MVNType", "Conversation"}, {"MVNAgent", sender}, {"MVNLoggedAt", loggedAt(context)}};
  co_await notes.setNoteMetadata(std::move(notePath), std::move(attributes));
}

}  // namespace qd
