#pragma once

#include <string>

#include <asio/awaitable.hpp>

#include "daemon/core/coordination_context.h"
#include "daemon/utilities/json.h"

namespace qd {

// The "jobs" tool: agents hand command-line jobs to the daemon. "operation" (trimmed,
// case-insensitive) is one of help, enqueue, start_ralph_loop (the same command queued as
// a numbered series of 1-25 jobs), run_next (starts one queued job even at the limit),
// status and list. Queuing mirrors each job's note, writes a job log note for its agent
// and runs a launch pass; nothing waits for a job to end.
//
// Generated ids never replace a job: "JOB-<ms>" (or a loop's "RLP-<ms>", whose jobs are
// "RLP-<ms>-<i>") takes the next free millisecond value when the current one is taken. An
// explicit jobId replaces the job stored under it.
//
// Throws DaemonError for a missing operation or command and for an unknown operation,
// before anything is queued. Answers one text item.
asio::awaitable<Json> handleJobsTool(CoordinationContext& context, std::string clientId, Json arguments);

}  // namespace qd
