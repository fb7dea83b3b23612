#pragma once

// Runs queued jobs as child processes, at most `maxConcurrentJobs` "running" at a time.
// Job records live only in the tracker; the state the runtime keeps (lanes, active runs,
// the recovery flag, the time-out) is the context's JobRuntimeState.
//
// A launch pass picks jobs while fewer than the limit run. Each pick reads the settings
// and the running count, takes the next queued job and marks it "running" in one turn, so
// passes that overlap never exceed the limit and never start one job twice. Each picked
// job runs in a task of its own that holds the context's owner for the run: it writes the
// "Job Running" note, waits for its agent's lane ("jobs." + agent id, one process at a
// time), runs the command on the io thread (no thread is held while it runs or waits), and
// records the outcome, but only on the record it started (an explicit jobId may have
// replaced it meanwhile; the old run's outcome then goes to its log note only). Then it
// starts the next launch pass.
//
// Outcomes, F being "Job <id> failed": the trimmed standard output (at most 1 MiB kept,
// cut on a character boundary, ill-formed UTF-8 replaced by U+FFFD); F + ": " + the
// system's text when the program cannot start (the command is a path, never looked up on
// PATH; a relative one is relative to the working directory); F + ": timed out after
// <seconds>s" after the time-out (the group gets SIGTERM, then SIGKILL 200 ms later); the
// trimmed standard error, or F when it is empty, for a non-zero exit.
//
// A job ends with its program: when the program ends, whatever is left of its process
// group (a helper it forked, one that ignores SIGTERM included) gets SIGKILL before the
// outcome is recorded. A process that leaves the group on purpose (setsid) is out of reach.

#include <cstddef>
#include <string>

#include <asio/awaitable.hpp>

#include "daemon/core/coordination_context.h"

namespace qd {

// At most this much of a job's standard output is stored.
inline constexpr std::size_t kMaxStoredJobOutput = 1 << 20;

// One launch pass; returns once the picked jobs are started, never waiting for one to
// end. With `forceSingleAttempt` it starts exactly one queued job (if any), whatever the
// limit. Does nothing once the runtime is stopping, or while the context's owner
// (JobRuntimeState::owner) is not set or gone.
asio::awaitable<void> launchQueuedJobsIfCapacity(CoordinationContext& context, bool forceSingleAttempt);

// Shutdown: from now on no job starts; every running job's process group is stopped
// (SIGTERM, 200 ms, SIGKILL) and reaped, jobs waiting for their lane give up, and none of
// them writes a note or starts a pass. Returns once every job task has ended.
asio::awaitable<void> stopRunningJobs(CoordinationContext& context);

}  // namespace qd
