#include "daemon/work/record_mirror.h"

#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>

#include "coordination_fixture.h"
#include "daemon/tinderbox/note_time.h"

namespace qd {
namespace {

class RecordMirrorTest : public test::CoordinationTest {
 protected:
  TrackedJob queuedJob() {
    tracker.createJob({"JOB-1", "alice", "shell", "run", {"a/b", "c"}, std::nullopt, {}});
    return *tracker.job("JOB-1");
  }
};

TEST_F(RecordMirrorTest, ANewTaskMakesTheContainersThenTheNoteThenItsAttributes) {
  tracker.createTask("Fix Login #42", "Fix login", "queue", {{"url", "http://x"}});
  tracker.addTaskComment("Fix Login #42", "bob", "looking");
  run(persistTaskNote(context, *tracker.task("Fix Login #42")));
  const std::vector<std::string> expected = {
      "get_notes", "create_note",  // morvane
      "get_notes", "create_note",  // tasks
      "get_notes", "create_note",  // jobs
      "get_notes", "create_note",  // workstreams
      "get_notes", "create_note",  // the note
      "set_value", "set_value", "set_value", "set_value",
  };
  EXPECT_EQ(app.toolSequence(), expected);
  const auto created = app.argumentsOf("create_note");
  const std::string line = "[" + iso8601Seconds(nowMs()) + "] bob: looking";
  EXPECT_EQ(created.back(), (Json{{"name", "fix-login-42"}, {"container", "/morvane/tasks"}, {"text", line}}));
  const std::string path = "/morvane/tasks/fix-login-42";
  EXPECT_EQ(app.attribute(path, "MVNStatus"), "queue");
  EXPECT_EQ(app.attribute(path, "MVNTitle"), "Fix login");
  EXPECT_EQ(app.attribute(path, "MVNUpdatedAt"), iso8601Seconds(nowMs()));
  EXPECT_EQ(app.attribute(path, "MVNMetadata"), R"({"url":"http:\/\/x"})");
  EXPECT_EQ(app.attribute(path, "MVNAssignee"), "");
}

TEST_F(RecordMirrorTest, ACommentOnAnExistingNoteIsOneTextWrite) {
  tracker.createTask("T", "", "queue", {});
  run(persistTaskNote(context, *tracker.task("T")));
  EXPECT_EQ(app.argumentsOf("create_note").back()["text"], "");
  app.calls.clear();
  run(persistTaskNote(context, *tracker.task("T")));  // no comments yet: the text is left alone
  EXPECT_EQ(app.toolSequence(), (std::vector<std::string>{"get_notes", "set_value", "set_value"}));

  tracker.addTaskComment("T", "bob", "first");
  app.calls.clear();
  run(persistTaskNote(context, *tracker.task("T")));
  const auto writes = app.argumentsOf("set_value");
  ASSERT_FALSE(writes.empty());
  EXPECT_EQ(writes[0]["attribute"], "Text");
  EXPECT_EQ(app.argumentsOf("create_note").size(), 0u);
  // An empty title is not written.
  EXPECT_EQ(app.attribute("/morvane/tasks/t", "MVNTitle"), "");
}

TEST_F(RecordMirrorTest, AJobFromQueuedToDone) {
  const TrackedJob queued = queuedJob();
  run(persistJobNote(context, queued));
  const std::string path = "/morvane/jobs/job-1";
  EXPECT_EQ(app.argumentsOf("create_note").back(), (Json{{"name", "job-1"}, {"container", "/morvane/jobs"}}));
  EXPECT_EQ(app.attribute(path, "MVNStatus"), "queued");
  EXPECT_EQ(app.attribute(path, "MVNArguments"), R"(["a\/b","c"])");
  const std::string createdAt = app.attribute(path, "MVNCreatedAt");

  clock.advance(std::chrono::minutes(3));
  tracker.setJobRunning("JOB-1");
  tracker.setJobCompleted("JOB-1", "all good");
  run(persistJobNote(context, *tracker.job("JOB-1")));
  EXPECT_EQ(app.attribute(path, "MVNStatus"), "done");
  EXPECT_EQ(app.attribute(path, "MVNResult"), "all good");
  EXPECT_EQ(app.attribute(path, "MVNCreatedAt"), createdAt);
  EXPECT_EQ(app.attribute(path, "MVNUpdatedAt"), iso8601Seconds(nowMs()));
  EXPECT_EQ(app.attribute(path, "MVNOrigin"), "");
  EXPECT_EQ(app.argumentsOf("create_note").size(), 5u);  // four containers and the note, once
}

TEST_F(RecordMirrorTest, NothingIsSentForAnEmptySlugOrWithoutTheNoteApp) {
  tracker.createTask("!!!", "t", "queue", {});
  run(persistTaskNote(context, *tracker.task("!!!")));
  tracker.startWorkstream("", "w", {});
  run(persistWorkstreamNote(context, *tracker.workstream("")));
  EXPECT_TRUE(app.calls.empty());

  app.connected = false;
  tracker.createTask("T", "t", "queue", {});
  run(persistTaskNote(context, *tracker.task("T")));
  EXPECT_TRUE(app.calls.empty());
}

TEST_F(RecordMirrorTest, OverlappingMirrorsOfOneJobRunInTurn) {
  const TrackedJob queued = queuedJob();
  tracker.setJobCompleted("JOB-1", "r");
  const TrackedJob done = *tracker.job("JOB-1");

  app.holdCalls = true;
  int finished = 0;
  auto count = [&](std::exception_ptr e) {
    EXPECT_FALSE(e);
    ++finished;
  };
  asio::co_spawn(io, persistJobNote(context, queued), count);
  asio::co_spawn(io, persistJobNote(context, done), count);
  io.poll();
  // The first mirror is waiting on the note app; the second has not sent anything.
  EXPECT_EQ(app.heldCount(), 1u);
  EXPECT_EQ(app.calls.size(), 1u);
  app.releaseHeld();
  io.restart();
  io.run();
  EXPECT_EQ(finished, 2);

  std::size_t jobNotes = 0;
  for (const auto& c : app.argumentsOf("create_note")) jobNotes += c["name"] == "job-1";
  EXPECT_EQ(jobNotes, 1u);
  EXPECT_EQ(app.attribute("/morvane/jobs/job-1", "MVNStatus"), "done");
  EXPECT_TRUE(journal.noteMirrorLocks.empty());
}

}  // namespace
}  // namespace qd
