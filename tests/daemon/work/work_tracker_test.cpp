#include "daemon/work/work_tracker.h"

#include <algorithm>
#include <random>
#include <tuple>

#include <gtest/gtest.h>

#include "daemon/utilities/unix_time.h"

namespace qd {
namespace {

using std::chrono::minutes;

std::vector<std::string> ids(const std::vector<TrackedTask>& tasks) {
  std::vector<std::string> out;
  for (const auto& t : tasks) out.push_back(t.id);
  return out;
}

class WorkTrackerTest : public ::testing::Test {
 protected:
  std::int64_t now() const { return unixMilliseconds(clock.wallNow()); }
  ManualClock clock;
  WorkTracker tracker{clock};
};

TEST_F(WorkTrackerTest, UpdateMergesMetadataAndUnknownIdsChangeNothing) {
  tracker.createTask("T1", "Title", "queue", {{"a", "1"}, {"b", "x"}});
  clock.advance(minutes(1));
  tracker.updateTask("T1", "active", {{"a", "2"}});
  auto task = tracker.task("T1");
  ASSERT_TRUE(task);
  EXPECT_EQ(task->metadata, (StringMap{{"a", "2"}, {"b", "x"}}));
  EXPECT_EQ(task->status, "active");
  EXPECT_EQ(task->updatedAt, now());
  EXPECT_EQ(task->title, "Title");

  tracker.completeTask("T1", {});
  EXPECT_EQ(tracker.task("T1")->status, "done");
  EXPECT_EQ(tracker.task("T1")->metadata.size(), 2u);

  tracker.updateTask("nope", "active", {{"a", "1"}});
  tracker.assignTask("nope", "bob", "waiting", "why");
  tracker.addTaskComment("nope", "bob", "x");
  tracker.setJobRunning("nope");
  EXPECT_FALSE(tracker.task("nope"));
  EXPECT_FALSE(tracker.job("nope"));
  EXPECT_EQ(tracker.taskCount(), 1u);
}

TEST_F(WorkTrackerTest, CreateReplacesTheWholeTask) {
  tracker.createTask("T1", "Old", "queue", {{"k", "v"}});
  tracker.assignTask("T1", "alice", "waiting", "blocked");
  ASSERT_EQ(tracker.task("T1")->comments.size(), 1u);
  tracker.startTask("T1", "New", {});
  const auto task = *tracker.task("T1");
  EXPECT_EQ(task.title, "New");
  EXPECT_EQ(task.status, "active");
  EXPECT_FALSE(task.assignee);
  EXPECT_TRUE(task.comments.empty());
  EXPECT_TRUE(task.metadata.empty());
}

TEST_F(WorkTrackerTest, AssignAddsACommentOnlyForANonEmptyReason) {
  struct Case {
    std::optional<std::string> reason;
    std::size_t comments;
  };
  for (const Case& c : {Case{std::nullopt, 0}, Case{"", 0}, Case{"waiting on review", 1}}) {
    tracker.createTask("T", "t", "active", {{"m", "1"}});
    tracker.assignTask("T", "bob", "waiting", c.reason);
    const auto task = *tracker.task("T");
    EXPECT_EQ(task.assignee, "bob");
    EXPECT_EQ(task.status, "waiting");
    EXPECT_EQ(task.metadata, (StringMap{{"m", "1"}}));
    ASSERT_EQ(task.comments.size(), c.comments) << c.reason.value_or("<none>");
    if (c.comments) {
      EXPECT_EQ(task.comments[0], (TrackedTaskComment{"bob", "waiting on review", now()}));
    }
  }
}

TEST_F(WorkTrackerTest, EmptyCommentIsStoredAndMovesUpdatedAt) {
  tracker.createTask("T", "t", "queue", {});
  clock.advance(minutes(5));
  tracker.addTaskComment("T", "alice", "");
  const auto task = *tracker.task("T");
  ASSERT_EQ(task.comments.size(), 1u);
  EXPECT_EQ(task.comments[0].note, "");
  EXPECT_EQ(task.updatedAt, now());
}

TEST_F(WorkTrackerTest, ListsAreNewestFirstWithTiesInIdOrderAndFilters) {
  tracker.createTask("b", "t", "waiting", {});
  tracker.createTask("a", "t", "waiting", {});
  clock.advance(minutes(1));
  tracker.createTask("c", "t", "active", {});
  tracker.assignTask("a", "alice", "waiting", std::nullopt);
  EXPECT_EQ(ids(tracker.listTasks()), (std::vector<std::string>{"a", "c", "b"}));
  EXPECT_EQ(ids(tracker.listTasks(std::nullopt, std::nullopt)), (std::vector<std::string>{"a", "c", "b"}));
  EXPECT_EQ(ids(tracker.listTasks(std::string("alice"), std::string("waiting"))), (std::vector<std::string>{"a"}));
  // An unassigned task never matches an assignee filter.
  EXPECT_TRUE(tracker.listTasks(std::string(""), std::nullopt).empty());
  EXPECT_EQ(ids(tracker.listTasks(std::nullopt, std::string("waiting"))), (std::vector<std::string>{"a", "b"}));
}

TEST_F(WorkTrackerTest, StalledTasks) {
  tracker.createTask("fresh", "t", "active", {});
  tracker.createTask("queued", "t", "queue", {});
  tracker.createTask("waiting", "t", "waiting", {});
  tracker.createTask("done", "t", "done", {});
  clock.advance(minutes(2));
  tracker.createTask("recent", "t", "active", {});
  clock.advance(minutes(59));
  // "fresh" is 61 minutes old, "recent" 59.
  struct Case {
    std::int64_t hours;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {1, {"fresh"}},
      {0, {"fresh"}},
      {-5, {"fresh"}},
      {2, {}},
      {WorkTracker::maxStalledHours, {}},
      {std::numeric_limits<std::int64_t>::max(), {}},
  };
  for (const Case& c : cases) EXPECT_EQ(ids(tracker.stalledTasks(c.hours)), c.expected) << c.hours;

  clock.advance(minutes(2));  // both older than an hour now: oldest first
  EXPECT_EQ(ids(tracker.stalledTasks(1)), (std::vector<std::string>{"fresh", "recent"}));
}

TEST_F(WorkTrackerTest, StalledCutoffIsStrict) {
  tracker.createTask("T", "t", "active", {});
  clock.advance(std::chrono::hours(1));
  EXPECT_TRUE(tracker.stalledTasks(1).empty());
  clock.advance(std::chrono::milliseconds(1));
  EXPECT_EQ(tracker.stalledTasks(1).size(), 1u);
}

TEST_F(WorkTrackerTest, NextQueuedJobOrdersByCreationThenId) {
  EXPECT_FALSE(tracker.nextQueuedJob());
  EXPECT_EQ(tracker.runningJobsCount(), 0);
  tracker.createJob({"JOB-2", "a", "shell", "echo", {"hi"}, std::nullopt, {}});
  tracker.createJob({"JOB-1", "a", "shell", "echo", {}, "cli", {}});
  clock.advance(minutes(1));
  tracker.createJob({"JOB-0", "a", "shell", "echo", {}, std::nullopt, {}});
  EXPECT_EQ(tracker.nextQueuedJob()->id, "JOB-1");
  tracker.setJobRunning("JOB-1");
  EXPECT_EQ(tracker.nextQueuedJob()->id, "JOB-2");
  EXPECT_EQ(tracker.runningJobsCount(), 1);
  tracker.setJobRunning("JOB-2");
  EXPECT_EQ(tracker.nextQueuedJob()->id, "JOB-0");
  EXPECT_EQ(tracker.listJobs(std::string("running")).size(), 2u);
  EXPECT_EQ(tracker.listJobs(std::nullopt).front().id, "JOB-0");
  const auto job = *tracker.job("JOB-0");
  EXPECT_EQ(job.status, "queued");
  EXPECT_EQ(job.createdAt, job.updatedAt);
}

TEST_F(WorkTrackerTest, CompletionAfterFailureKeepsTheError) {
  tracker.createJob({"J", "a", "shell", "false", {}, std::nullopt, {}});
  tracker.setJobFailed("J", "exit 1");
  tracker.setJobRunning("J");
  EXPECT_EQ(tracker.job("J")->error, "exit 1");
  tracker.setJobCompleted("J", "ok");
  const auto job = *tracker.job("J");
  EXPECT_EQ(job.status, "done");
  EXPECT_EQ(job.result, "ok");
  EXPECT_EQ(job.error, "exit 1");
}

class JobRetentionTest : public ::testing::Test {
 protected:
  void create(const std::string& id) { tracker().createJob({id, "a", "shell", "cmd", {}, std::nullopt, {}}); }
  // Runs a created job and finishes it with `bytes` of result, or of error when it fails.
  void finish(const std::string& id, std::size_t bytes, bool failed = false) {
    tracker().setJobRunning(id);
    if (failed) {
      tracker().setJobFailed(id, std::string(bytes, 'e'));
    } else {
      tracker().setJobCompleted(id, std::string(bytes, 'r'));
    }
  }
  std::vector<std::string> listed(const std::optional<std::string>& status) {
    std::vector<std::string> out;
    for (const TrackedJob& job : tracker().listJobs(status)) out.push_back(job.id);
    std::sort(out.begin(), out.end());
    return out;
  }
  static std::string note(std::size_t bytes) {
    return "[output dropped: " + std::to_string(bytes) +
           " bytes; the daemon keeps the output of its newest finished jobs only]";
  }

  // Made on first use, with the bounds the test set by then.
  WorkTracker& tracker() {
    if (!tracker_) tracker_.emplace(clock, retention);
    return *tracker_;
  }

  ManualClock clock;
  JobRetention retention{3, 500};
  std::optional<WorkTracker> tracker_;
};

TEST_F(JobRetentionTest, OnlyTheLastFinishedRecordsAreKeptAndUnfinishedJobsNeverGo) {
  for (const char* id : {"F1", "F2", "F3", "F4", "F5", "Q1", "Q2", "Q3", "Q4", "R1", "R2"}) create(id);
  tracker().setJobRunning("R1");
  tracker().setJobRunning("R2");
  // Finishing order, not creation order or time, decides which records stay.
  for (const char* id : {"F3", "F1", "F5", "F2", "F4"}) finish(id, 10, std::string(id) == "F2");
  EXPECT_EQ(listed(std::nullopt), (std::vector<std::string>{"F2", "F4", "F5", "Q1", "Q2", "Q3", "Q4", "R1", "R2"}));
  EXPECT_FALSE(tracker().job("F3"));
  EXPECT_EQ(tracker().job("F2")->error, std::string(10, 'e'));
  EXPECT_EQ(tracker().runningJobsCount(), 2);
  EXPECT_EQ(tracker().nextQueuedJob()->id, "Q1");

  // A finished job queued again under its id no longer counts as finished; a job that runs
  // again finishes anew, as the newest.
  create("F5");
  tracker().setJobRunning("F2");
  finish("Q1", 10);
  finish("F2", 10);
  EXPECT_EQ(listed(std::string("done")), (std::vector<std::string>{"F2", "F4", "Q1"}));
  EXPECT_EQ(tracker().job("F5")->status, "queued");
  finish("Q2", 10);
  EXPECT_EQ(listed(std::string("done")), (std::vector<std::string>{"F2", "Q1", "Q2"}));
}

TEST_F(JobRetentionTest, OutputOfTheFirstFinishedJobsIsDroppedFirstAndTheirRecordsSaySo) {
  retention.maxFinishedJobs = 100;
  for (const char* id : {"A", "B", "C", "D", "E", "F"}) create(id);
  finish("A", 200);
  finish("B", 200, true);
  EXPECT_EQ(tracker().job("A")->result, std::string(200, 'r'));
  finish("C", 200);  // 600 bytes: A's output goes
  EXPECT_EQ(tracker().job("A")->result, note(200));
  EXPECT_EQ(tracker().job("B")->error, std::string(200, 'e'));
  finish("D", 200);  // B's error text goes
  EXPECT_EQ(tracker().job("B")->error, note(200));
  EXPECT_EQ(tracker().job("B")->status, "failed");
  EXPECT_EQ(tracker().job("C")->result, std::string(200, 'r'));

  // One output beyond the bound takes every older one with it and then goes itself; a text
  // no longer than the note stays as it is.
  finish("E", 10);
  finish("F", 600);
  EXPECT_EQ(tracker().job("C")->result, note(200));
  EXPECT_EQ(tracker().job("D")->result, note(200));
  EXPECT_EQ(tracker().job("E")->result, std::string(10, 'r'));
  EXPECT_EQ(tracker().job("F")->result, note(600));

  // The count follows jobs that leave the finished set: G's output is the only one left.
  tracker().setJobRunning("F");
  create("G");
  finish("G", 490);
  EXPECT_EQ(tracker().job("G")->result, std::string(490, 'r'));
  EXPECT_EQ(tracker().job("F")->status, "running");
}

TEST_F(WorkTrackerTest, WorkstreamsMergeAndKeepTheirName) {
  tracker.startWorkstream("W", "Name", {{"a", "1"}});
  clock.advance(minutes(1));
  tracker.updateWorkstream("W", "completed", {{"b", "2"}});
  const auto w = *tracker.workstream("W");
  EXPECT_EQ(w.name, "Name");
  EXPECT_EQ(w.status, "completed");
  EXPECT_EQ(w.metadata, (StringMap{{"a", "1"}, {"b", "2"}}));
  EXPECT_EQ(tracker.listWorkstreams().size(), 1u);
}

}  // namespace
}  // namespace qd

namespace qd {
namespace {

// The indexes behind the filtered lists must always agree with a walk over every record,
// whatever sequence of changes came before (replacements, re-assignments, status moves,
// equal time stamps).
TEST(WorkTrackerIndexes, AgreeWithAFullWalkAfterRandomChanges) {
  ManualClock clock;
  WorkTracker tracker(clock);
  std::mt19937 random(20261210);
  const std::vector<std::string> statuses = {"queue", "active", "waiting", "done"};
  const std::vector<std::string> people = {"alice", "bob", "carol"};
  const std::vector<std::string> jobStatuses = {"queued", "running", "done", "failed"};
  auto pick = [&](const std::vector<std::string>& from) { return from[random() % from.size()]; };
  auto someId = [&](const char* prefix) { return prefix + std::to_string(random() % 40); };

  for (int step = 0; step < 3000; ++step) {
    if (random() % 3 == 0) clock.advance(std::chrono::minutes(random() % 50));
    switch (random() % 8) {
      case 0: tracker.createTask(someId("T"), "t", pick(statuses), {}); break;
      case 1: tracker.updateTask(someId("T"), pick(statuses), {}); break;
      case 2: tracker.assignTask(someId("T"), pick(people), pick(statuses), std::nullopt); break;
      case 3: tracker.addTaskComment(someId("T"), pick(people), "n"); break;
      case 4: tracker.createJob({someId("J"), "a", "shell", "c", {}, std::nullopt, {}}); break;
      case 5: tracker.setJobRunning(someId("J")); break;
      case 6: tracker.setJobCompleted(someId("J"), "r"); break;
      default: tracker.setJobFailed(someId("J"), "e"); break;
    }
    if (step % 50 != 0) continue;

    const auto all = tracker.listTasks();
    for (const auto& status : statuses) {
      std::vector<TrackedTask> expected;
      for (const auto& t : all) {
        if (t.status == status) expected.push_back(t);
      }
      ASSERT_EQ(tracker.listTasks(std::nullopt, status), expected) << "step " << step << " " << status;
      for (const auto& person : people) {
        std::vector<TrackedTask> mine;
        for (const auto& t : expected) {
          if (t.assignee == person) mine.push_back(t);
        }
        ASSERT_EQ(tracker.listTasks(person, status), mine) << "step " << step;
      }
    }
    std::vector<TrackedTask> stalled;
    const std::int64_t cutoff = unixMilliseconds(clock.wallNow()) - 3'600'000;
    for (const auto& t : all) {
      if (t.status == "active" && t.updatedAt < cutoff) stalled.push_back(t);
    }
    std::sort(stalled.begin(), stalled.end(),
              [](const auto& a, const auto& b) { return std::tie(a.updatedAt, a.id) < std::tie(b.updatedAt, b.id); });
    ASSERT_EQ(tracker.stalledTasks(1), stalled) << "step " << step;

    const auto jobs = tracker.listJobs(std::nullopt);
    std::optional<TrackedJob> first;
    std::int64_t running = 0;
    for (const auto& j : jobs) {
      running += j.status == "running";
      if (j.status == "queued" && (!first || std::tie(j.createdAt, j.id) < std::tie(first->createdAt, first->id))) first = j;
    }
    ASSERT_EQ(tracker.nextQueuedJob(), first) << "step " << step;
    ASSERT_EQ(tracker.runningJobsCount(), running);
    for (const auto& status : jobStatuses) {
      std::vector<TrackedJob> expected;
      for (const auto& j : jobs) {
        if (j.status == status) expected.push_back(j);
      }
      ASSERT_EQ(tracker.listJobs(status), expected) << "step " << step;
    }
  }
}

}  // namespace
}  // namespace qd
