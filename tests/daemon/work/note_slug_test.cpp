#include "daemon/work/note_slug.h"

#include <cstdlib>

#include <gtest/gtest.h>

#include "daemon/utilities/unicode_text.h"

namespace qd {
namespace {

TEST(NoteSlug, Cases) {
  struct Case {
    std::string input;
    std::string slug;
  };
  const Case cases[] = {
      {"Fix Login #42 -- NOW!", "fix-login-42-now"},
      {"\u00dcn\u00efcode T\u00e2sk", "\u00fcn\u00efcode-t\u00e2sk"},
      {"a_b.c", "a-b-c"},
      {"---", ""},
      {"!!!", ""},
      {"", ""},
      {"ship it \U0001F680 now", "ship-it-now"},
      {"\U0001F1E8\U0001F1E6", ""},                       // a flag: one character, not a letter
      {"Cafe\u0301 au lait", "cafe\u0301-au-lait"},        // a combining mark stays with its letter
      {"\u0661\u0662\u0663 \u0968", "\u0661\u0662\u0663-\u0968"},  // Arabic-Indic and Devanagari digits
      {"\u00bd \u00b2", "\u00bd-\u00b2"},                 // a fraction and a superscript are numbers
      {"\u0416\u0443\u043a", "\u0436\u0443\u043a"},        // Cyrillic lower-cased
      {"TASK-1\r\n", "task-1"},
  };
  for (const Case& c : cases) EXPECT_EQ(noteSlug(c.input), c.slug) << c.input;
}

TEST(NoteSlug, CutsAtSixtyCharactersThenTrimsAgain) {
  // 59 letters, a hyphen, then more: the cut keeps the hyphen, which is then trimmed.
  const std::string input = std::string(59, 'a') + "-" + std::string(20, 'b');
  EXPECT_EQ(noteSlug(input), std::string(59, 'a'));
  EXPECT_EQ(noteSlug(std::string(80, 'x')), std::string(60, 'x'));
  // Sixty two-byte letters are sixty characters, not a byte cut.
  const std::string wide = [] {
    std::string s;
    for (int i = 0; i < 70; ++i) s += "\u00e9";
    return s;
  }();
  EXPECT_EQ(unicode::graphemeCount(noteSlug(wide)), 60u);
}

class ZoneGuard {
 public:
  explicit ZoneGuard(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneGuard() {
    if (saved_) {
      setenv("TZ", saved_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> saved_;
};

void setWallClock(ManualClock& clock, std::chrono::system_clock::time_point target) {
  clock.advance(std::chrono::duration_cast<std::chrono::steady_clock::duration>(target - clock.wallNow()));
}

TEST(GenerateTaskId, UsesTheUtcDateWhateverTheLocalZone) {
  ZoneGuard zone("America/Los_Angeles");
  ManualClock clock;
  using namespace std::chrono;
  setWallClock(clock, sys_days{year{2026} / 12 / 10} + seconds(30));  // 00:00:30 UTC, still the 9th in LA
  EXPECT_EQ(generateTaskId("Write the release notes", clock), "TASK-20261210-write-the-release-notes");
  EXPECT_EQ(generateTaskId("!!!", clock), "TASK-20261210-");
  const std::string longId = generateTaskId(std::string(80, 'q'), clock);
  EXPECT_EQ(longId, "TASK-20261210-" + std::string(46, 'q'));
  EXPECT_EQ(longId.size(), 60u);
}

}  // namespace
}  // namespace qd
