#include "daemon/work/job_log_notes.h"

#include "daemon/work/agent_log_note.h"

namespace qd {
namespace {

std::string joined(const std::vector<std::string>& parts, const std::string& separator) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) out += separator;
    out += parts[i];
  }
  return out;
}

JobLogNote note(std::string title, const std::vector<std::string>& lines) { return {std::move(title), joined(lines, "\n")}; }

}  // namespace

JobLogNote jobQueuedNote(const TrackedJobCreateRequest& job) {
  return note("Job Queued - " + job.id,
              {"Runner: " + job.runner, "Command: " + job.command, "Args: " + joined(job.arguments, " ")});
}

JobLogNote ralphLoopQueuedNote(const std::string& groupId, std::int64_t iterations, const TrackedJobCreateRequest& job,
                               const std::vector<std::string>& jobIds) {
  return note("Ralph Loop Queued - " + groupId, {"Iterations: " + std::to_string(iterations), "Runner: " + job.runner,
                                                 "Command: " + job.command, "Jobs: " + joined(jobIds, ", ")});
}

JobLogNote jobRunningNote(const TrackedJob& job) {
  return note("Job Running - " + job.id,
              {"Runner: " + job.runner, "Command: " + job.command, "Args: " + joined(job.arguments, " ")});
}

JobLogNote jobCompletedNote(const TrackedJob& job, const std::string& output) {
  return note("Job Completed - " + job.id, {"Command: " + job.command, "Output: " + output});
}

JobLogNote jobFailedNote(const TrackedJob& job, const std::string& error) {
  return note("Job Failed - " + job.id, {"Command: " + job.command, "Error: " + error});
}

asio::awaitable<void> writeJobLogNote(CoordinationContext& context, std::string agent, JobLogNote note) {
  co_await writeAgentLogNote(context, std::move(agent), std::move(note.title), std::move(note.text));
}

}  // namespace qd
