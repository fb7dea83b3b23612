#include <gtest/gtest.h>

#include "daemon/providers/notes_provider.h"
#include "scripted_provider_harness.h"

namespace qd {
namespace {

class NotesTest : public testing::Test, protected test::ScriptedProviderHarness {
 protected:
  std::string text(Json arguments) { return ScriptedProviderHarness::text(provider, "notes", std::move(arguments)); }
  NotesToolProvider provider{"notes", FeatureTier::dev, runner};
};

std::vector<std::string> listScript(int limit) {
  return {"tell application \"Notes\"",
          "set outLines to {}",
          "set allNotes to every note",
          "set maxCount to " + std::to_string(limit),
          "repeat with i from 1 to (count of allNotes)",
          "if i > maxCount then exit repeat",
          "set n to item i of allNotes",
          "set end of outLines to (name of n as string)",
          "end repeat",
          "set AppleScript's text item delimiters to linefeed",
          "set outputText to outLines as text",
          "set AppleScript's text item delimiters to \"\"",
          "return outputText",
          "end tell"};
}

TEST_F(NotesTest, EachOperationRunsItsScript) {
  const struct {
    Json arguments;
    std::vector<std::string> lines;
    std::vector<std::string> preflights;
  } cases[] = {
      {Json::object(), listScript(25), {"permissions-notes"}},
      {{{"operation", "list"}, {"limit", 0}}, listScript(1), {"permissions-notes"}},
      {{{"operation", "list"}, {"limit", -4}}, listScript(1), {"permissions-notes"}},
      {{{"operation", "list"}, {"limit", 1000}}, listScript(200), {"permissions-notes"}},
      {{{"operation", "list"}, {"limit", 2.9}}, listScript(2), {"permissions-notes"}},
      {{{"operation", "list"}, {"limit", "7"}}, listScript(25), {"permissions-notes"}},
      {{{"operation", "search"}, {"searchText", "a\"b\\c\nd"}, {"limit", 3}},
       {"tell application \"Notes\"", "set outLines to {}", "set maxCount to 3", "set matchedCount to 0",
        "repeat with n in notes", "set nm to name of n as string", "set bd to body of n as string",
        "if (nm contains \"a\\\"b\\\\c\nd\") or (bd contains \"a\\\"b\\\\c\nd\") then", "set end of outLines to (nm)",
        "set matchedCount to matchedCount + 1", "if matchedCount >= maxCount then exit repeat", "end if",
        "end repeat", "set AppleScript's text item delimiters to linefeed", "set outputText to outLines as text",
        "set AppleScript's text item delimiters to \"\"", "return outputText", "end tell"},
       {"permissions-notes"}},
      // Create runs no preflight and ignores the folder.
      {{{"operation", "create"}, {"title", "T \"1\""}, {"folderName", "Work"}},
       {"tell application \"Notes\"", "make new note with properties {name:\"T \\\"1\\\"\", body:\"\"}",
        "return \"Created note: T \\\"1\\\"\"", "end tell"},
       {}},
  };
  for (const auto& c : cases) {
    runner->runs.clear();
    runner->answer("notes", "out");
    EXPECT_EQ(text(c.arguments), "out") << c.arguments.dump();
    EXPECT_EQ(preflights(), c.preflights) << c.arguments.dump();
    ASSERT_EQ(scripts().size(), 1u) << c.arguments.dump();
    test::expectRun(scripts()[0], "notes", 15.0, "NotesToolProvider", "AppleScript failed", c.lines, c.arguments.dump());
  }
}

TEST_F(NotesTest, RepliesThatRunNoScriptAndFailures) {
  const struct {
    Json arguments;
    std::string reply;
    std::size_t preflights;
  } cases[] = {
      {{{"operation", "search"}, {"searchText", ""}}, "Missing searchText", 1},
      {{{"operation", "create"}, {"body", "b"}}, "Missing title", 0},
      {{{"operation", "Create"}}, "Unsupported notes operation: Create", 0},
  };
  for (const auto& c : cases) {
    runner->runs.clear();
    EXPECT_EQ(text(c.arguments), c.reply) << c.arguments.dump();
    EXPECT_TRUE(scripts().empty());
    EXPECT_EQ(preflights().size(), c.preflights) << c.arguments.dump();
  }
  EXPECT_TRUE(text({{"operation", "help"}}).starts_with("# Apple Notes Operations"));

  refusePreflight("permissions-notes");
  EXPECT_EQ(failure(provider, "notes", {{"operation", "search"}}).substr(0, 55),
            "PermissionGuidance 1 Notes access is required for autom");
  runner->fail("notes", ProcessRunnerError("NotesToolProvider", 1, "Not authorized to send Apple events to Notes."));
  EXPECT_EQ(failure(provider, "notes", {{"operation", "create"}, {"title", "t"}}),
            "NotesToolProvider 1 Not authorized to send Apple events to Notes.");
}

}  // namespace
}  // namespace qd
