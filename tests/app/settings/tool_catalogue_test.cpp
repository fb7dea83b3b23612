#include "app/settings/tool_catalogue.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace qd {
namespace {

using ToolCatalogue::Catalog;
using ToolCatalogue::Group;

ToolMetadata tool(std::string name, std::optional<std::string> group = std::nullopt,
                  std::optional<std::vector<std::string>> operations = std::nullopt) {
  ToolMetadata m;
  m.name = std::move(name);
  m.group = std::move(group);
  m.operations = std::move(operations);
  return m;
}

Catalog catalogOf(std::vector<ToolMetadata> tools) {
  Catalog catalog;
  for (ToolMetadata& m : tools) catalog[m.name] = m;
  return catalog;
}

Catalog eightTools() {
  return catalogOf({tool("health_check"), tool("agents"), tool("time_now"), tool("atbref"), tool("tbx_nav"),
                    tool("omnifocus", "OmniFocus"), tool("tinderbox_get_note"), tool("zz_unmatched"),
                    tool("calendar"), tool("mail")});
}

TEST(ToolCatalogueTest, CategoriesFollowTheGroupThenTheFixedRules) {
  const Catalog catalog = catalogOf({tool("grouped", "Bookends"), tool("empty_group", ""), tool("tbx_nav_x", "")});
  const std::pair<const char*, const char*> cases[] = {
      {"grouped", "Bookends"},
      {"empty_group", "Router Core"},  // an empty group falls through to the rules
      {"tbx_nav_x", "TBX Navigation"},
      {"health_check", "Router Core"},
      {"sync_claude_hook", "Agent Coordination"},
      {"tbx_doc", "TBX Document"},
      {"tbx_export_pdf", "TBX Export"},
      {"TBX_NAV", "Router Core"},  // case-sensitive
      {"maps", "Apple Apps: Maps"},
      {"atbref", "ATBRef"},
      {"atbref_lookup", "Router Core"},
      {"tinderbox_create_note", "Tinderbox Core"},
      {"time_convert", "Time"},
      {"bookends_search", "Router Core"},  // application categories come only from the catalog
  };
  for (const auto& [name, expected] : cases) EXPECT_EQ(ToolCatalogue::category(catalog, name), expected) << name;
}

TEST(ToolCatalogueTest, GroupingInBothTiers) {
  const Catalog catalog = eightTools();
  const std::vector<Group> other{
      {"Router Core", {"health_check", "zz_unmatched"}},
      {"Agent Coordination", {"agents"}},
      {"Tinderbox Core", {"tinderbox_get_note"}},
      {"TBX Navigation", {"tbx_nav"}},
      {"Apple Apps: Calendar", {"calendar"}},
      {"Apple Apps: Mail", {"mail"}},
      {"ATBRef", {"atbref"}},
      {"OmniFocus", {"omnifocus"}},
      {"Time", {"time_now"}},
  };
  EXPECT_EQ(ToolCatalogue::groupedTools(catalog, "beta"), other);
  EXPECT_EQ(ToolCatalogue::groupedTools(catalog, "Release"), other);  // exact comparison

  const std::vector<Group> release{
      {"Router Core", {"health_check", "zz_unmatched"}},
      {"Tinderbox Core", {"tinderbox_get_note"}},
      {"TBX Navigation", {"tbx_nav"}},
      {"ATBRef", {"atbref"}},
      {"OmniFocus", {"omnifocus"}},
      {"Time", {"time_now"}},
  };
  EXPECT_EQ(ToolCatalogue::groupedTools(catalog, "release"), release);

  // A grouped coordination tool that is not a hidden name still goes in the release tier.
  const Catalog coordination = catalogOf({tool("custom_coord", "Agent Coordination"), tool("health_check")});
  EXPECT_EQ(ToolCatalogue::groupedTools(coordination, "release"), (std::vector<Group>{{"Router Core", {"health_check"}}}));
  EXPECT_TRUE(ToolCatalogue::groupedTools({}, "dev").empty());
}

TEST(ToolCatalogueTest, UnlistedCategoriesSortCaseInsensitivelyThenByCodePoint) {
  const Catalog catalog =
      catalogOf({tool("a", "beta"), tool("b", "Alpha"), tool("c", "alpha"), tool("d", "Gamma"), tool("e", "TBX Export")});
  std::vector<std::string> order;
  for (const auto& [category, tools] : ToolCatalogue::groupedTools(catalog, "dev")) order.push_back(category);
  EXPECT_EQ(order, (std::vector<std::string>{"TBX Export", "Alpha", "alpha", "beta", "Gamma"}));
}

TEST(ToolCatalogueTest, AvailabilityAndHintsLookBelowTheInstallRoot) {
  test::TempDir root("catalogue");
  const Catalog catalog = catalogOf({tool("bookends_search", "Bookends"), tool("dt_search", "DEVONthink"),
                                     tool("of_tasks", "OmniFocus"), tool("mail")});
  std::filesystem::create_directories(root / "Applications/Setapp/Bookends.app");

  EXPECT_TRUE(ToolCatalogue::isToolAvailable(catalog, "bookends_search", root.path()));
  EXPECT_EQ(ToolCatalogue::unavailableReason(catalog, "bookends_search", root.path()), std::nullopt);
  EXPECT_EQ(ToolCatalogue::groupHint("Bookends", root.path()), "Bookends detected.");

  EXPECT_FALSE(ToolCatalogue::isToolAvailable(catalog, "dt_search", root.path()));
  EXPECT_EQ(ToolCatalogue::unavailableReason(catalog, "dt_search", root.path()), "DEVONthink.app not installed");
  EXPECT_EQ(ToolCatalogue::groupHint("DEVONthink", root.path()), "Install DEVONthink.app to enable these tools.");
  EXPECT_EQ(ToolCatalogue::unavailableReason(catalog, "of_tasks", root.path()), "OmniFocus.app not installed");
  std::filesystem::create_directories(root / "Applications/OmniFocus.app");  // consulted on every call
  EXPECT_TRUE(ToolCatalogue::isToolAvailable(catalog, "of_tasks", root.path()));

  EXPECT_TRUE(ToolCatalogue::isToolAvailable(catalog, "mail", root.path()));
  EXPECT_EQ(ToolCatalogue::groupHint("Apple Apps: Messages", root.path()),
            "Send and read messages. Requires Automation + Full Disk Access permissions.");
  EXPECT_EQ(ToolCatalogue::groupHint("Router Core", root.path()), std::nullopt);
  for (const char* category : {"TBX Export", "Tinderbox Core", "Tinderbox"}) {
    EXPECT_EQ(ToolCatalogue::groupHint(category, root.path()),
              "Requires Tinderbox app access plus macOS Automation permission.")
        << category;
  }
  EXPECT_FALSE(ToolCatalogue::appExists({}, root.path()));
}

}  // namespace
}  // namespace qd
