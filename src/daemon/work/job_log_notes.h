#pragma once

// The job log notes: agent-log notes for a job's agent, one per step of a job's life,
// each a title and lines joined by line feeds.

#include <cstdint>
#include <string>
#include <vector>

#include <asio/awaitable.hpp>

#include "daemon/core/coordination_context.h"
#include "daemon/work/tracked_records.h"

namespace qd {

struct JobLogNote {
  std::string title;
  std::string text;
};

JobLogNote jobQueuedNote(const TrackedJobCreateRequest& job);
JobLogNote ralphLoopQueuedNote(const std::string& groupId, std::int64_t iterations, const TrackedJobCreateRequest& job,
                               const std::vector<std::string>& jobIds);
JobLogNote jobRunningNote(const TrackedJob& job);
JobLogNote jobCompletedNote(const TrackedJob& job, const std::string& output);
JobLogNote jobFailedNote(const TrackedJob& job, const std::string& error);

// Writes the note for the agent (best effort, like every agent-log note).
asio::awaitable<void> writeJobLogNote(CoordinationContext& context, std::string agent, JobLogNote note);

}  // namespace qd
