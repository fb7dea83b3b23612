// Jobs and workstreams through the real daemon program: a job's command runs as a child of
// the daemon and its outcome is listed; a burst of enqueues gets distinct ids; the running
// count holds to maxConcurrentJobs until run_next forces one more; nothing a job left in its
// process group outlives the job, and a job still running at SIGTERM does not outlive the
// daemon. Tier beta, no note app, jobs and workstreams switched on in tool-settings.json.

#include <gtest/gtest.h>

#include <csignal>
#include <set>
#include <thread>

#include "socket_session.h"
#include "support/process_table.h"
#include "support/recording_fakes.h"

namespace qd {
namespace {

class JobsEndToEnd : public test::SocketSession {
 protected:
  void SetUp() override {
    startDaemon("beta", Json{{"helperToolEnabled", {{"jobs", true}, {"workstreams", true}}}});
  }

  // The job with that id once it left "queued" and "running", polled through "list".
  Json finishedJob(test::SocketLineClient& client, const std::string& id) {
    for (int attempt = 0; attempt < 3000; ++attempt) {
      const Json jobs = parseJson(text(call(client, "jobs", {{"operation", "list"}})));
      for (const Json& job : jobs) {
        if (job.value("id", "") == id && job["status"] != "queued" && job["status"] != "running") return job;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ADD_FAILURE() << "job " << id << " did not finish";
    return Json::object();
  }

  Json status(test::SocketLineClient& client) { return parseJson(text(call(client, "jobs", {{"operation", "status"}}))); }

  std::string enqueue(test::SocketLineClient& client, const std::string& command, const Json& arguments) {
    const std::string reply =
        text(call(client, "jobs", {{"operation", "enqueue"}, {"command", command}, {"arguments", arguments}}));
    const std::string prefix = "Job queued: ";
    EXPECT_TRUE(reply.starts_with(prefix)) << reply;
    return reply.substr(std::min(prefix.size(), reply.size()));
  }
};

TEST_F(JobsEndToEnd, AJobsCommandRunsAndItsOutcomeIsListed) {
  auto client = connect();
  const Json done = finishedJob(*client, enqueue(*client, "/bin/sh", Json::array({"-c", "echo hi"})));
  EXPECT_EQ(done["status"], "done") << done;
  EXPECT_EQ(done["result"], "hi") << done;

  const std::string missingId = enqueue(*client, "/nonexistent", Json::array());
  const Json failed = finishedJob(*client, missingId);
  EXPECT_EQ(failed["status"], "failed") << failed;
  EXPECT_EQ(failed["error"], "Job " + missingId + " failed: Could not start /nonexistent: No such file or directory") << failed;

  // An argument cut at a NUL byte would reach the program changed: the job fails unstarted.
  test::RecordingFakes fakes;
  fakes.add("recorder");
  const std::string nulId = enqueue(*client, (fakes.bin() / "recorder").string(), Json::array({std::string("a\0b", 3)}));
  const Json refused = finishedJob(*client, nulId);
  EXPECT_EQ(refused["status"], "failed") << refused;
  EXPECT_EQ(refused["error"], "Job " + nulId + " failed: argument contains a NUL byte") << refused;
  EXPECT_TRUE(fakes.runs("recorder").empty());
}

TEST_F(JobsEndToEnd, ABurstOfEnqueuesGetsOneJobEach) {
  auto client = connect();
  // All ten lines in one write: the daemon takes them in within the same milliseconds.
  std::string burst;
  for (int i = 0; i < 10; ++i) {
    const Json request{{"method", "call_tool"},
                       {"params",
                        {{"name", "jobs"},
                         {"arguments", {{"operation", "enqueue"}, {"command", "/bin/echo"}, {"arguments", Json::array({"hi"})}}}}},
                       {"_requestId", ++requestId_}};
    burst += dumpJson(request) + "\n";
  }
  client->sendRaw(burst);
  std::set<std::string> ids;
  for (int i = 0; i < 10; ++i) {
    const std::optional<std::string> line = client->readLine();
    ASSERT_TRUE(line) << "reply " << i << " missing";
    const std::string reply = text(parseJson(*line));
    ASSERT_TRUE(reply.starts_with("Job queued: JOB-")) << reply;
    ids.insert(reply.substr(std::string("Job queued: ").size()));
  }
  EXPECT_EQ(ids.size(), 10u);
  for (const std::string& id : ids) {
    const Json done = finishedJob(*client, id);
    EXPECT_EQ(done["status"], "done") << done;
    EXPECT_EQ(done["result"], "hi") << done;
  }
}

TEST_F(JobsEndToEnd, RunningJobsHoldToTheLimitUntilRunNextForcesOneMore) {
  test::adoptOrphans();  // a job's process that outlived the daemon would come to us
  auto client = connect();
  for (int i = 0; i < 3; ++i) enqueue(*client, "/bin/sleep", Json::array({"30"}));
  Json counts = status(*client);
  for (int attempt = 0; attempt < 3000 && counts["running"] != 2; ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    counts = status(*client);
  }
  EXPECT_EQ(counts["maxConcurrentJobs"], 2) << counts;
  EXPECT_EQ(counts["running"], 2) << counts;
  EXPECT_EQ(counts["queued"], 1) << counts;

  counts = parseJson(text(call(*client, "jobs", {{"operation", "run_next"}})));
  EXPECT_EQ(counts["running"], 3) << counts;
  EXPECT_EQ(counts["queued"], 0) << counts;
  EXPECT_EQ(counts["activeCliJobs"].size(), 3u) << counts;

  std::vector<pid_t> jobGroups;
  for (int attempt = 0; attempt < 3000 && jobGroups.empty(); ++attempt) {
    jobGroups = test::childrenOf(daemon_->pid());
    if (jobGroups.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_FALSE(jobGroups.empty()) << "no job process started";
  daemon_->signal(SIGTERM);
  EXPECT_EQ(daemon_->waitForExit(), 0) << daemon_->stderrText();
  for (pid_t group : jobGroups) EXPECT_TRUE(test::groupEmptiesWithin(group, std::chrono::seconds(30)));
  // Not even a job that was waiting for its lane started during the shutdown.
  const std::vector<pid_t> left = test::childrenOf(::getpid());
  EXPECT_TRUE(left.empty()) << left.size() << " processes outlived the daemon";
  for (pid_t pid : left) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
}

TEST_F(JobsEndToEnd, AWorkstreamStartedWithoutANameIsNamedAfterItsId) {
  auto client = connect();
  const std::string id = "ws-release";
  EXPECT_EQ(text(call(*client, "workstreams", {{"operation", "start"}, {"id", id}})), "Workstream started: " + id);
  EXPECT_EQ(text(call(*client, "workstreams", {{"operation", "complete"}, {"id", id}, {"status", "x"}})),
            "Workstream completed: " + id);
  const Json listed = parseJson(text(call(*client, "workstreams", {{"operation", "list"}})));
  ASSERT_EQ(listed.size(), 1u) << listed;
  EXPECT_EQ(listed[0]["name"], id);
  EXPECT_EQ(listed[0]["status"], "completed");
}

TEST_F(JobsEndToEnd, NothingAJobLeftInItsGroupOutlivesTheJobOrTheDaemon) {
  test::adoptOrphans();  // the job's helpers are orphaned when its program ends
  auto client = connect();
  // The program prints its group and leaves behind a helper that ignores SIGTERM.
  const std::string leaveHelper = "(trap '' TERM; exec sleep 600) & echo $$";
  const Json done = finishedJob(*client, enqueue(*client, "/bin/sh", Json::array({"-c", leaveHelper})));
  ASSERT_EQ(done["status"], "done") << done;
  const pid_t endedGroup = static_cast<pid_t>(std::stol(done["result"].get<std::string>()));
  EXPECT_TRUE(test::groupEmptiesWithin(endedGroup, std::chrono::seconds(30)));

  // The same helper under a program still running when the daemon stops.
  const std::string ready = (home_.path() / "ready").string();
  enqueue(*client, "/bin/sh", Json::array({"-c", leaveHelper + " > " + ready + "; wait"}));
  pid_t runningGroup = 0;
  for (int attempt = 0; attempt < 3000 && runningGroup == 0; ++attempt) {
    const std::string text = test::DaemonProcess::readFile(ready);
    if (!text.empty() && text.back() == '\n') runningGroup = static_cast<pid_t>(std::stol(text));
    if (runningGroup == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_NE(runningGroup, 0) << "the second job never started";
  daemon_->signal(SIGTERM);
  EXPECT_EQ(daemon_->waitForExit(), 0) << daemon_->stderrText();
  EXPECT_TRUE(test::groupEmptiesWithin(runningGroup, std::chrono::seconds(30)));

  for (pid_t group : {endedGroup, runningGroup}) {
    if (test::processesInGroup(group).empty()) continue;
    ::kill(-group, SIGKILL);
    test::groupEmptiesWithin(group, std::chrono::seconds(30));
  }
}

TEST_F(JobsEndToEnd, SigtermWithARunningJobLeavesNoProcessOfIt) {
  auto client = connect();
  const std::string id = enqueue(*client, "/bin/sleep", Json::array({"600"}));
  // The job's child leads its own process group; find it through the daemon's children.
  pid_t jobGroup = 0;
  for (int attempt = 0; attempt < 3000 && jobGroup == 0; ++attempt) {
    for (pid_t pid : test::childrenOf(daemon_->pid())) jobGroup = pid;
    if (jobGroup == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_NE(jobGroup, 0) << "the job " << id << " never started";

  daemon_->signal(SIGTERM);
  EXPECT_EQ(daemon_->waitForExit(), 0) << daemon_->stderrText();
  EXPECT_TRUE(test::groupEmptiesWithin(jobGroup, std::chrono::seconds(30)));
}

}  // namespace
}  // namespace qd
