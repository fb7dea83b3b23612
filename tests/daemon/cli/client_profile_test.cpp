#include "daemon/cli/client_profile.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace qd {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;  // offered name, daemon name

std::vector<MCPTool> daemonTools(const std::vector<std::string>& names) {
  std::vector<MCPTool> tools;
  for (const auto& name : names) {
    MCPTool tool;
    tool.name = name;
    tool.description = "about " + name;
    tool.inputSchema.type = "object";
    tools.push_back(tool);
  }
  return tools;
}

Pairs pairsOf(const std::vector<OfferedTool>& offered) {
  Pairs out;
  for (const auto& tool : offered) {
    EXPECT_EQ(tool.definition.description, "about " + tool.daemonName) << "only the name changes";
    out.emplace_back(tool.definition.name, tool.daemonName);
  }
  return out;
}

TEST(ClientProfile, ReadsTheProfileArgumentTrimmedAndInAnyCase) {
  struct Case {
    std::vector<std::string> args;
    ClientProfile expected;
  } cases[] = {
      {{"qd", "--client", "--profile", " TBX-Doc \n"}, ClientProfile::tbxDoc},
      {{"qd", "--client", "--profile", "ROUTER-CORE"}, ClientProfile::routerCore},
      {{"qd", "--client", "--profile", "tinderbox"}, ClientProfile::tinderbox},
      {{"qd", "--client", "--profile", "no-such-profile"}, ClientProfile::all},
      {{"qd", "--client", "--profile"}, ClientProfile::all},
      {{"qd", "--client"}, ClientProfile::all},
  };
  for (const auto& c : cases) EXPECT_EQ(clientProfile(c.args), c.expected) << c.args.back();
  for (auto profile : {ClientProfile::all, ClientProfile::tinderbox, ClientProfile::bookends, ClientProfile::devonthink,
                       ClientProfile::omnifocus, ClientProfile::routerCore, ClientProfile::tbxNav, ClientProfile::tbxDoc,
                       ClientProfile::tbxExport}) {
    EXPECT_EQ(profileFromName(profileName(profile)), profile);
  }
}

TEST(ClientProfile, EachProfileOffersItsToolsUnderItsNames) {
  const auto tools = daemonTools({"tinderbox_get_notes", "get_notes", "create_note", "health_check", "maps",
                                  "agents", "agents_register", "queue_status_x", "tbx_doc_open_tinderbox",
                                  "tbx_nav_navigate_to_note", "tbx_export_export_note", "router_status",
                                  "bookends_search", "devonthink_search", "omnifocus_add_task", "tasks", "time_now"});
  struct Case {
    ClientProfile profile;
    Pairs expected;
  } cases[] = {
      {ClientProfile::tinderbox,
       // tinderbox_X and then X: both offered as X; registered in order, the later (X) stays.
       {{"get_notes", "tinderbox_get_notes"},
        {"get_notes", "get_notes"},
        {"create_note", "create_note"},
        {"agents_register", "agents_register"},
        {"queue_status_x", "queue_status_x"}}},
      {ClientProfile::routerCore,
       {{"health_check", "health_check"}, {"agents", "agents"}, {"status", "router_status"}, {"tasks", "tasks"}}},
      {ClientProfile::tbxDoc, {{"open_tinderbox", "tbx_doc_open_tinderbox"}}},
      {ClientProfile::tbxNav, {{"navigate_to_note", "tbx_nav_navigate_to_note"}}},
      {ClientProfile::tbxExport, {{"export_note", "tbx_export_export_note"}}},
      {ClientProfile::bookends, {{"search", "bookends_search"}}},
      {ClientProfile::devonthink, {{"search", "devonthink_search"}}},
      {ClientProfile::omnifocus, {{"add_task", "omnifocus_add_task"}}},
  };
  for (const auto& c : cases) EXPECT_EQ(pairsOf(offeredTools(tools, c.profile)), c.expected) << profileName(c.profile);

  const auto all = pairsOf(offeredTools(tools, ClientProfile::all));
  ASSERT_EQ(all.size(), tools.size());
  for (std::size_t i = 0; i < tools.size(); ++i) EXPECT_EQ(all[i], std::make_pair(tools[i].name, tools[i].name));

  EXPECT_TRUE(offeredTools(daemonTools({"health_check"}), ClientProfile::bookends).empty());
}

TEST(ClientProfile, DaemonOwnedNamesAreWholeNames) {
  EXPECT_TRUE(isDaemonOwnedToolName("maps"));
  EXPECT_TRUE(isDaemonOwnedToolName("queue_status"));
  EXPECT_FALSE(isDaemonOwnedToolName("maps_search"));
  EXPECT_TRUE(isRouterOwnedToolName("jobs"));
  EXPECT_FALSE(isRouterOwnedToolName("atbref"));
}

}  // namespace
}  // namespace qd
