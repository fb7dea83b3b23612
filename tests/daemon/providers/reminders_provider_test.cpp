#include <gtest/gtest.h>

#include "daemon/providers/reminders_provider.h"
#include "scripted_provider_harness.h"

namespace qd {
namespace {

class RemindersTest : public testing::Test, protected test::ScriptedProviderHarness {
 protected:
  std::string text(Json arguments) { return ScriptedProviderHarness::text(provider, "reminders", std::move(arguments)); }
  RemindersToolProvider provider{"reminders", FeatureTier::dev, runner};
};

TEST_F(RemindersTest, EachOperationRunsItsScript) {
  const struct {
    Json arguments;
    std::string output;
    std::vector<std::string> lines;
    std::string reply;
  } cases[] = {
      {Json::object(),
       "MilkBread",
       {"tell application \"Reminders\"", "set outLines to {}", "repeat with r in reminders",
        "set end of outLines to (name of r as string)", "end repeat", "return outLines as string", "end tell"},
       "MilkBread"},
      {{{"operation", "search"}, {"searchText", "say \"hi\" \\ now\nthen"}},
       "x",
       {"tell application \"Reminders\"", "set outLines to {}", "repeat with r in reminders",
        "if (name of r as string) contains \"say \\\"hi\\\" \\\\ now\nthen\" then",
        "set end of outLines to (name of r as string)", "end if", "end repeat", "return outLines as string",
        "end tell"},
       "x"},
      {{{"operation", "create"}, {"name", "Call \"Bob\""}, {"listName", "Work"}, {"dueDate", "tomorrow"}},
       "created",
       {"tell application \"Reminders\"", "make new reminder with properties {name:\"Call \\\"Bob\\\"\", body:\"\"}",
        "return \"created\"", "end tell"},
       "created"},
      {{{"operation", "create"}, {"name", "n"}, {"notes", "a\\b"}},
       "created",
       {"tell application \"Reminders\"", "make new reminder with properties {name:\"n\", body:\"a\\\\b\"}",
        "return \"created\"", "end tell"},
       "created"},
  };
  for (const auto& c : cases) {
    runner->runs.clear();
    runner->answer("reminders", c.output);
    EXPECT_EQ(text(c.arguments), c.reply) << c.arguments.dump();
    EXPECT_EQ(preflights(), std::vector<std::string>{"permissions-reminders"});
    ASSERT_EQ(scripts().size(), 1u) << c.arguments.dump();
    test::expectRun(scripts()[0], "reminders", 15.0, "RemindersToolProvider", "AppleScript failed", c.lines,
                    c.arguments.dump());
  }
}

TEST_F(RemindersTest, OpenCountsThenActivates) {
  const struct {
    std::string count;
    std::string activation;
    std::string reply;
    std::size_t runs;
  } cases[] = {
      {" 3\n", "SUCCESS", "Reminders app opened (3 matching reminder(s) found)", 2},
      {"+2", "xx SUCCESS", "Reminders app opened (2 matching reminder(s) found)", 2},
      {"3", "no", "Failed to open Reminders app", 2},
      {"0", "SUCCESS", "No matching reminders found", 1},
      {"", "SUCCESS", "No matching reminders found", 1},
      {"three", "SUCCESS", "No matching reminders found", 1},
  };
  // One lane serves both programs: answer by order.
  class TwoAnswers final : public ScriptRunner {
   public:
    asio::awaitable<std::string> run(ScriptRun run) override {
      runs.push_back(run);
      if (run.lane.starts_with("permissions-")) co_return "";
      co_return answers.at(runs.size() - 2);
    }
    std::vector<std::string> answers;
    std::vector<ScriptRun> runs;
  };
  for (const auto& c : cases) {
    auto twoAnswers = std::make_shared<TwoAnswers>();
    twoAnswers->answers = {c.count, c.activation};
    RemindersToolProvider open{"reminders", FeatureTier::dev, twoAnswers};
    EXPECT_EQ(ScriptedProviderHarness::text(open, "reminders", {{"operation", "open"}, {"searchText", "a\"b"}}),
              c.reply);
    ASSERT_EQ(twoAnswers->runs.size(), c.runs + 1) << c.count;
    EXPECT_EQ(test::RecordingScriptRunner::lines(twoAnswers->runs[1])[3],
              "if (name of r as string) contains \"a\\\"b\" then");
    EXPECT_EQ(test::RecordingScriptRunner::lines(twoAnswers->runs[1])[7], "return (count of matchingReminders) as string");
    if (c.runs == 2) {
      test::expectRun(twoAnswers->runs[2], "reminders", 15.0, "RemindersToolProvider", "AppleScript failed",
                      {"tell application \"Reminders\"", "activate", "return \"SUCCESS\"", "end tell"}, c.count);
    }
  }
}

TEST_F(RemindersTest, RepliesThatRunNoScript) {
  const struct {
    Json arguments;
    std::string reply;
    std::size_t preflights;
  } cases[] = {
      {{{"operation", "search"}, {"searchText", ""}}, "Missing searchText", 1},
      {{{"operation", "open"}}, "Missing searchText", 1},
      {{{"operation", "create"}, {"name", 3}}, "Missing name", 1},
      {{{"operation", "listById"}, {"listId", "L1"}},
       "Reminders by list ID not implemented for performance reasons. Use 'list' or 'search' operations instead.", 1},
      {{{"operation", "listById"}, {"listId", ""}}, "Missing listId", 1},
      {{{"operation", "List"}}, "Unsupported reminders operation: List", 0},
  };
  for (const auto& c : cases) {
    runner->runs.clear();
    EXPECT_EQ(text(c.arguments), c.reply) << c.arguments.dump();
    EXPECT_TRUE(scripts().empty()) << c.arguments.dump();
    EXPECT_EQ(preflights().size(), c.preflights) << c.arguments.dump();
  }
  runner->runs.clear();
  const std::string help = text({{"operation", "help"}});
  EXPECT_TRUE(help.starts_with("# Reminders Operations\n\n## Read Operations\n- `list` — List all reminder names"));
  EXPECT_TRUE(help.ends_with("- `props` (string array, optional) — Properties to return"));
  EXPECT_TRUE(runner->runs.empty());
}

TEST_F(RemindersTest, RefusalsAndScriptFailuresAreThrown) {
  refusePreflight("permissions-reminders");
  const std::string refused = failure(provider, "reminders", {{"operation", "list"}});
  EXPECT_TRUE(refused.starts_with("PermissionGuidance 1 Reminders access is required for automation request to Reminders"))
      << refused;
  EXPECT_TRUE(refused.ends_with("Details: Permission preflight failed"));
  EXPECT_EQ(failure(provider, "reminders", {{"operation", "listById"}, {"listId", "x"}}).substr(0, 20),
            "PermissionGuidance 1");
  runner->answers.clear();
  runner->fail("reminders", ProcessRunnerError("RemindersToolProvider", 1, "AppleScript failed: No such file or directory"));
  EXPECT_EQ(failure(provider, "reminders", {{"operation", "search"}, {"searchText", "x"}}),
            "RemindersToolProvider 1 AppleScript failed: No such file or directory");
  EXPECT_EQ((*provider.tools()[0].inputSchema.properties)["operation"]["enum"],
            Json({"help", "list", "search", "create", "open", "listById"}));
}

}  // namespace
}  // namespace qd
