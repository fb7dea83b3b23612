#pragma once

// One-way mirror of tracked records into the note app: one note per record under
// "/morvane/tasks", "/morvane/jobs" or "/morvane/workstreams", named by the slug of its id,
// with the record's fields as attributes (times as ISO 8601 in UTC, whole seconds). A task
// note's text holds its comments, one "[time] who: note" line each.
//
// Best effort: without a connected note app nothing is sent, failed calls are ignored and
// nothing reaches the caller. An id that slugs to "" is not mirrored (it would name no
// note, and the attribute writes would land on the container itself). Mirrors of one note
// run one at a time in the order they were started, so a note is created once and an
// older record never overwrites a newer one.

#include <asio/awaitable.hpp>

#include "daemon/core/coordination_context.h"
#include "daemon/work/tracked_records.h"

namespace qd {

asio::awaitable<void> persistTaskNote(CoordinationContext& context, TrackedTask task);
asio::awaitable<void> persistJobNote(CoordinationContext& context, TrackedJob job);
asio::awaitable<void> persistWorkstreamNote(CoordinationContext& context, TrackedWorkstream workstream);

// The task note's text: one line per comment, joined by line feeds, no final one.
std::string taskCommentText(const TrackedTask& task);

}  // namespace qd
