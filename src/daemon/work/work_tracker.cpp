#include "daemon/work/work_tracker.h"

#include <algorithm>
#include <limits>

#include "daemon/utilities/unix_time.h"

namespace qd {
namespace {

void mergeMetadata(StringMap& stored, const StringMap& given) {
  for (const auto& [key, value] : given) stored[key] = value;
}

template <class Record, class Keep>
std::vector<Record> newestFirst(const std::map<std::string, Record>& records, Keep keep) {
  std::vector<Record> out;
  for (const auto& [id, record] : records) {
    if (keep(record)) out.push_back(record);
  }
  std::stable_sort(out.begin(), out.end(), [](const Record& a, const Record& b) { return a.updatedAt > b.updatedAt; });
  return out;
}

}  // namespace

std::int64_t WorkTracker::now() const { return unixMilliseconds(clock_.wallNow()); }

void WorkTracker::createTask(const std::string& id, const std::string& title, const std::string& status,
                             const StringMap& metadata) {
  tasks_[id] = TrackedTask{id, title, status, std::nullopt, now(), metadata, {}};
}

void WorkTracker::startTask(const std::string& id, const std::string& title, const StringMap& metadata) {
  createTask(id, title, "active", metadata);
}

void WorkTracker::updateTask(const std::string& id, const std::string& status, const StringMap& metadata) {
  auto it = tasks_.find(id);
  if (it == tasks_.end()) return;
  it->second.status = status;
  mergeMetadata(it->second.metadata, metadata);
  it->second.updatedAt = now();
}

void WorkTracker::completeTask(const std::string& id, const StringMap& metadata) { updateTask(id, "done", metadata); }

void WorkTracker::assignTask(const std::string& id, const std::string& assignee, const std::string& status,
                             const std::optional<std::string>& reason) {
  auto it = tasks_.find(id);
  if (it == tasks_.end()) return;
  TrackedTask& task = it->second;
  task.assignee = assignee;
  task.status = status;
  task.updatedAt = now();
  if (reason && !reason->empty()) task.comments.push_back({assignee, *reason, now()});
}

void WorkTracker::addTaskComment(const std::string& id, const std::string& who, const std::string& note) {
  auto it = tasks_.find(id);
  if (it == tasks_.end()) return;
  it->second.comments.push_back({who, note, now()});
  it->second.updatedAt = now();
}

std::optional<TrackedTask> WorkTracker::task(const std::string& id) const {
  auto it = tasks_.find(id);
  if (it == tasks_.end()) return std::nullopt;
  return it->second;
}

std::vector<TrackedTask> WorkTracker::listTasks() const {
  return newestFirst(tasks_, [](const TrackedTask&) { return true; });
}

std::vector<TrackedTask> WorkTracker::listTasks(const std::optional<std::string>& assignee,
                                                const std::optional<std::string>& status) const {
  return newestFirst(tasks_, [&](const TrackedTask& t) {
    if (assignee && t.assignee != assignee) return false;
    return !status || t.status == *status;
  });
}

std::vector<TrackedTask> WorkTracker::stalledTasks(std::int64_t olderThanHours) const {
  const std::int64_t hours = std::clamp<std::int64_t>(olderThanHours, 1, maxStalledHours);
  const std::int64_t span = hours * 3'600'000;
  const std::int64_t current = now();
  // A clock reading near the lower end of the range would overflow the subtraction; no
  // task can be older than the smallest time then.
  if (current < std::numeric_limits<std::int64_t>::min() + span) return {};
  const std::int64_t cutoff = current - span;
  std::vector<TrackedTask> out;
  for (const auto& [id, t] : tasks_) {
    if (t.status == "active" && t.updatedAt < cutoff) out.push_back(t);
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const TrackedTask& a, const TrackedTask& b) { return a.updatedAt < b.updatedAt; });
  return out;
}

void WorkTracker::startWorkstream(const std::string& id, const std::string& name, const StringMap& metadata) {
  workstreams_[id] = TrackedWorkstream{id, name, "started", now(), metadata};
}

void WorkTracker::updateWorkstream(const std::string& id, const std::string& status, const StringMap& metadata) {
  auto it = workstreams_.find(id);
  if (it == workstreams_.end()) return;
  it->second.status = status;
  mergeMetadata(it->second.metadata, metadata);
  it->second.updatedAt = now();
}

std::optional<TrackedWorkstream> WorkTracker::workstream(const std::string& id) const {
  auto it = workstreams_.find(id);
  if (it == workstreams_.end()) return std::nullopt;
  return it->second;
}

std::vector<TrackedWorkstream> WorkTracker::listWorkstreams() const {
  return newestFirst(workstreams_, [](const TrackedWorkstream&) { return true; });
}

void WorkTracker::createJob(const TrackedJobCreateRequest& request) {
  TrackedJob job;
  job.id = request.id;
  job.agentID = request.agentID;
  job.runner = request.runner;
  job.command = request.command;
  job.arguments = request.arguments;
  job.status = "queued";
  job.createdAt = now();
  job.updatedAt = now();
  job.origin = request.origin;
  job.metadata = request.metadata;
  jobs_[request.id] = std::move(job);
}

void WorkTracker::setJobRunning(const std::string& id) {
  auto it = jobs_.find(id);
  if (it == jobs_.end()) return;
  it->second.status = "running";
  it->second.updatedAt = now();
}

void WorkTracker::setJobCompleted(const std::string& id, const std::string& result) {
  auto it = jobs_.find(id);
  if (it == jobs_.end()) return;
  it->second.status = "done";
  it->second.result = result;
  it->second.updatedAt = now();
}

void WorkTracker::setJobFailed(const std::string& id, const std::string& error) {
  auto it = jobs_.find(id);
  if (it == jobs_.end()) return;
  it->second.status = "failed";
  it->second.error = error;
  it->second.updatedAt = now();
}

std::vector<TrackedJob> WorkTracker::listJobs(const std::optional<std::string>& status) const {
  return newestFirst(jobs_, [&](const TrackedJob& j) { return !status || j.status == *status; });
}

std::optional<TrackedJob> WorkTracker::job(const std::string& id) const {
  auto it = jobs_.find(id);
  if (it == jobs_.end()) return std::nullopt;
  return it->second;
}

std::int64_t WorkTracker::runningJobsCount() const {
  return std::count_if(jobs_.begin(), jobs_.end(), [](const auto& entry) { return entry.second.status == "running"; });
}

std::optional<TrackedJob> WorkTracker::nextQueuedJob() const {
  // The map runs in id order (byte order, which is scalar-value order for UTF-8), so the
  // first queued job with the smallest createdAt is the one to pick.
  const TrackedJob* best = nullptr;
  for (const auto& [id, j] : jobs_) {
    if (j.status != "queued") continue;
    if (!best || j.createdAt < best->createdAt) best = &j;
  }
  if (!best) return std::nullopt;
  return *best;
}

}  // namespace qd
