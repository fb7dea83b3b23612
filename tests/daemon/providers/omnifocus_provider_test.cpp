#include <gtest/gtest.h>

#include "daemon/providers/omnifocus_provider.h"
#include "scripted_provider_harness.h"

namespace qd {
namespace {

class OmniFocusTest : public testing::Test, protected test::ScriptedProviderHarness {
 protected:
  std::string text(Json arguments) { return ScriptedProviderHarness::text(provider, "omnifocus", std::move(arguments)); }
  std::vector<std::vector<std::string>> programs() const {
    std::vector<std::vector<std::string>> out;
    for (const auto& run : scripts()) {
      EXPECT_EQ(run.lane, "omnifocus");
      EXPECT_EQ(run.timeoutSeconds, 15.0);
      EXPECT_EQ(run.errorDomain, "OmniFocusConsolidatedProvider");
      EXPECT_EQ(run.failureDescription, "OmniFocus AppleScript failed");
      out.push_back(test::RecordingScriptRunner::lines(run));
    }
    return out;
  }
  OmniFocusProvider provider{"omnifocus_consolidated", FeatureTier::beta, runner};
};

TEST_F(OmniFocusTest, OperationsRunTheirProgramsAfterThePreflight) {
  const struct {
    Json arguments;
    std::vector<std::string> firstProgramHas;  // lines the first program holds
    std::size_t programs;
    std::string reply;
  } cases[] = {
      {{{"operation", "dump_database"}, {"hideCompleted", true}}, {"set end of outLines to (\"P: \" & (name of p as string))"}, 1, "out"},
      {{{"operation", "query"}},
       {"repeat with t in flattened tasks whose completed is false and dropped is false", "if i > 50 then exit repeat"},
       1,
       "out"},
      {{{"operation", "query"}, {"limit", 10.9}, {"fields", {"name"}}, {"sortBy", "name"}}, {"if i > 10 then exit repeat"}, 1, "out"},
      {{{"operation", "query"}, {"limit", 1e300}}, {"if i > 9223372036854775807 then exit repeat"}, 1, "out"},
      {{{"operation", "get_perspective_view"}}, {"repeat with t in inbox tasks", "if i > 100 then exit repeat"}, 1, "out"},
      {{{"operation", "add_task"}, {"name", "a \"b\" \\ c\nd"}, {"tags", {"x"}}, {"estimatedMinutes", 15}},
       {"set newTask to make new inbox task with properties {name:\"a \\\"b\\\" \\\\ c\nd\", note:\"\", flagged:false, "
        "estimated minutes:15}",
        "set tagObj to first flattened tag whose name = \"x\""},
       1,
       "out"},
      {{{"operation", "add_project"}, {"name", "P"}, {"sequential", true}, {"flagged", "yes"}},
       {"set newProject to make new project with properties {name:\"P\", note:\"\", sequential:true, flagged:false}"},
       1,
       "out"},
      {{{"operation", "remove_item"}, {"name", "N"}},
       {"set targetItem to first flattened tasks whose name = \"N\"", "return \"Removed task: \" & oldName"},
       1,
       "out"},
      {{{"operation", "edit_item"}, {"itemType", "project"}, {"id", "p1"}, {"newName", "R"}, {"addTags", {"a", "b"}},
        {"replaceTags", Json::array()}},
       {"set targetItem to first flattened projects whose id = \"p1\"", "set name of targetItem to \"R\""},
       4,  // the edit, two tags, the clear
       "out"},
      {{{"operation", "batch_add_items"},
        {"items", {{{"type", "project"}, {"name", "P"}}, {{"name", ""}}, {{"type", "other"}, {"name", "T"}}}}},
       {"set newProject to make new project with properties {name:\"P\", note:\"\", sequential:false, flagged:false}"},
       3,
       "out\nout\nout"},
  };
  for (const auto& c : cases) {
    runner->runs.clear();
    runner->answer("omnifocus", "out");
    EXPECT_EQ(text(c.arguments), c.reply) << c.arguments.dump();
    EXPECT_EQ(preflights(), std::vector<std::string>{"permissions-omnifocus"});
    const auto ran = programs();
    ASSERT_EQ(ran.size(), c.programs) << c.arguments.dump();
    for (const auto& line : c.firstProgramHas) {
      EXPECT_NE(std::find(ran[0].begin(), ran[0].end(), line), ran[0].end()) << c.arguments.dump() << "\nlacks " << line;
    }
  }
}

TEST_F(OmniFocusTest, RepliesThatRunNoProgram) {
  const struct {
    Json arguments;
    std::string reply;
  } cases[] = {
      {Json::object(), OmniFocusProvider::helpText()},
      {{{"operation", "Help"}}, "Unknown operation: Help. Use 'help' to see available operations."},
      {{{"operation", "list_perspectives"}}, "Inbox\nProjects\nTags\nForecast\nFlagged\nReview"},
      {{{"operation", "add_task"}, {"name", ""}}, "Missing name"},
      {{{"operation", "add_project"}}, "Missing name"},
      {{{"operation", "remove_item"}, {"itemType", "project"}}, "Missing id or name"},
      {{{"operation", "edit_item"}, {"newName", "x"}}, "Missing id or name"},
      {{{"operation", "batch_add_items"}, {"items", {{"name", "x"}}}}, "Missing items"},
      {{{"operation", "batch_remove_items"}, {"items", {1}}}, "Missing items"},
      {{{"operation", "batch_remove_items"}, {"items", Json::array()}}, ""},
  };
  for (const auto& c : cases) {
    runner->runs.clear();
    EXPECT_EQ(text(c.arguments), c.reply) << c.arguments.dump();
    EXPECT_TRUE(scripts().empty()) << c.arguments.dump();
    // The preflight runs before every operation, help included.
    EXPECT_EQ(preflights(), std::vector<std::string>{"permissions-omnifocus"});
  }
  const std::string help = OmniFocusProvider::helpText();
  EXPECT_TRUE(help.starts_with("OmniFocus Operations:\n\nRead-Only Operations:\n  • dump_database - Get compact database dump"));
  EXPECT_TRUE(help.ends_with("{\"operation\": \"get_perspective_view\", \"perspectiveName\": \"Inbox\", \"limit\": 20}"));
}

TEST_F(OmniFocusTest, SummaryCountsAndBatchRemoveLines) {
  runner->answer("omnifocus", " 7\n");
  EXPECT_EQ(text({{"operation", "query"}, {"entity", "projects"}, {"summary", true}}),
            "Found 7 projects matching criteria");
  runner->answer("omnifocus", "lots");
  EXPECT_EQ(text({{"operation", "query"}, {"entity", "Tasks"}, {"summary", true}}), "Found 0 Tasks matching criteria");

  runner->runs.clear();
  runner->answer("omnifocus", "Removed project: P");
  EXPECT_EQ(text({{"operation", "batch_remove_items"}, {"items", {{{"itemType", "project"}, {"id", "p1"}}, Json::object()}}}),
            "Removed project: P\nMissing id or name");
  ASSERT_EQ(programs().size(), 1u);
  EXPECT_EQ(programs()[0][2], "set targetItem to first flattened projects whose id = \"p1\"");
}

TEST_F(OmniFocusTest, FailuresStopTheCall) {
  runner->fail("omnifocus", ProcessRunnerError("OmniFocusConsolidatedProvider", 2,
                                               "OmniFocus AppleScript failed: timed out after 15s"));
  EXPECT_EQ(failure(provider, "omnifocus", {{"operation", "batch_add_items"}, {"items", {{{"name", "a"}}, {{"name", "b"}}}}}),
            "OmniFocusConsolidatedProvider 2 OmniFocus AppleScript failed: timed out after 15s");
  EXPECT_EQ(scripts().size(), 1u);  // the first failing item ends the batch
  refusePreflight("permissions-omnifocus");
  runner->runs.clear();
  const std::string refused = failure(provider, "omnifocus", {{"operation", "help"}});
  EXPECT_TRUE(refused.starts_with("PermissionGuidance 1 OmniFocus access is required")) << refused;
  EXPECT_TRUE(scripts().empty());
  EXPECT_FALSE(provider.tools()[0].inputSchema.properties->at("operation").contains("enum"));
  EXPECT_EQ(provider.tools()[0].inputSchema.properties->size(), 39u);
  EXPECT_EQ(provider.tools()[0].inputSchema.properties->at("items")["items"], Json({{"type", "object"}}));
}

}  // namespace
}  // namespace qd
