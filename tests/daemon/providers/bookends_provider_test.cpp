#include <gtest/gtest.h>

#include <asio/io_context.hpp>

#include "apple_script_handler.h"
#include "daemon/core/provider_error.h"
#include "daemon/providers/bookends_help.h"
#include "daemon/providers/bookends_provider.h"
#include "daemon/providers/bookends_scripts.h"
#include "recording_script_runner.h"
#include "support/test_io.h"

namespace qd {
namespace {

using test::RecordingScriptRunner;
using test::runAwaitable;

class BookendsTest : public testing::Test {
 protected:
  Json call(Json arguments) {
    auto reply = runAwaitable(io, provider.handle("bookends", "client-0", std::move(arguments)));
    EXPECT_TRUE(reply.has_value());
    return reply.value_or(Json());
  }
  std::string text(Json arguments) {
    const Json reply = call(std::move(arguments));
    return reply["content"][0]["text"].get<std::string>();
  }
  // The scripts run after the preflight.
  std::vector<ScriptRun> scripts() const {
    std::vector<ScriptRun> out;
    for (const auto& run : runner->runs) {
      if (run.lane != "permissions-bookends") out.push_back(run);
    }
    return out;
  }

  asio::io_context io;
  std::shared_ptr<RecordingScriptRunner> runner = std::make_shared<RecordingScriptRunner>();
  BookendsProvider provider{"bookends", FeatureTier::beta, runner};
};

TEST_F(BookendsTest, EachOperationRunsItsScriptOnTheBookendsLane) {
  const struct {
    Json arguments;
    std::string output;
    std::vector<std::string> scriptHas;  // lines the script must contain
    std::string reply;
  } cases[] = {
      {{{"operation", "library_info"}},
       "Library: Refs",
       {"tell application \"Bookends\"", "set winName to name of front library window", "return \"Library: \" & winName"},
       "Library: Refs"},
      {{{"operation", "selected"}},
       "id=1 | title=A",
       {"set selPubs to selected publications of front library window",
        "set end of outLines to (\"id=\" & (id of p as string) & \" | title=\" & (title of p as string))"},
       "id=1 | title=A"},
      {{{"operation", "search"}, {"query", "say \"x\"\\"}, {"searchType", "author"}},
       "id=2 | title=B",
       {"set q to \"say \\\"x\\\"\\\\\"",
        "set matches to publications of front library window whose (value of field \"authors\" of it contains q)"},
       "id=2 | title=B"},
      {{{"operation", "search"}, {"query", "q"}},
       "",
       {"set matches to publications of front library window whose (title contains q) or ¬",
        "(authors contains q) or (keywords contains q) or ¬", "(notes contains q)"},
       ""},
      {{{"operation", "search"}, {"query", "q"}, {"searchType", "sql"}},
       "",
       {"set matches to publications of front library window whose SQL search string is q"},
       ""},
      {{{"operation", "get"}, {"limit", 2}, {"fields", {"id", "publicationDateString"}}},
       R"([{"id": "1", "publicationDateString": "2020"}])",
       {"    set maxPubs to 2",
        "            set idValue to id of pub\n            set publicationDateStringValue to publication date string of pub",
        "        set pubJSON to \"{\" & \"\\\"id\\\": \\\"\" & my escapeJSON(idValue) & \"\\\"\" & \", \" & "
        "\"\\\"publicationDateString\\\": \\\"\" & my escapeJSON(publicationDateStringValue) & \"\\\"\" & \"}\""},
       "Found 1 publication(s):\n\n[{\"id\": \"1\", \"publicationDateString\": \"2020\"}]"},
      {{{"operation", "list"}, {"limit", 10.5}, {"fields", Json::array()}},
       "[{}, {}]",
       {"    set maxPubs to 100", "        set pubJSON to \"{\" & \"}\""},
       "Found 2 publication(s):\n\n[{}, {}]"},
      {{{"operation", "list"}},
       "not json",
       {"            set idValue to id of pub\n            set titleValue to title of pub\n"
        "            set authorsValue to authors of pub\n            set journalValue to journal of pub\n"
        "            set publicationDateStringValue to publication date string of pub\n"
        "            set doiValue to doi of pub\n            set citekeyValue to citekey of pub"},
       "Found 0 publication(s):\n\nnot json"},
      {{{"operation", "format"}, {"publicationIds", {"1", "a\"b"}}},
       "Ref A",
       {"    set idList to {\"1\", \"a\\\"b\"}", "      set formattedRefs to format pubList  as plain text"},
       "Formatted 2 reference(s):\n\nRef A"},
      {{{"operation", "format"}, {"publicationIds", {"1"}}, {"formatName", "APA 6th Edition.fmt"}, {"outputFormat", "RTF"}},
       "R",
       {"      set formattedRefs to format pubList using \"APA 6th Edition.fmt\" as RTF"},
       "Formatted 1 reference(s):\n\nR"},
      {{{"operation", "groups"}},
       R"([{"id": "g", "name": "N", "colorIndex": 2}])",
       {"        set groupJSON to \"{\\\"id\\\": \\\"\" & my escapeJSON(groupId) & \"\\\", \\\"name\\\": \\\"\" & "
        "my escapeJSON(groupName) & \"\\\", \\\"colorIndex\\\": \" & groupColor & \"}\""},
       "Found 1 group(s):\n\n[{\"id\": \"g\", \"name\": \"N\", \"colorIndex\": 2}]"},
      {{{"operation", "attachments"}, {"publicationId", "7\""}},
       "[]",
       {"    set thePub to first publication item whose id is \"7\\\"\""},
       "No attachments found for this publication."},
      {{{"operation", "pdf_info"}},
       R"({"name": "error.pdf", "path": "/error", "selectedText": "\"error\""})",
       {"      set pdfName to name of displayed PDF"},
       "PDF Information:\n\n{\"name\": \"error.pdf\", \"path\": \"/error\", \"selectedText\": \"\\\"error\\\"\"}"},
  };
  for (const auto& c : cases) {
    runner->runs.clear();
    runner->answer("bookends", c.output);
    EXPECT_EQ(text(c.arguments), c.reply) << c.arguments.dump();
    ASSERT_EQ(runner->runs.size(), 2u) << c.arguments.dump();
    EXPECT_EQ(runner->runs[0].lane, "permissions-bookends");
    const ScriptRun& run = runner->runs[1];
    EXPECT_EQ(run.lane, "bookends");
    EXPECT_EQ(run.timeoutSeconds, 15.0);
    EXPECT_EQ(run.errorDomain, "BookendsConsolidatedProvider");
    EXPECT_EQ(run.failureDescription, "Bookends AppleScript failed");
    const auto lines = RecordingScriptRunner::lines(run);
    for (const auto& line : c.scriptHas) {
      EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end())
          << c.arguments.dump() << " lacks the line\n" << line << "\nin\n" << RecordingScriptRunner::script(run);
    }
  }
}

TEST_F(BookendsTest, JsonScriptsBeginWithTheEscapeHandler) {
  const auto handler = bookends::escapeJSONHandler();
  EXPECT_EQ(handler.size(), 23u);  // 22 lines and a blank one
  EXPECT_EQ(handler.front(), "on escapeJSON(theText)");
  for (const auto& script : {bookends::listScript(1, {"id"}), bookends::groupsScript(), bookends::attachmentsScript("1"),
                             bookends::pdfInfoScript()}) {
    EXPECT_TRUE(std::equal(handler.begin(), handler.end(), script.begin()));
    EXPECT_EQ(script[handler.size()], "tell application \"Bookends\"");
  }
}

// A field holding a control character other than a line break or a tab (a vertical tab
// pasted into a title) must still give a JSON array, or the count reads 0. The handler
// itself runs on each title; the list the script prints of them goes through the provider.
TEST_F(BookendsTest, ControlCharactersInAFieldKeepTheListValidJson) {
  const test::AppleScriptHandler escapeJSON(bookends::escapeJSONHandler());
  std::string everyControl;
  for (char c = 0; c < 32; ++c) everyControl.push_back(c);
  const std::string titles[] = {"a\vb", everyControl, "\v", "\"q\" \\ \x7f", "Zoë 🙂 “x”", ""};
  std::string printed;
  for (const std::string& title : titles) {
    const std::string escaped = escapeJSON.callWithText(title);
    EXPECT_EQ(Json::parse("\"" + escaped + "\"", nullptr, false), Json(title)) << Json(escaped).dump();
    printed += (printed.empty() ? "[" : ", ") + std::string("{\"title\": \"") + escaped + "\"}";
  }
  EXPECT_EQ(escapeJSON.call({test::AppleScriptHandler::Missing{}}), (test::AppleScriptHandler::Value{U""}));
  runner->answer("bookends", printed + "]");
  const std::string reply = text({{"operation", "list"}, {"fields", {"title"}}});
  EXPECT_TRUE(reply.starts_with("Found 6 publication(s):\n\n")) << reply;
}

TEST_F(BookendsTest, PlainRepliesThatRunNoScript) {
  const struct {
    Json arguments;
    std::string reply;
  } cases[] = {
      {{{"operation", "create"}},
       "Write operation 'create' is not yet implemented. Only read-only Bookends tools are currently supported."},
      {{{"operation", "remove_from_group"}},
       "Write operation 'remove_from_group' is not yet implemented. Only read-only Bookends tools are currently supported."},
      {{{"operation", "Search"}}, "Unknown operation: Search. Use operation='help' for available operations."},
      {{{"operation", "search"}, {"query", ""}}, "Missing query parameter"},
      {{{"operation", "search"}, {"query", 5}}, "Missing query parameter"},
      {{{"operation", "search"}, {"query", "x"}, {"searchType", "Title"}},
       "Unknown searchType: Title. Use: all, title, author, keywords, journal, publisher, notes, doi, year, sql"},
      {{{"operation", "format"}, {"publicationIds", Json::array()}},
       "Missing publicationIds parameter (array of publication IDs)"},
      {{{"operation", "format"}, {"publicationIds", {"1", 2}}},
       "Missing publicationIds parameter (array of publication IDs)"},
      {{{"operation", "attachments"}}, "Missing publicationId parameter"},
      {{{"operation", "help"}, {"query", "GET"}}, *bookends::topicHelp("list")},
      {{{"operation", "help"}, {"query", "Format"}}, *bookends::topicHelp("format")},
      {{{"operation", "help"}, {"query", "Nothing"}},
       "No detailed help available for 'Nothing'. Use operation='help' for full list."},
      {{{"operation", 3}}, bookends::helpText()},
      {Json::object(), bookends::helpText()},
      // Decided faults: values that would stand unquoted in a script are checked first.
      {{{"operation", "format"}, {"publicationIds", {"1"}}, {"outputFormat", "RTF\ndo shell script \"x\""}},
       "Unknown outputFormat: RTF\ndo shell script \"x\". Use: plain text, RTF, BibTeX, HTML, Markdown"},
      {{{"operation", "format"}, {"publicationIds", {"1"}}, {"outputFormat", "rtf"}},
       "Unknown outputFormat: rtf. Use: plain text, RTF, BibTeX, HTML, Markdown"},
      {{{"operation", "list"}, {"fields", {"id", "title of pub\ndo shell script \"x\" --"}}},
       "Invalid field: title of pub\ndo shell script \"x\" --"},
      {{{"operation", "list"}, {"fields", {"1abc"}}}, "Invalid field: 1abc"},
      {{{"operation", "list"}, {"fields", {""}}}, "Invalid field: "},
  };
  for (const auto& c : cases) {
    runner->runs.clear();
    EXPECT_EQ(text(c.arguments), c.reply) << c.arguments.dump();
    EXPECT_TRUE(scripts().empty()) << c.arguments.dump();
    // The preflight runs for every operation, help included.
    EXPECT_EQ(runner->runs.size(), 1u) << c.arguments.dump();
  }
}

TEST_F(BookendsTest, FieldsThatAreTableKeysOrPlainIdentifiersPass) {
  for (const char* field : {"publicationDateString", "user20", "customField2", "X"}) {
    EXPECT_TRUE(bookends::isValidField(field)) << field;
  }
  for (const char* field : {"a b", "a_b", "é", "a-b", "a.b", "\"", "_x"}) EXPECT_FALSE(bookends::isValidField(field)) << field;
}

TEST_F(BookendsTest, PdfInfoErrorOnlyForATopLevelErrorMember) {
  runner->answer("bookends", R"({"error": "No PDF currently displayed"})");
  const Json reply = call({{"operation", "pdf_info"}});
  EXPECT_EQ(reply, Json::parse(R"({"content": [{"type": "text", "text": "Failed to get PDF info: No PDF currently displayed"}],
                                   "isError": true})"));
  runner->answer("bookends", R"({"name": "x", "path": "p", "selectedText": "{\"error\": 1}"})");
  EXPECT_FALSE(call({{"operation", "pdf_info"}}).contains("isError"));
}

TEST_F(BookendsTest, JsonArrayResultCases) {
  const auto textOf = [](const Json& reply) { return reply["content"][0]["text"].get<std::string>(); };
  EXPECT_EQ(textOf(BookendsProvider::jsonArrayResult("[{\"a\": 1}, {}]", "none", "x(s)")),
            "Found 2 x(s):\n\n[{\"a\": 1}, {}]");
  EXPECT_EQ(textOf(BookendsProvider::jsonArrayResult(" [] ", "none", "x(s)")), "none");
  EXPECT_EQ(textOf(BookendsProvider::jsonArrayResult("[1, 2]", "none", "x(s)")), "[1, 2]");
  EXPECT_EQ(textOf(BookendsProvider::jsonArrayResult("{}", "none", "x(s)")), "{}");
  EXPECT_EQ(textOf(BookendsProvider::jsonArrayResult("oops", "none", "x(s)")), "oops");
  EXPECT_EQ(textOf(BookendsProvider::jsonArrayResult("", "none", "x(s)")), "");
}

TEST_F(BookendsTest, ErrorsArePassedOnUnchanged) {
  runner->fail("permissions-bookends", ProcessRunnerError("PermissionGuidance", 1, "Not authorized"));
  try {
    call({{"operation", "groups"}});
    FAIL();
  } catch (const ProviderError& e) {
    EXPECT_EQ(e.code(), 1);
    EXPECT_NE(e.description().find("\nDetails: Not authorized"), std::string::npos);
  }
  EXPECT_TRUE(scripts().empty());

  runner->answers.clear();
  runner->fail("bookends", ProcessRunnerError("BookendsConsolidatedProvider", 2,
                                              "Bookends AppleScript failed: timed out after 15s"));
  try {
    call({{"operation", "library_info"}});
    FAIL();
  } catch (const ProcessRunnerError& e) {
    EXPECT_EQ(e.domain(), "BookendsConsolidatedProvider");
    EXPECT_EQ(e.code(), 2);
  }
}

TEST_F(BookendsTest, ProviderRecord) {
  EXPECT_EQ(runAwaitable(io, provider.handle("calendar", "c", Json::object())), std::nullopt);
  EXPECT_TRUE(runner->runs.empty());
  EXPECT_TRUE(provider.canHandle("bookends"));
  EXPECT_FALSE(provider.canHandle("Bookends"));
  const auto operations = provider.availableOperations().at("bookends");
  ASSERT_EQ(operations.size(), 17u);
  EXPECT_EQ(operations[5], "get");
  const auto tools = provider.tools();
  ASSERT_EQ(tools.size(), 1u);
  const Json properties = *tools[0].inputSchema.properties;
  std::vector<std::string> names;
  for (const auto& [name, _] : properties.items()) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"operation", "query", "searchType", "limit", "fields", "publicationIds",
                                             "formatName", "outputFormat", "publicationId"}));
  EXPECT_EQ(tools[0].inputSchema.required, std::vector<std::string>{"operation"});
}

}  // namespace
}  // namespace qd
