#include <gtest/gtest.h>

#include "app/settings/tool_description_helper.h"
#include "app/settings/tool_schema.h"
#include "settings_test_support.h"

namespace qd {
namespace {

using Row = ToolSchema::ToolParameter;

std::vector<std::tuple<std::string, std::string, bool, std::optional<std::string>>> flat(const std::vector<Row>& rows) {
  std::vector<std::tuple<std::string, std::string, bool, std::optional<std::string>>> out;
  for (const Row& r : rows) out.emplace_back(r.name, r.type, r.required, r.description);
  return out;
}

class ToolTablesTest : public ::testing::Test {
 protected:
  void SetUp() override { test::qtApplication(); }

  // A fetcher holding this catalog.
  void loadCatalog(const Json& catalog) {
    admin_.answer = [catalog](const std::string&, const std::optional<Json>&) { return catalog; };
    fetcher_.loadToolMetadata();
    ASSERT_TRUE(test::processEventsUntil([&] { return !fetcher_.isLoading(); }));
  }

  test::ScriptedAdmin admin_;
  ToolMetadataFetcher fetcher_{admin_.call()};
};

TEST_F(ToolTablesTest, ParameterRowsWithoutADaemonComeFromTheBuiltInTables) {
  EXPECT_EQ(ToolSchema::fallbackParameters().size(), 22u);
  EXPECT_FALSE(ToolSchema::isLiveData("notify", fetcher_));
  EXPECT_EQ(flat(ToolSchema::parameters("notify", fetcher_)),
            (decltype(flat({})){{"agents", "string", true, "Agent name or '*' for broadcast"},
                                {"data", "object", true, "Message data payload"}}));
  EXPECT_EQ(flat(ToolSchema::parameters("mail", fetcher_)),
            (decltype(flat({})){{"operation", "string", true, "Operation type (search, list, create, etc.)"}}));
  EXPECT_TRUE(ToolSchema::parameters("health_check", fetcher_).empty());
  EXPECT_TRUE(ToolSchema::parameters("bookends", fetcher_).empty());
  EXPECT_EQ(ToolSchema::parameters("log_message", fetcher_)[2].description, "info|warn|error");
  EXPECT_EQ(ToolSchema::shownDescription("notify", fetcher_),
            "Queue message data for agent(s); use '*' or 'all' to broadcast.");
}

TEST_F(ToolTablesTest, ALiveCatalogEntryWinsEvenWhenEmpty) {
  loadCatalog(Json{{"timestamp", 1},
                   {"tools",
                    {{{"name", "notify"}, {"description", ""}, {"parameters", Json::array()}, {"readOnly", false}},
                     {{"name", "custom"},
                      {"description", "Live text"},
                      {"parameters", {{{"name", "q"}, {"type", "string"}, {"description", ""}, {"required", false}}}},
                      {"readOnly", true}}}}});
  EXPECT_TRUE(ToolSchema::isLiveData("notify", fetcher_));
  EXPECT_TRUE(ToolSchema::parameters("notify", fetcher_).empty());  // no built-in rows
  EXPECT_EQ(ToolSchema::shownDescription("notify", fetcher_), "");
  EXPECT_EQ(ToolDescriptionHelper::toolDescription("notify", fetcher_), "");
  EXPECT_EQ(flat(ToolSchema::parameters("custom", fetcher_)), (decltype(flat({})){{"q", "string", false, ""}}));
  EXPECT_EQ(ToolDescriptionHelper::toolDescription("custom", fetcher_), "Live text");
}

TEST(ToolDescriptionHelperTest, BuiltInDescriptionsAndWordRules) {
  const std::pair<const char*, const char*> cases[] = {
      {"maps", "Search and basic directions with Apple Maps."},
      {"bookends_get_reference", "Read data"},
      {"omnifocus", "Tool for OmniFocus"},
      {"atbref_lookup", "Tool for ATBRef reference"},
      {"devonthink_open", "Tool for DEVONthink"},
      {"get_notes", "Read data"},
      {"create_and_get", "Create new item"},
      {"widget_update", "Read data"},  // "get" inside "widget" beats "update"
      {"note_modify", "Modify existing item"},
      {"remove_tag", "Delete item"},
      {"pdf_export", "Export data"},
      {"Bookends_open", "Tool for Tinderbox"},  // case-sensitive
  };
  for (const auto& [name, expected] : cases) {
    EXPECT_EQ(ToolDescriptionHelper::toolDescriptionFallback(name), expected) << name;
  }
}

}  // namespace
}  // namespace qd
