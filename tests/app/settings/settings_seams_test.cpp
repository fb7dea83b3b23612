#include "app/settings/settings_seams.h"

#include <gtest/gtest.h>

#include "settings_test_support.h"
#include "support/temp_dir.h"

namespace qd {
namespace {

namespace fs = std::filesystem;

TEST(SettingsSeamsTest, TheFolderOpenerRunsXdgOpenFromPathWithoutWaiting) {
  test::TempDir temp("seams");
  const fs::path record = temp / "opened.txt";
  test::writeText(temp / "fakes" / "xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + record.string() + ".tmp'\nmv '" +
                                                    record.string() + ".tmp' '" + record.string() + "'\n",
                  true);
  folderOpenerOf(platform::Environment{{"PATH", (temp / "fakes").string()}})(temp / "logs folder");
  ASSERT_TRUE(test::processEventsUntil([&] { return fs::exists(record); }));
  EXPECT_EQ(test::readText(record), (temp / "logs folder").string());

  // Without xdg-open nothing happens, and nothing fails.
  folderOpenerOf(platform::Environment{{"PATH", (temp / "empty").string()}})(temp.path());
}

TEST(SettingsSeamsTest, TheUpdaterSettingLivesInTheSharedPreferencesSuite) {
  test::TempDir temp("seams");
  const platform::Environment env{{"HOME", temp.path().string()}};
  const AutoDownloadSetting setting = autoDownloadSettingOf(env);
  EXPECT_FALSE(setting.read());
  setting.write(true);
  EXPECT_TRUE(setting.read());
  EXPECT_EQ(parseJson(test::readText(temp / ".config/QuarvelDorarov/com.quarvel.dorarov.json"))["SUAutomaticallyUpdate"],
            true);
}

}  // namespace
}  // namespace qd
