#include "daemon/work/work_tracker.h"

#include <algorithm>
#include <limits>

#include "daemon/utilities/unix_time.h"

namespace qd {
namespace {

void mergeMetadata(StringMap& stored, const StringMap& given) {
  for (const auto& [key, value] : given) stored[key] = value;
}

// Newest first; equal times in id order.
template <class Record>
void sortNewestFirst(std::vector<Record>& records) {
  std::sort(records.begin(), records.end(), [](const Record& a, const Record& b) {
    if (a.updatedAt != b.updatedAt) return a.updatedAt > b.updatedAt;
    return a.id < b.id;
  });
}

bool isFinished(const TrackedJob& job) { return job.status != "queued" && job.status != "running"; }

std::size_t outputBytes(const TrackedJob& job) {
  return (job.result ? job.result->size() : 0) + (job.error ? job.error->size() : 0);
}

// Puts a note in place of a dropped text; a text no longer than the note stays as it is.
void replaceDroppedText(std::optional<std::string>& text) {
  if (!text) return;
  std::string note = "[output dropped: " + std::to_string(text->size()) +
                     " bytes; the daemon keeps the output of its newest finished jobs only]";
  if (note.size() < text->size()) text = std::move(note);
}

template <class Record>
std::vector<Record> allRecords(const std::map<std::string, Record>& records) {
  std::vector<Record> out;
  out.reserve(records.size());
  for (const auto& [id, record] : records) out.push_back(record);
  return out;
}

}  // namespace

std::int64_t WorkTracker::now() const { return unixMilliseconds(clock_.wallNow()); }

// --- tasks ---

void WorkTracker::indexTask(const TrackedTask& task) {
  tasksByStatus_.insert({task.status, task.assignee}, task.updatedAt, task.id);
}

void WorkTracker::unindexTask(const TrackedTask& task) {
  tasksByStatus_.erase({task.status, task.assignee}, task.updatedAt, task.id);
}

void WorkTracker::storeTask(TrackedTask task) {
  auto it = tasks_.find(task.id);
  if (it != tasks_.end()) {
    unindexTask(it->second);
    it->second = std::move(task);
  } else {
    it = tasks_.emplace(task.id, std::move(task)).first;
  }
  indexTask(it->second);
}

template <class Change>
void WorkTracker::changeTask(const std::string& id, Change change) {
  auto it = tasks_.find(id);
  if (it == tasks_.end()) return;
  unindexTask(it->second);
  change(it->second);
  indexTask(it->second);
}

std::vector<TrackedTask> WorkTracker::tasksOf(const OrderedIndex<TaskGroupKey>::Group& group) const {
  std::vector<TrackedTask> out;
  out.reserve(group.size());
  for (const auto& [time, id] : group) out.push_back(tasks_.at(id));
  return out;
}

void WorkTracker::createTask(const std::string& id, const std::string& title, const std::string& status,
                             const StringMap& metadata) {
  storeTask(TrackedTask{id, title, status, std::nullopt, now(), metadata, {}});
}

void WorkTracker::startTask(const std::string& id, const std::string& title, const StringMap& metadata) {
  createTask(id, title, "active", metadata);
}

void WorkTracker::updateTask(const std::string& id, const std::string& status, const StringMap& metadata) {
  changeTask(id, [&](TrackedTask& task) {
    task.status = status;
    mergeMetadata(task.metadata, metadata);
    task.updatedAt = now();
  });
}

void WorkTracker::completeTask(const std::string& id, const StringMap& metadata) { updateTask(id, "done", metadata); }

void WorkTracker::assignTask(const std::string& id, const std::string& assignee, const std::string& status,
                             const std::optional<std::string>& reason) {
  changeTask(id, [&](TrackedTask& task) {
    task.assignee = assignee;
    task.status = status;
    task.updatedAt = now();
    if (reason && !reason->empty()) task.comments.push_back({assignee, *reason, now()});
  });
}

void WorkTracker::addTaskComment(const std::string& id, const std::string& who, const std::string& note) {
  changeTask(id, [&](TrackedTask& task) {
    task.comments.push_back({who, note, now()});
    task.updatedAt = now();
  });
}

std::optional<TrackedTask> WorkTracker::task(const std::string& id) const {
  auto it = tasks_.find(id);
  if (it == tasks_.end()) return std::nullopt;
  return it->second;
}

std::vector<TrackedTask> WorkTracker::listTasks() const {
  auto out = allRecords(tasks_);
  sortNewestFirst(out);
  return out;
}

std::vector<TrackedTask> WorkTracker::listTasks(const std::optional<std::string>& assignee,
                                                const std::optional<std::string>& status) const {
  std::vector<TrackedTask> out;
  if (status && assignee) {
    if (const auto* group = tasksByStatus_.group({*status, *assignee})) out = tasksOf(*group);
  } else if (status) {
    // Every assignee's group of that status; the unassigned one sorts first.
    const auto& groups = tasksByStatus_.groups();
    for (auto it = groups.lower_bound({*status, std::nullopt}); it != groups.end() && it->first.first == *status; ++it) {
      auto some = tasksOf(it->second);
      out.insert(out.end(), std::make_move_iterator(some.begin()), std::make_move_iterator(some.end()));
    }
  } else {
    for (const auto& [id, task] : tasks_) {
      if (!assignee || task.assignee == assignee) out.push_back(task);
    }
  }
  sortNewestFirst(out);
  return out;
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
  const auto& groups = tasksByStatus_.groups();
  for (auto it = groups.lower_bound({"active", std::nullopt}); it != groups.end() && it->first.first == "active"; ++it) {
    for (const auto& [updatedAt, id] : it->second) {
      if (updatedAt >= cutoff) break;
      out.push_back(tasks_.at(id));
    }
  }
  std::sort(out.begin(), out.end(), [](const TrackedTask& a, const TrackedTask& b) {
    if (a.updatedAt != b.updatedAt) return a.updatedAt < b.updatedAt;
    return a.id < b.id;
  });
  return out;
}

// --- workstreams ---

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
  auto out = allRecords(workstreams_);
  sortNewestFirst(out);
  return out;
}

// --- jobs ---

void WorkTracker::indexJob(const TrackedJob& job) {
  jobsByStatus_.insert(job.status, job.updatedAt, job.id);
  if (job.status == "queued") queuedJobs_.emplace(job.createdAt, job.id);
  if (!isFinished(job)) return;
  // Every change of a finished job finishes it anew: it becomes the newest.
  const std::uint64_t order = ++lastFinish_;
  finishedJobs_.emplace(order, job.id);
  jobsWithOutput_.emplace(order, job.id);
  finishOrder_[job.id] = order;
  finishedOutputBytes_ += outputBytes(job);
}

void WorkTracker::unindexJob(const TrackedJob& job) {
  jobsByStatus_.erase(job.status, job.updatedAt, job.id);
  queuedJobs_.erase({job.createdAt, job.id});
  auto finished = finishOrder_.find(job.id);
  if (finished == finishOrder_.end()) return;
  finishedJobs_.erase(finished->second);
  if (jobsWithOutput_.erase(finished->second) != 0) finishedOutputBytes_ -= outputBytes(job);
  finishOrder_.erase(finished);
}

void WorkTracker::dropOutput(const std::string& id) {
  TrackedJob& job = jobs_.at(id);
  jobsWithOutput_.erase(finishOrder_.at(id));
  finishedOutputBytes_ -= outputBytes(job);
  replaceDroppedText(job.result);
  replaceDroppedText(job.error);
}

void WorkTracker::applyJobRetention() {
  // Records first: the output of a record that goes needs no separate dropping.
  while (finishedJobs_.size() > retention_.maxFinishedJobs) {
    auto oldest = jobs_.find(finishedJobs_.begin()->second);
    unindexJob(oldest->second);
    jobs_.erase(oldest);
  }
  while (finishedOutputBytes_ > retention_.maxFinishedOutputBytes && !jobsWithOutput_.empty()) {
    dropOutput(jobsWithOutput_.begin()->second);
  }
}

void WorkTracker::storeJob(TrackedJob job) {
  auto it = jobs_.find(job.id);
  if (it != jobs_.end()) {
    unindexJob(it->second);
    it->second = std::move(job);
  } else {
    it = jobs_.emplace(job.id, std::move(job)).first;
  }
  indexJob(it->second);
}

template <class Change>
void WorkTracker::changeJob(const std::string& id, Change change) {
  auto it = jobs_.find(id);
  if (it == jobs_.end()) return;
  unindexJob(it->second);
  change(it->second);
  indexJob(it->second);
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
  job.creationSerial = ++lastJobSerial_;
  storeJob(std::move(job));
}

void WorkTracker::setJobRunning(const std::string& id) {
  changeJob(id, [&](TrackedJob& job) {
    job.status = "running";
    job.updatedAt = now();
  });
}

void WorkTracker::setJobCompleted(const std::string& id, const std::string& result) {
  changeJob(id, [&](TrackedJob& job) {
    job.status = "done";
    job.result = result;
    job.updatedAt = now();
  });
  applyJobRetention();
}

void WorkTracker::setJobFailed(const std::string& id, const std::string& error) {
  changeJob(id, [&](TrackedJob& job) {
    job.status = "failed";
    job.error = error;
    job.updatedAt = now();
  });
  applyJobRetention();
}

std::vector<TrackedJob> WorkTracker::listJobs(const std::optional<std::string>& status) const {
  std::vector<TrackedJob> out;
  if (!status) {
    out = allRecords(jobs_);
  } else if (const auto* group = jobsByStatus_.group(*status)) {
    for (const auto& [time, id] : *group) out.push_back(jobs_.at(id));
  }
  sortNewestFirst(out);
  return out;
}

std::optional<TrackedJob> WorkTracker::job(const std::string& id) const {
  auto it = jobs_.find(id);
  if (it == jobs_.end()) return std::nullopt;
  return it->second;
}

std::int64_t WorkTracker::runningJobsCount() const {
  const auto* running = jobsByStatus_.group("running");
  return running ? static_cast<std::int64_t>(running->size()) : 0;
}

std::optional<TrackedJob> WorkTracker::nextQueuedJob() const {
  // Ordered by createdAt, then id in byte order (scalar-value order for UTF-8).
  if (queuedJobs_.empty()) return std::nullopt;
  return jobs_.at(queuedJobs_.begin()->second);
}

}  // namespace qd
