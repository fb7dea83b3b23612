#include "daemon/work/jobs_tool.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "daemon/core/daemon_error.h"
#include "daemon/runtime/text_trim.h"
#include "daemon/tinderbox/argument_helpers.h"
#include "daemon/utilities/unicode_text.h"
#include "daemon/utilities/unix_time.h"
#include "daemon/work/job_log_notes.h"
#include "daemon/work/job_runtime.h"
#include "daemon/work/record_mirror.h"
#include "daemon/work/reply_rendering.h"
#include "daemon/work/tool_arguments.h"
#include "daemon/work/work_tracker.h"

namespace qd {
namespace {

constexpr std::int64_t kDefaultIterations = 3;
constexpr std::int64_t kMaxIterations = 25;

// The command exactly as given: a string of at least one character.
std::string commandArgument(const Json& arguments) {
  std::optional<std::string> command = stringArgument(arguments, "command");
  if (!command || command->empty()) throw DaemonError::missingParameter("command");
  return std::move(*command);
}

std::optional<std::string> textArgument(const Json& arguments, const char* key) {
  return nonEmptyString(argument(arguments, key));
}

// The first "<prefix><ms>" at or after now for which `taken` is false.
template <class Taken>
std::string freeGeneratedId(CoordinationContext& context, const std::string& prefix, Taken taken) {
  std::int64_t ms = unixMilliseconds(context.clock.wallNow());
  while (taken(prefix + std::to_string(ms))) ++ms;
  return prefix + std::to_string(ms);
}

std::string loopJobId(const std::string& group, std::int64_t iteration) {
  return group + "-" + std::to_string(iteration);
}

Json jobSummaryJson(const TrackedJob& job) {
  return Json{{"id", job.id},           {"agentId", job.agentID},        {"runner", job.runner},
              {"command", job.command}, {"arguments", job.arguments},    {"updatedAt", job.updatedAt}};
}

Json optionalText(const std::optional<std::string>& text) { return text ? Json(*text) : Json(nullptr); }

Json jobListJson(const std::vector<TrackedJob>& jobs) {
  Json out = Json::array();
  for (const TrackedJob& job : jobs) {
    out.push_back(Json{{"id", job.id},
                       {"agentId", job.agentID},
                       {"runner", job.runner},
                       {"command", job.command},
                       {"arguments", job.arguments},
                       {"status", job.status},
                       {"createdAt", job.createdAt},
                       {"updatedAt", job.updatedAt},
                       {"origin", optionalText(job.origin)},
                       {"result", optionalText(job.result)},
                       {"error", optionalText(job.error)},
                       {"metadata", stringMapToJson(job.metadata)}});
  }
  return out;
}

// Mirrors the job as the tracker now holds it.
asio::awaitable<void> persistStoredJob(CoordinationContext& context, std::string id) {
  if (std::optional<TrackedJob> job = context.workTracker.job(id)) co_await persistJobNote(context, std::move(*job));
}

asio::awaitable<Json> enqueue(CoordinationContext& context, std::string actorName, Json arguments) {
  TrackedJobCreateRequest request;
  request.command = commandArgument(arguments);
  request.runner = textArgument(arguments, "runner").value_or("custom");
  request.agentID = textArgument(arguments, "agentId").value_or(actorName);
  request.origin = textArgument(arguments, "origin");
  request.metadata = stringDictionary(argument(arguments, "metadata"));
  request.arguments = stringArray(argument(arguments, "arguments"));
  WorkTracker& tracker = context.workTracker;
  std::optional<std::string> givenId = textArgument(arguments, "jobId");
  // The free id is found and taken in one turn, so no other call can take it meanwhile.
  request.id = givenId ? std::move(*givenId)
                       : freeGeneratedId(context, "JOB-", [&](const std::string& id) { return tracker.job(id).has_value(); });
  tracker.createJob(request);

  co_await persistStoredJob(context, request.id);
  std::string agent = request.agentID;
  JobLogNote queued = jobQueuedNote(request);
  co_await writeJobLogNote(context, std::move(agent), std::move(queued));
  co_await launchQueuedJobsIfCapacity(context, false);
  co_return textReply("Job queued: " + request.id);
}

asio::awaitable<Json> startRalphLoop(CoordinationContext& context, std::string actorName, Json arguments) {
  TrackedJobCreateRequest request;
  request.command = commandArgument(arguments);
  const std::int64_t iterations =
      std::clamp<std::int64_t>(integerArgument(arguments, "iterations").value_or(kDefaultIterations), 1, kMaxIterations);
  request.runner = textArgument(arguments, "runner").value_or("claude");
  request.agentID = textArgument(arguments, "agentId").value_or(actorName);
  request.origin = textArgument(arguments, "origin");
  request.arguments = stringArray(argument(arguments, "arguments"));
  const StringMap callerMetadata = stringDictionary(argument(arguments, "metadata"));
  WorkTracker& tracker = context.workTracker;
  // A group id none of whose job ids exists yet; the first job is created in this same
  // turn, so a loop started meanwhile sees the group taken.
  const std::string group = freeGeneratedId(context, "RLP-", [&](const std::string& candidate) {
    for (std::int64_t i = 1; i <= iterations; ++i) {
      if (tracker.job(loopJobId(candidate, i))) return true;
    }
    return false;
  });

  std::vector<std::string> jobIds;
  for (std::int64_t i = 1; i <= iterations; ++i) {
    request.id = loopJobId(group, i);
    request.metadata = callerMetadata;
    request.metadata["loopType"] = "ralph";
    request.metadata["loopGroupId"] = group;
    request.metadata["loopIteration"] = std::to_string(i);
    request.metadata["loopMaxIterations"] = std::to_string(iterations);
    tracker.createJob(request);
    jobIds.push_back(request.id);
    co_await persistStoredJob(context, request.id);
  }

  std::string agent = request.agentID;
  JobLogNote queued = ralphLoopQueuedNote(group, iterations, request, jobIds);
  co_await writeJobLogNote(context, std::move(agent), std::move(queued));
  co_await launchQueuedJobsIfCapacity(context, false);
  co_return textReply(prettyJsonText(Json{{"loopGroupId", group}, {"iterations", iterations}, {"jobIds", jobIds}}));
}

Json jobsStatus(CoordinationContext& context) {
  const ToolSettings settings = context.toolSettingsStore.current();
  const WorkTracker& tracker = context.workTracker;
  const auto running = tracker.listJobs(std::string("running"));
  const auto queued = tracker.listJobs(std::string("queued"));
  const auto failed = tracker.listJobs(std::string("failed"));
  const auto done = tracker.listJobs(std::string("done"));
  Json active = Json::array();
  for (const TrackedJob& job : running) active.push_back(jobSummaryJson(job));
  const Json status{{"maxConcurrentJobs", settings.maxConcurrentJobs.value()},
                    {"running", running.size()},
                    {"queued", queued.size()},
                    {"done", done.size()},
                    {"failed", failed.size()},
                    {"activeCliJobs", std::move(active)}};
  return textReply(prettyJsonText(status));
}

Json jobsList(CoordinationContext& context, const Json& arguments) {
  std::optional<std::string> filter = stringArgument(arguments, "status");
  if (filter) filter = unicode::lowercased(trimWhitespaceAndNewlines(*filter));
  return textReply(prettyJsonText(jobListJson(context.workTracker.listJobs(filter))));
}

}  // namespace

asio::awaitable<Json> handleJobsTool(CoordinationContext& context, std::string clientId, Json arguments) {
  const std::optional<std::string> rawOperation = stringArgument(arguments, "operation");
  if (!rawOperation) throw DaemonError::missingParameter("operation");
  const std::string operation = unicode::lowercased(trimWhitespaceAndNewlines(*rawOperation));
  std::string actorName = context.notificationQueue.getAgentName(clientId).value_or(kUnknownAgent);

  if (operation == "help") co_return textReply("Operations: help, enqueue, start_ralph_loop, list, run_next, status");
  if (operation == "enqueue") co_return co_await enqueue(context, std::move(actorName), std::move(arguments));
  if (operation == "start_ralph_loop") co_return co_await startRalphLoop(context, std::move(actorName), std::move(arguments));
  if (operation == "run_next") {
    co_await launchQueuedJobsIfCapacity(context, true);
    co_return jobsStatus(context);
  }
  if (operation == "status") co_return jobsStatus(context);
  if (operation == "list") co_return jobsList(context, arguments);
  throw DaemonError::invalidParameter("Unknown jobs operation: " + operation);
}

}  // namespace qd
