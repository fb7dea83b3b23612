#include <gtest/gtest.h>

#include "daemon/providers/devonthink_provider.h"
#include "daemon/providers/devonthink_scripts.h"
#include "scripted_provider_harness.h"

namespace qd {
namespace {

class DevonThinkTest : public testing::Test, protected test::ScriptedProviderHarness {
 protected:
  std::string text(Json arguments) { return ScriptedProviderHarness::text(provider, "devonthink", std::move(arguments)); }
  // The one program the call ran, after checking how it ran.
  std::string program() const {
    const auto ran = scripts();
    EXPECT_EQ(ran.size(), 1u);
    if (ran.size() != 1) return "";
    EXPECT_EQ(ran[0].lane, "devonthink");
    EXPECT_EQ(ran[0].timeoutSeconds, 20.0);
    EXPECT_EQ(ran[0].errorDomain, "DevonThinkConsolidatedProvider");
    EXPECT_EQ(ran[0].failureDescription, "DEVONthink script failed");
    EXPECT_EQ(ran[0].arguments.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(ran[0].arguments.begin(), ran[0].arguments.begin() + 3),
              (std::vector<std::string>{"-l", "JavaScript", "-e"}));
    return ran[0].arguments.back();
  }
  DevonThinkProvider provider{"devonthink", FeatureTier::dev, runner};
};

TEST(DevonThinkJsonString, ValidInAnyJavaScript) {
  using devonthink::jsonString;
  EXPECT_EQ(jsonString("plain"), "\"plain\"");
  EXPECT_EQ(jsonString("a\"b\\c\nd\te"), "\"a\\\"b\\\\c\\nd\\te\"");
  EXPECT_EQ(jsonString("x\u2028y\u2029z"), "\"x\\u2028y\\u2029z\"");
  EXPECT_EQ(jsonString("café"), "\"café\"");
  EXPECT_EQ(jsonString(""), "\"\"");
  EXPECT_EQ(jsonString(std::string("\x01", 1)), "\"\\u0001\"");
}

TEST_F(DevonThinkTest, EachOperationRunsItsProgram) {
  const struct {
    Json arguments;
    std::vector<std::string> programHas;
  } cases[] = {
      {{{"operation", "is_running"}}, {"app.includeStandardAdditions = true;", "isRunning: app.running()"}},
      {{{"operation", "get_open_databases"}}, {"app.databases().map(db => ({ name: db.name(), uuid: db.uuid(), filename: db.filename() }))"}},
      {{{"operation", "current_database"}}, {"const db = app.currentDatabase();", "success: !!db"}},
      {{{"operation", "selected_records"}}, {"app.selectedRecords().map(r => ({ uuid: r.uuid(), id: r.id(), name: r.name(), path: r.path() }))"}},
      {{{"operation", "search"}, {"query", "say \"hi\" \\ now\nthen\u2028end"}},
       {"const q = \"say \\\"hi\\\" \\\\ now\\nthen\\u2028end\";", "app.search(q)", "count: records.length"}},
      {{{"operation", "lookup_record"}, {"name", "N'1"}}, {"const n = \"N'1\";", "app.records.whose({ name: n })()"}},
      {{{"operation", "get_record_by_identifier"}, {"uuid", ""}, {"id", 42}},
       {"const wanted = Number(\"42\");", "app.records().find(x => Number(x.id()) === wanted)"}},
      {{{"operation", "get_record_by_identifier"}, {"id", "7"}}, {"const wanted = Number(\"7\");"}},
      {{{"operation", "get_record_by_identifier"}, {"uuid", "U-1"}, {"id", 42}}, {"const r = app.recordWithUuid(\"U-1\");"}},
      {{{"operation", "get_record_properties"}, {"uuid", "U"}}, {"type: r.type(), tags: r.tags(), flagged: r.flagged(), comment: r.comment()"}},
      {{{"operation", "get_record_content"}, {"uuid", "U"}}, {"content: r ? r.plainText() : null"}},
      {{{"operation", "list_group_content"}, {"uuid", "G"}}, {"const g = app.recordWithUuid(\"G\");", "JSON.stringify({ success: !!g, records: out });"}},
      {{{"operation", "create_record"}, {"name", "N"}, {"type", "plain"}},
       {"const groupUUID = \"\";", "const options = { name: \"N\" };", "const content = \"\";", "const type = \"plain\";",
        "app.createRecordWith({ plainText: content }, { withProperties: options });"}},
      {{{"operation", "create_from_url"}, {"url", "https://x/?a=\"1\""}, {"groupUUID", "G"}},
       {"const url = \"https://x/?a=\\\"1\\\"\";", "if (name.length) options.name = name;",
        "const groupUUID = \"G\";"}},
      {{{"operation", "delete_record"}, {"uuid", "U"}}, {"  app.delete(r);", "JSON.stringify({ success: false, error: 'Record not found' });"}},
      {{{"operation", "move_record"}, {"uuid", "U"}, {"destinationGroupUUID", ""}},
       {"const d = app.recordWithUuid(\"\");", "JSON.stringify({ success: false, error: 'Record or destination not found' });"}},
      {{{"operation", "rename_record"}, {"uuid", "U"}, {"newName", ""}}, {"  r.name = \"\";"}},
      {{{"operation", "add_tags"}, {"uuid", "U"}, {"tags", {"a\"b", "c\u2028"}}}, {"  r.tags = r.tags().concat([\"a\\\"b\",\"c\\u2028\"]);"}},
      {{{"operation", "remove_tags"}, {"uuid", "U"}, {"tags", Json::array()}}, {"  const tagsToRemove = new Set([]);"}},
      {{{"operation", "update_record_content"}, {"uuid", "U"}, {"content", ""}},
       {"  const content = \"\";", "  if (recordType === 'HTML' || recordType === 'webarchive') {"}},
      {{{"operation", "set_record_properties"}, {"uuid", "U"}, {"comment", ""}, {"flag", "yes"}, {"locked", true}},
       {"    try { rec.comment = \"\"; updated.push('comment'); }\n    catch (e) { skipped.push('comment: ' + e.toString()); }\n"
        "    try { rec.locking = true; updated.push('locking'); }\n    catch (e) { skipped.push('locking: ' + e.toString()); }"}},
  };
  for (const auto& c : cases) {
    runner->runs.clear();
    runner->answer("devonthink", "{\"success\":true}");
    EXPECT_EQ(text(c.arguments), "{\"success\":true}") << c.arguments.dump();
    EXPECT_EQ(preflights(), std::vector<std::string>{"permissions-devonthink 3"});
    const std::string js = program();
    EXPECT_TRUE(js.starts_with("const app = Application('DEVONthink 3');\n")) << js;
    for (const auto& piece : c.programHas) {
      EXPECT_NE(js.find(piece), std::string::npos) << c.arguments.dump() << "\nlacks\n" << piece << "\nin\n" << js;
    }
  }
  EXPECT_EQ(devonthink::buildPropertyUpdateScript(std::nullopt, false, std::nullopt),
            "    try { rec.flag = false; updated.push('flag'); }\n    catch (e) { skipped.push('flag: ' + e.toString()); }");
  EXPECT_EQ(devonthink::buildPropertyUpdateScript(std::nullopt, std::nullopt, std::nullopt), "");
}

TEST_F(DevonThinkTest, RepliesThatRunNoProgram) {
  const struct {
    Json arguments;
    std::string reply;
  } cases[] = {
      {Json::object(), DevonThinkProvider::helpText()},
      {{{"operation", 5}}, DevonThinkProvider::helpText()},
      {{{"operation", "Help"}},
       R"({"success":false,"error":"Unknown operation 'Help'. Use 'help' operation to see available operations."})"},
      // The client's name is escaped into the JSON.
      {{{"operation", "x\"y\\z"}},
       R"({"success":false,"error":"Unknown operation 'x\"y\\z'. Use 'help' operation to see available operations."})"},
      {{{"operation", "classify"}},
       R"({"success":false,"error":"classify is not yet fully implemented in the DEVONthink provider. Core read/write/search tools are implemented; this advanced tool is pending."})"},
      {{{"operation", "search"}, {"query", ""}}, R"({"success":false,"error":"Missing query"})"},
      {{{"operation", "lookup_record"}}, R"({"success":false,"error":"Missing name"})"},
      {{{"operation", "get_record_by_identifier"}, {"uuid", ""}}, R"({"success":false,"error":"Provide uuid or id"})"},
      {{{"operation", "get_record_content"}, {"uuid", 3}}, R"({"success":false,"error":"Missing uuid"})"},
      {{{"operation", "create_record"}, {"content", "c"}}, R"({"success":false,"error":"Missing name"})"},
      {{{"operation", "create_from_url"}}, R"({"success":false,"error":"Missing url"})"},
      {{{"operation", "move_record"}, {"uuid", "U"}}, R"({"success":false,"error":"Missing uuid or destinationGroupUUID"})"},
      {{{"operation", "rename_record"}, {"newName", "n"}}, R"({"success":false,"error":"Missing uuid or newName"})"},
      {{{"operation", "add_tags"}, {"uuid", "U"}, {"tags", {"a", 1}}}, R"({"success":false,"error":"Missing or invalid tags array"})"},
      {{{"operation", "remove_tags"}, {"tags", {"a"}}}, R"({"success":false,"error":"Missing uuid"})"},
      {{{"operation", "update_record_content"}, {"uuid", "U"}}, R"({"success":false,"error":"Missing content"})"},
      {{{"operation", "set_record_properties"}}, R"({"success":false,"error":"Missing uuid"})"},
  };
  for (const auto& c : cases) {
    runner->runs.clear();
    EXPECT_EQ(text(c.arguments), c.reply) << c.arguments.dump();
    EXPECT_TRUE(scripts().empty()) << c.arguments.dump();
    EXPECT_EQ(preflights().size(), 1u);
  }
  EXPECT_TRUE(DevonThinkProvider::helpText().starts_with("DEVONthink Operations (28 available):"));
  EXPECT_NE(DevonThinkProvider::helpText().find(
                "- get_record_by_identifier: Get record by UUID or ID (params: uuid, id, databaseName)"),
            std::string::npos);
}

TEST_F(DevonThinkTest, FailuresAreThrown) {
  runner->fail("devonthink", ProcessRunnerError("DevonThinkConsolidatedProvider", 2,
                                                "DEVONthink script failed: timed out after 20s"));
  EXPECT_EQ(failure(provider, "devonthink", {{"operation", "is_running"}}),
            "DevonThinkConsolidatedProvider 2 DEVONthink script failed: timed out after 20s");
  refusePreflight("permissions-devonthink 3");
  const std::string refused = failure(provider, "devonthink", {{"operation", "help"}});
  EXPECT_TRUE(refused.starts_with("PermissionGuidance 1 DEVONthink 3 access is required")) << refused;
  const auto properties = *provider.tools()[0].inputSchema.properties;
  EXPECT_EQ(properties.size(), 23u);
  EXPECT_FALSE(properties["operation"].contains("enum"));
  EXPECT_EQ(provider.availableOperations().at("devonthink").size(), 29u);
}

}  // namespace
}  // namespace qd
