#pragma once

// The coordination fixture with a running job runtime: the context's owner for the job
// tasks, a way to drive the io context until a condition holds, and a shutdown of every
// job left at the end of a test.

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "coordination_fixture.h"
#include "daemon/work/job_runtime.h"
#include "daemon/work/jobs_tool.h"

namespace qd::test {

class JobTest : public CoordinationTest {
 protected:
  JobTest() { jobRuntime.owner = owner; }

  void TearDown() override {
    run(stopRunningJobs(context));
    EXPECT_TRUE(jobRuntime.activeRuns.empty());
  }

  // Drives the io context until `done` holds; false after the limit.
  bool runUntil(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(60)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    io.restart();
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      io.run_one_for(std::chrono::milliseconds(20));
      if (io.stopped()) io.restart();
    }
    return true;
  }

  bool allJobsEnded() {
    return tracker.listJobs(std::string("queued")).empty() && tracker.listJobs(std::string("running")).empty() &&
           jobRuntime.activeRuns.empty();
  }

  Json jobs(Json arguments, const std::string& clientId = "client-0") { return run(handleJobsTool(context, clientId, std::move(arguments))); }

  // Queues "/bin/sh -c <script>" for the agent and answers the job id.
  std::string enqueueShell(const std::string& script, const std::string& agent, Json extra = Json::object()) {
    Json arguments{{"operation", "enqueue"}, {"command", "/bin/sh"}, {"arguments", {"-c", script}}, {"agentId", agent}};
    arguments.update(extra);
    const std::string reply = replyText(jobs(std::move(arguments)));
    return reply.substr(std::string("Job queued: ").size());
  }

  Json statusReply() { return parseJson(replyText(jobs(Json{{"operation", "status"}}))); }

  void setMaxConcurrentJobs(std::int64_t value) {
    ToolSettings settings = settingsStore.current();
    settings.maxConcurrentJobs = value;
    settingsStore.save(settings);
  }

  std::string fileText(const std::string& name) {
    std::ifstream in(folder / name);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::shared_ptr<CoordinationContext> owner{&context, [](CoordinationContext*) {}};
};

}  // namespace qd::test
