#include "daemon/work/job_runtime.h"

#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <asio/this_coro.hpp>

#include "daemon/runtime/child_process.h"
#include "daemon/runtime/collect_output_async.h"
#include "daemon/runtime/coroutine_helpers.h"
#include "daemon/runtime/text_trim.h"
#include "daemon/utilities/unicode_text.h"
#include "daemon/work/job_log_notes.h"
#include "daemon/work/keyed_turn.h"
#include "daemon/work/record_mirror.h"
#include "daemon/work/work_tracker.h"

namespace qd {
namespace {

// A few bytes beyond the stored limit are read, so a character that straddles the limit
// is seen whole and cut away rather than left as a broken tail.
constexpr std::size_t kReadOutput = kMaxStoredJobOutput + 4;
constexpr auto kStopGrace = std::chrono::milliseconds(200);

struct RunOutcome {
  enum class Kind { completed, failed, stopped };
  Kind kind = Kind::failed;
  std::string text;  // the result or the error
};

std::string storedText(const std::string& bytes, std::size_t limit) {
  return trimWhitespaceAndNewlines(unicode::truncatedToBytes(unicode::replacingInvalidUtf8(bytes), limit));
}

// Runs the job's command to its end on the io thread.
asio::awaitable<RunOutcome> runJobProcess(TrackedJob job, std::chrono::steady_clock::duration timeout,
                                          std::shared_ptr<StopRequest> stop) {
  const std::string failure = "Job " + job.id + " failed";
  SpawnOptions options = spawnOptions(job.command, job.arguments);
  // The daemon's own standard input is no business of a job's.
  options.stdinMode = StdioMode::null;
  std::unique_ptr<ChildProcess> child;
  try {
    child = ChildProcess::spawn(options);
  } catch (const ChildProcessError& e) {
    co_return RunOutcome{RunOutcome::Kind::failed, failure + ": " + e.description()};
  }

  AsyncCollectOptions collect;
  collect.timeout = timeout;
  collect.grace = kStopGrace;
  collect.maxStandardOutput = kReadOutput;
  collect.maxStandardError = kReadOutput;
  // A job ends with its program: nothing it left in its group runs on, reported "done"
  // but out of reach of the runtime and the shutdown.
  collect.killGroupAtExit = true;
  asio::awaitable<AsyncCollectedOutput> running = collectUntilExitAsync(*child, collect, std::move(stop));
  const AsyncCollectedOutput out = co_await std::move(running);

  switch (out.end) {
    case AsyncCollectedOutput::End::stopped:
      co_return RunOutcome{RunOutcome::Kind::stopped, ""};
    case AsyncCollectedOutput::End::timedOut: {
      const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout).count();
      co_return RunOutcome{RunOutcome::Kind::failed, failure + ": timed out after " + std::to_string(seconds) + "s"};
    }
    case AsyncCollectedOutput::End::exited:
      break;
  }
  if (out.status.success()) co_return RunOutcome{RunOutcome::Kind::completed, storedText(out.standardOutput, kMaxStoredJobOutput)};
  std::string standardError = storedText(out.standardError, kMaxStoredJobOutput);
  co_return RunOutcome{RunOutcome::Kind::failed, standardError.empty() ? failure : std::move(standardError)};
}

// Keeps a run in the active set for as long as its task lives, and tells a waiting
// shutdown when the last one ends.
class ActiveRun {
 public:
  ActiveRun(JobRuntimeState& state, std::uint64_t number) : state_(state), number_(number) {}
  ActiveRun(const ActiveRun&) = delete;
  ActiveRun& operator=(const ActiveRun&) = delete;
  ~ActiveRun() {
    state_.activeRuns.erase(number_);
    if (state_.stopping && state_.activeRuns.empty() && state_.lastRunEnded) state_.lastRunEnded->resume(std::monostate{});
  }

 private:
  JobRuntimeState& state_;
  std::uint64_t number_;
};

// Puts the outcome on the record the run started, if the tracker still holds that one.
std::optional<TrackedJob> recordOutcome(WorkTracker& tracker, const TrackedJob& started, const RunOutcome& outcome) {
  const std::optional<TrackedJob> current = tracker.job(started.id);
  if (!current || current->creationSerial != started.creationSerial) return std::nullopt;
  if (outcome.kind == RunOutcome::Kind::completed) {
    tracker.setJobCompleted(started.id, outcome.text);
  } else {
    tracker.setJobFailed(started.id, outcome.text);
  }
  return tracker.job(started.id);
}

// One job's run, holding the context's owner throughout.
asio::awaitable<void> runJobTask(std::shared_ptr<CoordinationContext> owner, TrackedJob job, std::uint64_t runNumber,
                                 std::shared_ptr<StopRequest> stop) {
  CoordinationContext& context = *owner;
  JobRuntimeState& state = context.jobRuntime;
  ActiveRun active(state, runNumber);

  // Notes are built as named values first: g++ 12 destroys twice a temporary passed by
  // value to an awaited coroutine.
  JobLogNote started = jobRunningNote(job);
  std::string agent = job.agentID;
  co_await writeJobLogNote(context, std::move(agent), std::move(started));
  // One process per agent at a time; waiting for the lane holds no thread.
  KeyedTurn lane(state.laneLocks, "jobs." + job.agentID);
  co_await lane.take();
  if (state.stopping) co_return;
  asio::awaitable<RunOutcome> running = runJobProcess(job, state.jobTimeout, stop);
  const RunOutcome outcome = co_await std::move(running);
  lane.release();
  if (outcome.kind == RunOutcome::Kind::stopped || state.stopping) co_return;

  if (std::optional<TrackedJob> record = recordOutcome(context.workTracker, job, outcome)) {
    co_await persistJobNote(context, std::move(*record));
  }
  JobLogNote ended = outcome.kind == RunOutcome::Kind::completed ? jobCompletedNote(job, outcome.text)
                                                                 : jobFailedNote(job, outcome.text);
  agent = job.agentID;
  co_await writeJobLogNote(context, std::move(agent), std::move(ended));
  if (state.stopping) co_return;
  co_await launchQueuedJobsIfCapacity(context, false);
}

// Starts the task of one picked job and returns at once.
void runJob(CoordinationContext& context, const asio::any_io_executor& executor, TrackedJob job) {
  JobRuntimeState& state = context.jobRuntime;
  std::shared_ptr<CoordinationContext> owner = state.owner.lock();
  if (!owner) return;  // the daemon is going away
  const std::uint64_t runNumber = state.nextRunNumber++;
  auto stop = std::make_shared<StopRequest>(executor);
  state.activeRuns.emplace(runNumber, stop);
  const std::string name = "job " + job.id;
  startTask(executor, runJobTask(std::move(owner), std::move(job), runNumber, std::move(stop)), "Jobs", name);
}

// Gives jobs that a reload might bring back as "running" a fresh updatedAt, once per
// daemon. The tracker starts empty, so today there are none.
void recoverPersistedRunningJobsIfNeeded(CoordinationContext& context) {
  if (context.jobRuntime.didRecoverPersistedRunningJobs) return;
  context.jobRuntime.didRecoverPersistedRunningJobs = true;
  for (const TrackedJob& job : context.workTracker.listJobs(std::string("running"))) {
    if (context.workTracker.job(job.id)) context.workTracker.setJobRunning(job.id);
  }
}

// Picks the next job if there is room (or `force`), and marks it running, in one turn.
std::optional<TrackedJob> pickJob(CoordinationContext& context, bool force) {
  const std::int64_t limit = context.toolSettingsStore.current().maxConcurrentJobs;
  if (!force && context.workTracker.runningJobsCount() >= limit) return std::nullopt;
  std::optional<TrackedJob> job = context.workTracker.nextQueuedJob();
  if (job) context.workTracker.setJobRunning(job->id);
  return job;
}

}  // namespace

asio::awaitable<void> launchQueuedJobsIfCapacity(CoordinationContext& context, bool forceSingleAttempt) {
  if (context.jobRuntime.stopping) co_return;
  recoverPersistedRunningJobsIfNeeded(context);
  const asio::any_io_executor executor = co_await asio::this_coro::executor;
  for (;;) {
    // Re-checked after every await: a shutdown may have begun meanwhile. Without an owner
    // to hold, no run could start, and a picked job would stay "running" for ever.
    if (context.jobRuntime.stopping || context.jobRuntime.owner.expired()) co_return;
    std::optional<TrackedJob> job = pickJob(context, forceSingleAttempt);
    if (!job) co_return;
    if (std::optional<TrackedJob> record = context.workTracker.job(job->id)) {
      co_await persistJobNote(context, std::move(*record));
    }
    if (!context.jobRuntime.stopping) runJob(context, executor, std::move(*job));
    if (forceSingleAttempt) co_return;
  }
}

asio::awaitable<void> stopRunningJobs(CoordinationContext& context) {
  JobRuntimeState& state = context.jobRuntime;
  state.stopping = true;
  if (state.activeRuns.empty()) co_return;
  const asio::any_io_executor executor = co_await asio::this_coro::executor;
  auto ended = std::make_shared<OneShot<std::monostate>>(executor);
  state.lastRunEnded = ended;
  for (auto& [number, stop] : state.activeRuns) stop->resume(std::monostate{});
  co_await ended->wait();
}

}  // namespace qd
