#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>

#include "daemon/utilities/unicode_text.h"
#include "daemon/work/note_slug.h"
#include "job_fixture.h"
#include "support/process_table.h"

namespace qd {
namespace {

using namespace std::chrono_literals;

const auto* const orphanReaper = testing::AddGlobalTestEnvironment(new test::OrphanReaper);

class JobRuntime : public test::JobTest {};

// Under the daemon's own job time-out (minutes): the large outputs take a while on a busy
// machine, above all under the sanitizers.
TEST_F(JobRuntime, OutcomesOfRealChildren) {
  setMaxConcurrentJobs(20);
  struct Case {
    std::string name;
    std::string command;
    std::vector<std::string> arguments;
    std::string status;
    std::string text;  // result or error; "F" stands for "Job <id> failed"
    std::size_t resultSize = 0;  // checked instead of the text when set
  };
  const Case cases[] = {
      {"silent", "/bin/sh", {"-c", "exit 3"}, "failed", "F"},
      {"stderr", "/bin/sh", {"-c", "echo '  it broke  ' >&2; exit 1"}, "failed", "it broke"},
      {"blanks", "/bin/sh", {"-c", "printf '  \\n\\t\\n  '"}, "done", ""},
      {"invalid", "/bin/sh", {"-c", "printf 'a\\377b\\n'"}, "done", "a\uFFFD" "b"},
      {"huge", "/bin/sh", {"-c", "head -c 3145728 /dev/zero | tr '\\0' x"}, "done", "", 1 << 20},
      // A two-byte character straddles the 1 MiB mark: it is dropped whole.
      {"straddle", "/bin/sh", {"-c", "printf a; yes \u00e9 | tr -d '\\n' | head -c 3000000"}, "done", "", (1 << 20) - 1},
      {"missing", (folder / "no-such-program").string(), {}, "failed",
       "F: Could not start " + (folder / "no-such-program").string() + ": No such file or directory"},
      {"relative", "sh", {"-c", "echo found"}, "failed", "F: Could not start sh: No such file or directory"},
      {"echo", "/bin/echo", {"hi"}, "done", "hi"},
  };
  for (const auto& c : cases) {
    Json arguments{{"operation", "enqueue"}, {"command", c.command}, {"arguments", c.arguments},
                   {"agentId", c.name},      {"jobId", c.name}};
    jobs(std::move(arguments));
  }
  ASSERT_TRUE(runUntil([&] { return allJobsEnded(); }));
  for (const auto& c : cases) {
    const auto job = tracker.job(c.name);
    ASSERT_TRUE(job) << c.name;
    EXPECT_EQ(job->status, c.status) << c.name;
    const std::string expected = c.text.starts_with("F") ? "Job " + c.name + " failed" + c.text.substr(1) : c.text;
    const std::string actual = c.status == "done" ? job->result.value_or("<none>") : job->error.value_or("<none>");
    if (c.resultSize) {
      EXPECT_EQ(actual.size(), c.resultSize) << c.name;
      EXPECT_TRUE(unicode::isValidUtf8(actual)) << c.name;
    } else {
      EXPECT_EQ(actual, expected) << c.name;
    }
  }
}

TEST_F(JobRuntime, AJobPastItsTimeOutFails) {
  jobRuntime.jobTimeout = 1s;
  const std::string id = enqueueShell("sleep 1000", "slow");
  ASSERT_TRUE(runUntil([&] { return allJobsEnded(); }));
  EXPECT_EQ(tracker.job(id)->status, "failed");
  EXPECT_EQ(tracker.job(id)->error, "Job " + id + " failed: timed out after 1s");
}

TEST_F(JobRuntime, RunNextForcesOneStartBeyondTheLimit) {
  setMaxConcurrentJobs(2);
  for (const char* agent : {"a", "b", "c"}) enqueueShell("sleep 1000", agent);
  Json status = statusReply();
  EXPECT_EQ(status["running"], 2);
  EXPECT_EQ(status["queued"], 1);
  EXPECT_EQ(status["maxConcurrentJobs"], 2);
  EXPECT_EQ(status["activeCliJobs"].size(), 2u);

  status = parseJson(replyText(jobs(Json{{"operation", "run_next"}})));
  EXPECT_EQ(status["running"], 3);
  EXPECT_EQ(status["queued"], 0);
  // Nothing left to force: the status comes back unchanged.
  status = parseJson(replyText(jobs(Json{{"operation", "run_next"}})));
  EXPECT_EQ(status["running"], 3);
}

TEST_F(JobRuntime, AForcedPassStartsExactlyOneJobWhateverTheFreeSlots) {
  setMaxConcurrentJobs(4);
  for (const char* id : {"j1", "j2", "j3"}) {
    tracker.createJob(TrackedJobCreateRequest{id, "agent", "custom", "/bin/sleep", {"1000"}, std::nullopt, {}});
  }
  run(launchQueuedJobsIfCapacity(context, true));
  EXPECT_EQ(tracker.runningJobsCount(), 1);
  EXPECT_EQ(tracker.job("j1")->status, "running");
  EXPECT_TRUE(jobRuntime.didRecoverPersistedRunningJobs);
}

TEST_F(JobRuntime, WithoutAnOwnerNoJobIsPicked) {
  tracker.createJob(TrackedJobCreateRequest{"j1", "agent", "custom", "/bin/true", {}, std::nullopt, {}});
  jobRuntime.owner.reset();
  run(launchQueuedJobsIfCapacity(context, true));
  EXPECT_EQ(tracker.job("j1")->status, "queued");
}

TEST_F(JobRuntime, OverlappingPassesNeverExceedTheLimit) {
  setMaxConcurrentJobs(2);
  for (const char* id : {"j1", "j2", "j3", "j4", "j5"}) {
    tracker.createJob(TrackedJobCreateRequest{id, id, "custom", "/bin/sleep", {"1000"}, std::nullopt, {}});
  }
  // Every note call is held, so each pass stops at its first mirror with its pick made.
  app.holdCalls = true;
  for (int i = 0; i < 4; ++i) asio::co_spawn(io, launchQueuedJobsIfCapacity(context, false), asio::detached);
  ASSERT_TRUE(runUntil([&] { return app.heldCount() >= 2; }));
  io.poll();
  EXPECT_EQ(tracker.runningJobsCount(), 2);
  app.releaseHeld();
  ASSERT_TRUE(runUntil([&] { return jobRuntime.activeRuns.size() == 2; }));
  io.poll();
  EXPECT_EQ(tracker.runningJobsCount(), 2);
  EXPECT_EQ(tracker.listJobs(std::string("queued")).size(), 3u);
}

TEST_F(JobRuntime, JobsOfOneAgentAreBothRunningButTheirProcessesTakeTurns) {
  setMaxConcurrentJobs(2);
  const std::string log = (folder / "log").string();
  const std::string script = "echo start $0 >> " + log + "; sleep 0.2; echo end $0 >> " + log;
  for (const char* name : {"one", "two"}) {
    Json arguments{{"operation", "enqueue"}, {"command", "/bin/sh"}, {"arguments", {"-c", script, name}}, {"agentId", "same"}};
    jobs(std::move(arguments));
  }
  EXPECT_EQ(statusReply()["running"], 2);
  ASSERT_TRUE(runUntil([&] { return allJobsEnded(); }));
  const std::string text = fileText("log");
  EXPECT_TRUE(text == "start one\nend one\nstart two\nend two\n" || text == "start two\nend two\nstart one\nend one\n")
      << text;
  EXPECT_EQ(tracker.listJobs(std::string("done")).size(), 2u);
  EXPECT_TRUE(jobRuntime.laneLocks.empty());
}

TEST_F(JobRuntime, AnEndingJobStartsTheNextQueuedOne) {
  setMaxConcurrentJobs(1);
  const std::string first = enqueueShell("echo first", "a");
  const std::string second = enqueueShell("echo second", "b");
  ASSERT_TRUE(runUntil([&] { return allJobsEnded(); }));
  EXPECT_EQ(tracker.job(first)->result, "first");
  EXPECT_EQ(tracker.job(second)->result, "second");
}

TEST_F(JobRuntime, ARunReplacedByAnExplicitJobIdLeavesTheNewRecordAlone) {
  setMaxConcurrentJobs(2);
  const std::string flag = (folder / "flag").string();
  enqueueShell("while [ ! -e " + flag + " ]; do sleep 0.02; done; echo old", "old", Json{{"jobId", "J"}});
  ASSERT_TRUE(runUntil([&] { return jobRuntime.activeRuns.size() == 1; }));
  // The same id again: a new queued record, which the pass starts at once.
  Json again{{"operation", "enqueue"}, {"command", "/bin/echo"}, {"arguments", {"new"}}, {"agentId", "new"}, {"jobId", "J"}};
  jobs(std::move(again));
  ASSERT_TRUE(runUntil([&] { return tracker.job("J")->status == "done"; }));
  EXPECT_EQ(tracker.job("J")->result, "new");

  std::ofstream(flag).put('x');
  ASSERT_TRUE(runUntil([&] { return jobRuntime.activeRuns.empty(); }));
  EXPECT_EQ(tracker.job("J")->result, "new");
  EXPECT_EQ(tracker.listJobs(std::nullopt).size(), 1u);
  // The old run's outcome is in its log note only.
  bool oldNoted = false;
  for (const Json& note : app.argumentsOf("create_note")) {
    if (note.value("container", "") == "/Quarvel Dorarov/Agent Logs/old" && note.value("text", "") == "Command: /bin/sh\nOutput: old") {
      oldNoted = true;
    }
  }
  EXPECT_TRUE(oldNoted);
}

TEST_F(JobRuntime, ShutdownStopsEveryRunningGroupAndWritesNothingAfter) {
  setMaxConcurrentJobs(1);
  const std::string pidFile = (folder / "pid").string();
  const std::string id = enqueueShell("echo $$ > " + pidFile + "; sleep 1000 & sleep 1000", "a");
  const std::string queued = enqueueShell("echo never", "b");
  ASSERT_TRUE(runUntil([&] { return fileText("pid").find('\n') != std::string::npos; }));
  const pid_t group = std::stoi(fileText("pid"));
  const std::size_t callsBefore = app.calls.size();

  run(stopRunningJobs(context));
  EXPECT_TRUE(jobRuntime.activeRuns.empty());
  EXPECT_TRUE(test::groupEmptiesWithin(group, 60s));
  EXPECT_EQ(app.calls.size(), callsBefore);  // no note for the stopped job
  EXPECT_EQ(tracker.job(queued)->status, "queued");  // and no pass started
  // A stopping runtime starts nothing.
  run(launchQueuedJobsIfCapacity(context, true));
  EXPECT_EQ(tracker.job(queued)->status, "queued");
  EXPECT_EQ(tracker.job(id)->status, "running");
}

TEST_F(JobRuntime, JobsRunAndNotesAreSkippedWithoutTheNoteApp) {
  app.connected = false;
  const std::string id = enqueueShell("echo offline", "a");
  ASSERT_TRUE(runUntil([&] { return allJobsEnded(); }));
  EXPECT_EQ(tracker.job(id)->result, "offline");
  EXPECT_TRUE(app.calls.empty());
}

TEST_F(JobRuntime, JobLogNotesFollowTheRun) {
  const std::string id = enqueueShell("echo out", "agent-x");
  ASSERT_TRUE(runUntil([&] { return allJobsEnded(); }));
  std::vector<std::string> notes;
  for (const Json& note : app.argumentsOf("create_note")) {
    if (note.value("container", "") == "/Quarvel Dorarov/Agent Logs/agent-x") {
      notes.push_back(note["name"].get<std::string>() + "|" + note["text"].get<std::string>());
    }
  }
  EXPECT_EQ(notes, (std::vector<std::string>{
                       "Job Queued - " + id + "|Runner: custom\nCommand: /bin/sh\nArgs: -c echo out",
                       "Job Running - " + id + "|Runner: custom\nCommand: /bin/sh\nArgs: -c echo out",
                       "Job Completed - " + id + "|Command: /bin/sh\nOutput: out",
                   }));
  EXPECT_EQ(app.attribute("/morvane/jobs/" + noteSlug(id), "MVNStatus"), "done");
  EXPECT_EQ(app.attribute("/morvane/jobs/" + noteSlug(id), "MVNResult"), "out");
}

}  // namespace
}  // namespace qd
