#include "platform/user_folders.h"

#include <gtest/gtest.h>

namespace qd::platform {
namespace {

TEST(UserFolders, FollowXdgVariablesAndFallBackToHome) {
  const Environment home{{"HOME", "/h"}};
  EXPECT_EQ(applicationSupportDirectory(home), "/h/.local/share/QuarvelDorarov");
  EXPECT_EQ(logsDirectory(home), "/h/.local/state/QuarvelDorarov/logs");
  EXPECT_EQ(preferencesSuiteFile(home, "com.quarvel.dorarov"), "/h/.config/QuarvelDorarov/com.quarvel.dorarov.json");

  const Environment xdg{{"HOME", "/h"}, {"XDG_DATA_HOME", "/d"}, {"XDG_STATE_HOME", "/s"}, {"XDG_CONFIG_HOME", "/c"}};
  EXPECT_EQ(applicationSupportDirectory(xdg), "/d/QuarvelDorarov");
  EXPECT_EQ(logsDirectory(xdg), "/s/QuarvelDorarov/logs");
  EXPECT_EQ(preferencesDirectory(xdg), "/c/QuarvelDorarov");
  EXPECT_EQ(configHomeDirectory(xdg), "/c");
  EXPECT_EQ(configHomeDirectory(home), "/h/.config");

  // Empty or relative XDG values are ignored.
  const Environment odd{{"HOME", "/h"}, {"XDG_DATA_HOME", ""}, {"XDG_STATE_HOME", "rel/state"}};
  EXPECT_EQ(applicationSupportDirectory(odd), "/h/.local/share/QuarvelDorarov");
  EXPECT_EQ(logsDirectory(odd), "/h/.local/state/QuarvelDorarov/logs");

  // Without HOME the password database answers.
  EXPECT_TRUE(homeDirectory(Environment()).is_absolute());
}

TEST(Environment, KeepsEmptyValuesDistinctFromAbsentOnes) {
  Environment env{{"A", ""}};
  EXPECT_EQ(env.get("A"), "");
  EXPECT_FALSE(env.get("B"));
  EXPECT_TRUE(Environment::current().get("PATH"));
}

}  // namespace
}  // namespace qd::platform
