#include "daemon/work/work_tracker.h"

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
