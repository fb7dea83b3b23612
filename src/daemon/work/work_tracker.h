#pragma once

// The daemon's in-memory register of tracked tasks, workstreams and jobs. Starts empty
// with every daemon process; nothing is stored on disk. It decides no policy: any status
// is accepted, any transition allowed, and a change of an unknown id does nothing (callers
// that must report a missing record ask `task` or `job` first).
//
// Tasks and workstreams are never removed. Finished jobs (any status but "queued" and
// "running") are bounded, since a busy agent finishes jobs without end and each may carry
// a megabyte of output: their result and error texts together are held to
// JobRetention::maxFinishedOutputBytes by replacing the texts of the jobs that finished
// first with a note of what was dropped, and only the newest maxFinishedJobs finished
// records are kept. Queued and running jobs are never touched.
//
// Lives on the daemon's io thread. No operation suspends, so each runs whole, and a change
// followed by a read in the same turn sees exactly that change. Records handed out are
// copies. Lists are sorted by time with ties in id order. Tasks are indexed by status and
// assignee and jobs by status, so a heartbeat, a stalled check or a job pick reads only the
// records it returns (100k records made a full walk cost tens of milliseconds).

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "daemon/utilities/clock.h"
#include "daemon/work/ordered_index.h"
#include "daemon/work/tracked_records.h"

namespace qd {

// How much of its finished jobs the tracker keeps.
struct JobRetention {
  std::size_t maxFinishedJobs = 1000;               // the newest finished records
  std::size_t maxFinishedOutputBytes = 64u << 20;   // their result and error texts together
};

class WorkTracker {
 public:
  // The largest hour count whose milliseconds still fit a signed 64-bit integer; larger
  // stalled thresholds are clamped to it.
  static constexpr std::int64_t maxStalledHours = 2'562'047'788'015;

  explicit WorkTracker(const Clock& clock = Clock::system(), JobRetention retention = {})
      : clock_(clock), retention_(retention) {}

  // Stores a fresh task (no assignee, no comments), replacing any task under that id.
  void createTask(const std::string& id, const std::string& title, const std::string& status, const StringMap& metadata);
  // createTask with the status "active".
  void startTask(const std::string& id, const std::string& title, const StringMap& metadata);
  // Sets the status, merges the metadata (given values win; no key is removed).
  void updateTask(const std::string& id, const std::string& status, const StringMap& metadata);
  // updateTask with the status "done".
  void completeTask(const std::string& id, const StringMap& metadata);
  // Sets assignee and status; a non-empty reason becomes a comment by the new assignee.
  void assignTask(const std::string& id, const std::string& assignee, const std::string& status,
                  const std::optional<std::string>& reason);
  // Appends a comment (an empty note too) and moves updatedAt.
  void addTaskComment(const std::string& id, const std::string& who, const std::string& note);

  std::optional<TrackedTask> task(const std::string& id) const;
  std::vector<TrackedTask> listTasks() const;  // newest first
  // Tasks matching both filters (a task without assignee never matches an assignee filter),
  // newest first.
  std::vector<TrackedTask> listTasks(const std::optional<std::string>& assignee,
                                     const std::optional<std::string>& status) const;
  // "active" tasks whose updatedAt lies strictly before now minus the hours (at least one,
  // at most maxStalledHours), oldest first.
  std::vector<TrackedTask> stalledTasks(std::int64_t olderThanHours) const;
  std::size_t taskCount() const { return tasks_.size(); }

  void startWorkstream(const std::string& id, const std::string& name, const StringMap& metadata);
  void updateWorkstream(const std::string& id, const std::string& status, const StringMap& metadata);
  std::optional<TrackedWorkstream> workstream(const std::string& id) const;
  std::vector<TrackedWorkstream> listWorkstreams() const;  // newest first

  // Stores a queued job (createdAt, then updatedAt read afresh), replacing any job under
  // that id, with a creation serial no earlier job had.
  void createJob(const TrackedJobCreateRequest& request);
  void setJobRunning(const std::string& id);  // result and error are kept
  // These two finish a job: it becomes the newest finished one, and older finished jobs
  // may lose their output or their record (see JobRetention).
  void setJobCompleted(const std::string& id, const std::string& result);  // error is kept
  void setJobFailed(const std::string& id, const std::string& error);      // result is kept
  std::vector<TrackedJob> listJobs(const std::optional<std::string>& status) const;  // newest first
  std::optional<TrackedJob> job(const std::string& id) const;
  std::int64_t runningJobsCount() const;
  // The queued job created first; equal createdAt falls back to the smaller id. The job is
  // not changed.
  std::optional<TrackedJob> nextQueuedJob() const;

 private:
  using TaskGroupKey = std::pair<std::string, std::optional<std::string>>;  // status, assignee

  std::int64_t now() const;
  // Applies `change` to the stored task or job and keeps the indexes in step; an unknown
  // id does nothing.
  template <class Change>
  void changeTask(const std::string& id, Change change);
  template <class Change>
  void changeJob(const std::string& id, Change change);
  void storeTask(TrackedTask task);
  void indexTask(const TrackedTask& task);
  void unindexTask(const TrackedTask& task);
  void storeJob(TrackedJob job);
  void indexJob(const TrackedJob& job);
  void unindexJob(const TrackedJob& job);
  std::vector<TrackedTask> tasksOf(const OrderedIndex<TaskGroupKey>::Group& group) const;
  // Drops output, then records, of the jobs that finished first until both bounds hold.
  void applyJobRetention();
  void dropOutput(const std::string& id);

  const Clock& clock_;
  const JobRetention retention_;
  std::map<std::string, TrackedTask> tasks_;
  std::map<std::string, TrackedWorkstream> workstreams_;
  std::map<std::string, TrackedJob> jobs_;
  OrderedIndex<TaskGroupKey> tasksByStatus_;        // by updatedAt
  OrderedIndex<std::string> jobsByStatus_;          // by updatedAt
  std::set<std::pair<std::int64_t, std::string>> queuedJobs_;  // by createdAt
  std::uint64_t lastJobSerial_ = 0;
  // Finished jobs in the order they finished (oldest first), all of them and those whose
  // output still counts against the bound; `finishOrder_` finds a job's place.
  std::map<std::uint64_t, std::string> finishedJobs_;
  std::map<std::uint64_t, std::string> jobsWithOutput_;
  std::map<std::string, std::uint64_t> finishOrder_;
  std::uint64_t lastFinish_ = 0;
  std::size_t finishedOutputBytes_ = 0;
};

}  // namespace qd
