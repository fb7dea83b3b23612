#include <gtest/gtest.h>

#include "job_fixture.h"

namespace qd {
namespace {

using namespace std::chrono_literals;

class JobsTool : public test::JobTest {
 protected:
  // Jobs that stay where the test puts them: one slot, taken by a job that never ends.
  void holdTheOnlySlot() {
    setMaxConcurrentJobs(1);
    Json blocker{{"operation", "enqueue"}, {"command", "/bin/sleep"}, {"arguments", {"1000"}}, {"jobId", "blocker"}};
    jobs(std::move(blocker));
  }
};

TEST_F(JobsTool, DispatchErrorsAndHelp) {
  EXPECT_EQ(errorOf(handleJobsTool(context, "c", Json::object())), "Missing required parameter: operation");
  EXPECT_EQ(errorOf(handleJobsTool(context, "c", Json{{"operation", 3}})), "Missing required parameter: operation");
  EXPECT_EQ(errorOf(handleJobsTool(context, "c", Json{{"operation", "  "}})), "Invalid parameter: Unknown jobs operation: ");
  EXPECT_EQ(errorOf(handleJobsTool(context, "c", Json{{"operation", "Cancel"}})),
            "Invalid parameter: Unknown jobs operation: cancel");
  for (const Json& command : {Json(nullptr), Json(""), Json(7)}) {
    Json arguments{{"operation", " ENQUEUE\n"}};
    if (!command.is_null()) arguments["command"] = command;
    EXPECT_EQ(errorOf(handleJobsTool(context, "c", arguments)), "Missing required parameter: command");
    arguments["operation"] = "start_ralph_loop";
    EXPECT_EQ(errorOf(handleJobsTool(context, "c", arguments)), "Missing required parameter: command");
  }
  EXPECT_TRUE(tracker.listJobs(std::nullopt).empty());
  EXPECT_EQ(replyText(jobs(Json{{"operation", "HELP"}})), "Operations: help, enqueue, start_ralph_loop, list, run_next, status");
}

TEST_F(JobsTool, GeneratedIdsNeverReplaceAJobWhileTheClockStands) {
  holdTheOnlySlot();
  const std::int64_t ms = nowMs();
  std::vector<std::string> replies;
  for (int i = 0; i < 3; ++i) {
    Json arguments{{"operation", "enqueue"}, {"command", "/bin/echo"}};
    replies.push_back(replyText(jobs(std::move(arguments))));
  }
  EXPECT_EQ(replies, (std::vector<std::string>{"Job queued: JOB-" + std::to_string(ms),
                                               "Job queued: JOB-" + std::to_string(ms + 1),
                                               "Job queued: JOB-" + std::to_string(ms + 2)}));
  // A loop's group moves on until none of its job ids exists.
  const Json first = parseJson(replyText(jobs(Json{{"operation", "start_ralph_loop"}, {"command", "/bin/echo"}})));
  const Json second = parseJson(replyText(jobs(Json{{"operation", "start_ralph_loop"}, {"command", "/bin/echo"}})));
  EXPECT_EQ(first["loopGroupId"], "RLP-" + std::to_string(ms));
  EXPECT_EQ(second["loopGroupId"], "RLP-" + std::to_string(ms + 1));
  EXPECT_EQ(tracker.listJobs(std::nullopt).size(), 1u + 3 + 3 + 3);
  const std::string group = first["loopGroupId"];
  bool noted = false;
  for (const Json& note : app.argumentsOf("create_note")) {
    noted |= note.value("name", "") == "Ralph Loop Queued - " + group &&
             note.value("text", "") == "Iterations: 3\nRunner: claude\nCommand: /bin/echo\nJobs: " + group + "-1, " +
                                           group + "-2, " + group + "-3";
  }
  EXPECT_TRUE(noted);
}

TEST_F(JobsTool, EnqueueStoresTheArgumentsAndAnExplicitIdReplacesAQueuedJob) {
  holdTheOnlySlot();
  Json arguments{{"operation", "enqueue"},
                 {"command", " /bin/echo "},
                 {"jobId", "  my-job "},
                 {"runner", "codex"},
                 {"origin", ""},
                 {"arguments", {"a", 2, true, nullptr}},
                 {"metadata", {{"k", "v"}, {"n", 1}}}};
  EXPECT_EQ(replyText(jobs(arguments)), "Job queued: my-job");
  auto job = tracker.job("my-job");
  ASSERT_TRUE(job);
  EXPECT_EQ(job->command, " /bin/echo ");  // used as given
  EXPECT_EQ(job->runner, "codex");
  EXPECT_EQ(job->agentID, "unknown-agent");
  EXPECT_FALSE(job->origin);  // blank text counts as absent
  EXPECT_EQ(job->arguments, (std::vector<std::string>{"a", "2"}));
  EXPECT_EQ(job->metadata, (StringMap{{"k", "v"}, {"n", "1"}}));
  EXPECT_EQ(job->status, "queued");

  queue.identifyAgent("client-0", "named", std::nullopt);
  Json replacement{{"operation", "enqueue"}, {"command", "/bin/true"}, {"jobId", "my-job"}};
  jobs(std::move(replacement));
  job = tracker.job("my-job");
  EXPECT_EQ(job->command, "/bin/true");
  EXPECT_EQ(job->runner, "custom");
  EXPECT_EQ(job->agentID, "named");
  EXPECT_TRUE(job->metadata.empty());
}

TEST_F(JobsTool, ARalphLoopQueuesNumberedJobsWithLoopMetadata) {
  holdTheOnlySlot();
  struct Case {
    Json iterations;
    std::int64_t expected;
  } cases[] = {{Json(), 3}, {Json(0), 1}, {Json(-4), 1}, {Json(26), 25}, {Json("5"), 3}, {Json(2.0), 3}, {Json(5), 5}};
  for (const auto& c : cases) {
    Json arguments{{"operation", "start_ralph_loop"}, {"command", "/bin/echo"}, {"metadata", {{"loopType", "mine"}, {"x", "y"}}}};
    if (!c.iterations.is_null()) arguments["iterations"] = c.iterations;
    const Json reply = parseJson(replyText(jobs(std::move(arguments))));
    EXPECT_EQ(reply["iterations"], c.expected) << c.iterations.dump();
    ASSERT_EQ(reply["jobIds"].size(), static_cast<std::size_t>(c.expected));
    const std::string group = reply["loopGroupId"];
    EXPECT_EQ(reply["jobIds"][0], group + "-1");
    const auto last = tracker.job(reply["jobIds"].back().get<std::string>());
    ASSERT_TRUE(last);
    EXPECT_EQ(last->runner, "claude");
    EXPECT_EQ(last->metadata, (StringMap{{"loopGroupId", group},
                                         {"loopIteration", std::to_string(c.expected)},
                                         {"loopMaxIterations", std::to_string(c.expected)},
                                         {"loopType", "ralph"},
                                         {"x", "y"}}));
  }
}

TEST_F(JobsTool, JobsOfOneMillisecondStartInIdOrder) {
  holdTheOnlySlot();
  Json loop{{"operation", "start_ralph_loop"}, {"command", "/bin/sleep"}, {"arguments", {"1000"}}, {"iterations", 10}};
  const std::string group = parseJson(replyText(jobs(std::move(loop))))["loopGroupId"];
  jobs(Json{{"operation", "run_next"}});
  jobs(Json{{"operation", "run_next"}});
  // As text, "-10" sorts before "-2".
  EXPECT_EQ(tracker.job(group + "-1")->status, "running");
  EXPECT_EQ(tracker.job(group + "-10")->status, "running");
  EXPECT_EQ(tracker.job(group + "-2")->status, "queued");
}

TEST_F(JobsTool, ListAndStatusShowTheJobs) {
  setMaxConcurrentJobs(1);
  Json running{{"operation", "enqueue"}, {"command", "/bin/sleep"}, {"arguments", {"1000"}}, {"jobId", "r"}, {"agentId", "ag"}};
  jobs(std::move(running));
  Json queued{{"operation", "enqueue"}, {"command", "/bin/echo"}, {"jobId", "q"}, {"origin", "cli"}};
  jobs(std::move(queued));

  const Json status = statusReply();
  EXPECT_EQ(status, parseJson(R"({"maxConcurrentJobs": 1, "running": 1, "queued": 1, "done": 0, "failed": 0,
      "activeCliJobs": [{"id": "r", "agentId": "ag", "runner": "custom", "command": "/bin/sleep",
                         "arguments": ["1000"], "updatedAt": )" + std::to_string(nowMs()) + "}]}"));

  const Json all = parseJson(replyText(jobs(Json{{"operation", "list"}})));
  ASSERT_EQ(all.size(), 2u);
  const Json q = all[0]["id"] == "q" ? all[0] : all[1];
  EXPECT_EQ(q, parseJson(R"({"id": "q", "agentId": "unknown-agent", "runner": "custom", "command": "/bin/echo",
      "arguments": [], "status": "queued", "createdAt": )" + std::to_string(nowMs()) + R"(, "updatedAt": )" +
                         std::to_string(nowMs()) + R"(, "origin": "cli", "result": null, "error": null, "metadata": {}})"));

  struct Case {
    Json filter;
    std::size_t count;
  } cases[] = {{Json(" RUNNING "), 1}, {Json("queued"), 1}, {Json("  "), 0}, {Json(5), 2}};
  for (const auto& c : cases) {
    const Json listed = parseJson(replyText(jobs(Json{{"operation", "list"}, {"status", c.filter}})));
    EXPECT_EQ(listed.size(), c.count) << c.filter.dump();
  }
}

}  // namespace
}  // namespace qd
