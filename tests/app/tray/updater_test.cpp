#include "app/tray/updater.h"

#include "daemon/config/app_preferences_store.h"
#include "tray_test_support.h"

namespace qd {
namespace {

// The setting the application writes is the one the daemon's store reads, and back.
TEST(UpdaterTest, AutomaticDownloadSettingIsTheSharedOne) {
  test::AppTree tree;
  Updater updater(tree.environment());
  AppPreferencesStore daemonSide(AppPreferencesStore::defaultSuiteName, tree.environment());
  EXPECT_FALSE(updater.automaticallyDownloadsUpdates());
  updater.setAutomaticallyDownloadsUpdates(true);
  EXPECT_TRUE(daemonSide.autoDownloadUpdates());
  daemonSide.setAutoDownloadUpdates(false);
  EXPECT_FALSE(updater.automaticallyDownloadsUpdates());
}

TEST(UpdaterTest, CheckExplainsWhereUpdatesComeFrom) {
  test::RecordingAlerts alerts;
  Updater updater(platform::Environment{}, &alerts);
  updater.checkForUpdates();
  ASSERT_EQ(alerts.alerts.size(), 1u);
  EXPECT_EQ(alerts.alerts[0],
            (Alert{Alert::Style::informational, "Software Updates",
                   "Quarvel Dorarov does not update itself on Linux. Updates come through your package manager, or "
                   "install a newer build."}));
}

}  // namespace
}  // namespace qd
