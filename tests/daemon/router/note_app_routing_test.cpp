// The grouped note-app tools reach their operations through the daemon's dispatch, with
// recording fakes first on PATH; without the programs they fail at once with the launch
// error.

#include <gtest/gtest.h>

#include <cstdlib>

#include "daemon_fixture.h"
#include "support/recording_fakes.h"

namespace qd {
namespace {

// PATH for the length of a test: the daemon looks its programs up at each run.
class ScopedPath {
 public:
  explicit ScopedPath(const std::string& path) {
    if (const char* old = std::getenv("PATH")) old_ = old;
    ::setenv("PATH", path.c_str(), 1);
  }
  ~ScopedPath() { ::setenv("PATH", old_.c_str(), 1); }

 private:
  std::string old_;
};

class NoteAppRoutingTest : public test::DaemonFixture {
 protected:
  std::string grouped(const std::string& tool, Json arguments) {
    try {
      std::optional<Json> answer = test::runAwaitable(io_, daemon_->handleProviderTool("client-0", tool, arguments));
      return answer ? text(*answer) : "<no answer>";
    } catch (const Error& e) {
      return "error: " + e.description();
    }
  }
  test::RecordingFakes fakes_;
};

TEST_F(NoteAppRoutingTest, EachGroupedToolReachesTheFakes) {
  for (const char* name : {"osascript", "xdg-open"}) fakes_.add(name);
  ScopedPath path(fakes_.bin().string() + ":/usr/bin:/bin");

  EXPECT_EQ(grouped("tbx_nav", {{"operation", "navigate_to_note"}, {"document", "My Notes"}, {"path", "/A"},
                                {"select", "a&b"}}),
            "Navigated to note");
  EXPECT_EQ(fakes_.runs("xdg-open"),
            (std::vector<std::vector<std::string>>{{"tinderbox://My%20Notes/A?view=outline&select=a%26b"}}));

  fakes_.answer("osascript", "out", "true\n");
  EXPECT_EQ(grouped("tbx_doc", {{"operation", "delete_note"}, {"document", "D"}, {"notePath", "/A;/B\""}}),
            "Deleted 1 of 2 notes. Failed: /B\"");
  ASSERT_EQ(fakes_.scripts().size(), 1u);

  const std::string exported = grouped("tbx_export", {{"operation", "export_document"}, {"document", "D"}});
  EXPECT_EQ(std::filesystem::path(exported).parent_path(), configuration_.exportsDir()) << exported;
  EXPECT_EQ(fakes_.scripts().back()[2], "export d to POSIX file \"" + exported + "\"");
}

// Each failure names the program to install.
TEST_F(NoteAppRoutingTest, WithoutTheProgramsEveryScriptedOperationFailsAtOnce) {
  ScopedPath path(fakes_.bin().string());
  EXPECT_EQ(grouped("tbx_doc", {{"operation", "save_tinderbox_document"}}),
            "error: Could not start osascript: not found on PATH");
  EXPECT_EQ(grouped("tbx_nav", {{"operation", "open_tinderbox_url"}, {"url", "tinderbox://D/A"}}),
            "error: Could not start xdg-open: not found on PATH");
  EXPECT_EQ(grouped("tbx_nav", {{"operation", "copy_tinderbox_view"}}),
            "error: Could not start wl-paste or xclip: not found on PATH");
  EXPECT_EQ(grouped("tbx_export", {{"operation", "print_note"}, {"document", "D"}, {"notePath", "/A"}}),
            "error: Could not start osascript: not found on PATH");
}

}  // namespace
}  // namespace qd
