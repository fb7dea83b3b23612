// Jobs and workstreams through the real daemon program: a job's command runs as a child of
// the daemon and its outcome is listed; a job still running at SIGTERM does not outlive the
// daemon. Tier beta, no note app, jobs and workstreams switched on in tool-settings.json.

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "socket_session.h"
#include "support/process_table.h"

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
  EXPECT_EQ(failed["error"], "Job " + missingId + " failed: No such file or directory") << failed;
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
