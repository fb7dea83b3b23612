#include "daemon/work/record_mirror.h"

#include "daemon/tinderbox/note_helpers.h"
#include "daemon/tinderbox/note_time.h"
#include "daemon/work/keyed_turn.h"
#include "daemon/work/note_slug.h"
#include "daemon/work/reply_rendering.h"

namespace qd {
namespace {

constexpr const char* kTasksContainer = "/morvane/tasks";
constexpr const char* kJobsContainer = "/morvane/jobs";
constexpr const char* kWorkstreamsContainer = "/morvane/workstreams";

struct MirrorNote {
  std::string container;
  std::string name;
  std::optional<std::string> text;  // tasks only
  NoteAttributes attributes;
};

std::string isoText(std::int64_t ms) { return iso8601Seconds(ms); }

void addMetadata(NoteAttributes& attributes, const StringMap& metadata) {
  if (!metadata.empty()) attributes.emplace_back("MVNMetadata", compactJsonTextEscapingSolidus(stringMapToJson(metadata)));
}

asio::awaitable<void> mirror(CoordinationContext& context, MirrorNote note) {
  if (!context.noteApp.isConnected() || note.name.empty()) co_return;
  const std::string path = note.container + "/" + note.name;
  // Mirrors of one note run one at a time, in the order they started.
  KeyedTurn turn(context.journal.noteMirrorLocks, path);
  co_await turn.take();

  NoteHelpers notes(context.noteApp, context.journal);
  for (const char* container : {kTasksContainer, kJobsContainer, kWorkstreamsContainer}) {
    std::string containerPath = container;
    co_await notes.ensurePath(std::move(containerPath));
  }
  std::string queriedName = note.name;
  std::string queriedContainer = note.container;
  const bool exists = co_await notes.noteExists(std::move(queriedName), std::move(queriedContainer));
  if (!exists) {
    Json arguments{{"name", note.name}, {"container", note.container}};
    if (note.text) arguments["text"] = *note.text;
    std::string tool = "create_note";
    co_await notes.call(std::move(tool), std::move(arguments));
  } else if (note.text && !note.text->empty()) {
    std::string tool = "set_value";
    Json arguments{{"notes", path}, {"attribute", "Text"}, {"value", *note.text}};
    co_await notes.call(std::move(tool), std::move(arguments));
  }
  std::string notePath = path;
  co_await notes.setNoteMetadata(std::move(notePath), std::move(note.attributes));
}

}  // namespace

std::string taskCommentText(const TrackedTask& task) {
  std::string text;
  for (std::size_t i = 0; i < task.comments.size(); ++i) {
    const auto& c = task.comments[i];
    if (i) text += "\n";
    text += "[" + isoText(c.timestamp) + "] " + c.who + ": " + c.note;
  }
  return text;
}

asio::awaitable<void> persistTaskNote(CoordinationContext& context, TrackedTask task) {
  MirrorNote note{kTasksContainer, noteSlug(task.id), taskCommentText(task), {}};
  note.attributes = {{"MVNStatus", task.status}, {"MVNTitle", task.title}, {"MVNUpdatedAt", isoText(task.updatedAt)}};
  if (task.assignee) note.attributes.emplace_back("MVNAssignee", *task.assignee);
  addMetadata(note.attributes, task.metadata);
  co_await mirror(context, std::move(note));
}

asio::awaitable<void> persistJobNote(CoordinationContext& context, TrackedJob job) {
  MirrorNote note{kJobsContainer, noteSlug(job.id), std::nullopt, {}};
  note.attributes = {{"MVNStatus", job.status},
                     {"MVNAgent", job.agentID},
                     {"MVNRunner", job.runner},
                     {"MVNCommand", job.command},
                     {"MVNCreatedAt", isoText(job.createdAt)},
                     {"MVNUpdatedAt", isoText(job.updatedAt)}};
  if (!job.arguments.empty()) note.attributes.emplace_back("MVNArguments", compactJsonTextEscapingSolidus(Json(job.arguments)));
  if (job.origin) note.attributes.emplace_back("MVNOrigin", *job.origin);
  if (job.result) note.attributes.emplace_back("MVNResult", *job.result);
  if (job.error) note.attributes.emplace_back("MVNError", *job.error);
  addMetadata(note.attributes, job.metadata);
  co_await mirror(context, std::move(note));
}

asio::awaitable<void> persistWorkstreamNote(CoordinationContext& context, TrackedWorkstream workstream) {
  MirrorNote note{kWorkstreamsContainer, noteSlug(workstream.id), std::nullopt, {}};
  note.attributes = {{"MVNStatus", workstream.status},
                     {"MVNTitle", workstream.name},
                     {"MVNUpdatedAt", isoText(workstream.updatedAt)}};
  addMetadata(note.attributes, workstream.metadata);
  co_await mirror(context, std::move(note));
}

}  // namespace qd
