#include <gtest/gtest.h>

#include "daemon/tinderbox/note_urls.h"
#include "note_app_test_fixture.h"

namespace qd {
namespace {

TEST(NoteURLs, NormalizesPaths) {
  const std::vector<std::tuple<std::string, std::string, std::string>> cases{
      // path, with root kept, without
      {"  /Projects/Alpha \n", "/Projects/Alpha", "Projects/Alpha"},
      {"///", "/", ""},
      {"/", "/", ""},
      {"   ", "", ""},
      {"A//B/", "/A//B/", "A//B/"},
      {"//x", "/x", "x"},
  };
  for (const auto& [path, kept, dropped] : cases) {
    EXPECT_EQ(normalizeTinderboxPath(path, true), kept) << path;
    EXPECT_EQ(normalizeTinderboxPath(path, false), dropped) << path;
  }
}

TEST(NoteURLs, EncodesPathsAndQueryValues) {
  EXPECT_EQ(noteURL("My Notes", "Projects/Alpha", "map", std::nullopt), "tinderbox://My%20Notes/Projects/Alpha?view=map");
  EXPECT_EQ(noteURL("D", "", std::nullopt, std::nullopt), "tinderbox://D/");
  EXPECT_EQ(noteURL("D", "a", "", ""), "tinderbox://D/a");
  EXPECT_EQ(noteURL("D", "a", std::nullopt, "1,2"), "tinderbox://D/a?select=1,2");
  // A query value cannot add items of its own.
  EXPECT_EQ(noteURL("D", "a", "map&select=9", "x=y+z"), "tinderbox://D/a?view=map%26select%3D9&select=x%3Dy%2Bz");
  EXPECT_EQ(noteURL("Ré?#", "a b/ü?", "v/?", std::nullopt), "tinderbox://R%C3%A9%3F%23/a%20b/%C3%BC%3F?view=v/?");
}

TEST(NoteURLs, AcceptsOnlyCleanTinderboxURLs) {
  const std::vector<std::pair<std::string, bool>> cases{
      {"tinderbox://Doc/Path?view=map", true},
      {"TINDERBOX://Doc/Path", true},
      {"https://example.com/", false},
      {"tinderbox://Doc/a\nb", false},
      {"tinderbox://Doc/a\tb", false},
      {"tinderbox://Doc/a\x7f", false},
      {"tinderbox://Doc/a\u2028", false},
      {"tinderbox://Doc/\xff", false},
      {"tinderbox://Doc/a b", false},
      {"tinderbox://My%20Notes/A?view=outline&select=a%26b", true},
      {"tinderbox://D/%zz", false},
      {"tinderbox://D/a<b>", false},
      {"tinderbox://D/a#b#c", false},
      {"tinderbox:/", false},
  };
  for (const auto& [url, ok] : cases) EXPECT_EQ(isOpenableTinderboxURL(url), ok) << url;
}

class NavigationTest : public test::NoteAppFixture {};

TEST_F(NavigationTest, BuildsURLsWithTheFrontDocumentWhenNoneIsGiven) {
  fakes_.answer("osascript", "out", "Notes Archive.TBX\n");
  EXPECT_EQ(text("build_tinderbox_note_url", {{"document", "  "}, {"path", "/A"}}), "tinderbox://Notes%20Archive/A");
  ASSERT_EQ(fakes_.scripts().size(), 1u);
  EXPECT_EQ(fakes_.scripts()[0], (std::vector<std::string>{"tell application \"Tinderbox 11\"",
                                                            "return name of front document", "end tell"}));
  EXPECT_EQ(text("build_tinderbox_note_url", {{"document", "D"}, {"path", " / "}}), "tinderbox://D/");
  EXPECT_EQ(fakes_.scripts().size(), 1u);  // a named document needs no script
  EXPECT_EQ(failure("build_tinderbox_note_url", {{"document", "D"}, {"path", "///"}}),
            "Missing required parameter: path");
  EXPECT_EQ(failure("build_tinderbox_note_url", {{"document", "D"}, {"path", 3}}), "Missing required parameter: path");
  fakes_.answer("osascript", "out", ".tbx\n");
  EXPECT_EQ(failure("build_tinderbox_note_url", {{"path", "/A"}}), "Missing required parameter: document");
}

TEST_F(NavigationTest, OpensURLsAndNavigates) {
  EXPECT_EQ(text("open_tinderbox_url", {{"url", "TINDERBOX://D/x"}}), "Opened URL");
  EXPECT_EQ(failure("open_tinderbox_url", {{"url", "tinderbox://D/a\nb"}}),
            "Invalid parameter: url must be a valid tinderbox:// URL without control characters");
  EXPECT_EQ(failure("open_tinderbox_url", {{"url", "file:///etc/passwd"}}),
            "Invalid parameter: url must be a valid tinderbox:// URL without control characters");
  EXPECT_EQ(failure("open_tinderbox_url", Json::object()), "Missing required parameter: url");
  EXPECT_EQ(text("navigate_to_note", {{"document", "D"}, {"path", "/A"}, {"select", "7"}}), "Navigated to note");
  EXPECT_EQ(text("navigate_to_note_view", {{"document", "D"}, {"path", "/A"}}), "Navigated to note/view");
  EXPECT_EQ(text("set_tinderbox_view", {{"document", "D"}, {"path", "/A"}, {"view", "map"}}), "Set Tinderbox view");
  EXPECT_EQ(fakes_.runs("xdg-open"),
            (std::vector<std::vector<std::string>>{{"TINDERBOX://D/x"},
                                                   {"tinderbox://D/A?view=outline&select=7"},
                                                   {"tinderbox://D/A?view=outline"},
                                                   {"tinderbox://D/A?view=map"}}));
  fakes_.answer("xdg-open", "status", "4");
  EXPECT_EQ(failure("open_tinderbox_url", {{"url", "tinderbox://D/x"}}), "Failed to open Tinderbox URL: tinderbox://D/x");
}

}  // namespace
}  // namespace qd
