#include "daemon/utilities/tool_availability.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace qd {
namespace {

namespace fs = std::filesystem;
namespace TA = ToolAvailability;

class TempRoot : public test::TempDir {
 public:
  TempRoot() : TempDir("apps") {}
  void install(const char* relative) { fs::create_directories(path() / relative); }
};

TEST(ToolAvailability, InstallChecksLookForAnyBundlePathUnderTheRoot) {
  TempRoot root;
  EXPECT_FALSE(TA::isAvailable("search", root.path()));
  EXPECT_FALSE(TA::isAvailable("add_project", root.path()));
  EXPECT_FALSE(TA::isAvailable("sql_search", root.path()));
  EXPECT_TRUE(TA::isAvailable("tbx_nav", root.path()));
  EXPECT_TRUE(TA::isAvailable("calendar", root.path()));

  root.install("Applications/DEVONthink.app");  // the second of its two paths
  EXPECT_TRUE(TA::isDevonThinkInstalled(root.path()));
  EXPECT_TRUE(TA::isAvailable("search", root.path()));
  EXPECT_FALSE(TA::isOmniFocusInstalled(root.path()));

  root.install("Applications/Setapp/OmniFocus.app");
  root.install("Applications/Bookends.app");
  EXPECT_TRUE(TA::isAvailable("add_project", root.path()));
  EXPECT_TRUE(TA::isAvailable("sql_search", root.path()));

  // The process-wide root is what callers without one get.
  const fs::path saved = TA::installRoot();
  TA::setInstallRoot(root.path());
  EXPECT_TRUE(TA::isAvailable("search"));
  TA::setInstallRoot(saved);
}

TEST(ToolAvailability, SetsHoldTheListedNumberOfNames) {
  EXPECT_EQ(TA::bookendsTools().size(), 12u);
  EXPECT_EQ(TA::omnifocusTools().size(), 10u);
  EXPECT_EQ(TA::devonThinkTools().size(), 28u);
  EXPECT_EQ(TA::appleTools().size(), 7u);
  EXPECT_EQ(TA::atbrefTools().size(), 11u);
  EXPECT_EQ(TA::timeTools().size(), 2u);
  EXPECT_EQ(TA::routerTools().size(), 11u);
}

TEST(ToolAvailability, Categories) {
  const std::pair<const char*, const char*> cases[] = {
      {"calendar", "apple"},         {"time_now", "time"},       {"jobs", "router"},
      {"omnifocus", "tinderbox"},    {"get_notes", "tinderbox"}, {"tbx_doc", "tinderbox"},
      {"search_by_doi", "bookends"}, {"query_omnifocus", "omnifocus"}, {"search", "devonthink"},
      {"lookup_operator", "atbref"}, {"print_document", "router"}, {"Calendar", "tinderbox"},
  };
  for (const auto& [name, category] : cases) EXPECT_EQ(TA::appCategory(name), category) << name;
}

TEST(ToolAvailability, Capabilities) {
  struct Case {
    const char* name;
    Json arguments;
    const char* expected;
  };
  const Json none = Json::object();
  const Case cases[] = {
      {"daemon_self_check", {{"operation", "delete"}}, "read"},
      {"health_check", none, "read"},
      {"tbx_doc_open_tinderbox", none, "write"},
      {"tbx_doc_quit_tinderbox", {{"operation", "list"}}, "write"},
      {"agents", {{"operation", "LIST"}}, "read"},
      {"agents", {{"operation", "check_messages"}}, "read"},
      {"agents", {{"operation", "send"}}, "write"},
      {"agents", none, "write"},
      {"agents", {{"operation", 7}}, "write"},  // not a string: no operation
      {"tasks", {{"operation", "heartbeat"}}, "read"},
      {"tasks", {{"operation", "create"}}, "write"},
      {"workstreams", {{"operation", "list"}}, "read"},
      {"workstreams", {{"operation", "help"}}, "write"},
      {"jobs", {{"operation", "Status"}}, "read"},
      {"jobs", {{"operation", "run"}}, "write"},
      {"time_convert", {{"operation", "delete"}}, "read"},
      {"mail", {{"operation", "reply_all"}}, "write"},
      {"mail", {{"operation", "list_mailboxes"}}, "read"},
      {"contacts", none, "read"},
      {"contacts", {{"operation", "get_addresses"}}, "write"},  // "add" inside a longer word
      {"reminders", {{"operation", "Mark_Done"}}, "write"},
      {"add_project", none, "write"},
      {"query_omnifocus", none, "read"},
      {"get_library_info", none, "read"},
      {"search_atbref", none, "read"},
      {"create_record", none, "write"},
      {"get_record_content", none, "read"},
      {"get_notes", none, "read"},
      {"create_note", none, "write"},
      {"export_note", none, "read"},
      {"notify", none, "write"},
      {"identify", none, "readwrite"},
      {"tbx_nav", {{"operation", "get_notes"}}, "readwrite"},
      {"get_and_delete_notes", none, "read"},
      {"do_remove_thing", none, "write"},
      {"quick_add", none, "readwrite"},  // in the Bookends write set, but no Bookends tool
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TA::capability(c.name, c.arguments), c.expected) << c.name << " " << c.arguments.dump();
  }
  EXPECT_EQ(TA::capability("agents", Json::array()), "write");
  EXPECT_EQ(TA::capability("agents"), "write");
}

}  // namespace
}  // namespace qd
