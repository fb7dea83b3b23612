#include "daemon/config/app_preferences_store.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <thread>
#include <vector>

#include "daemon/utilities/atomic_file.h"
#include "daemon/utilities/json.h"
#include "support/stderr_capture.h"
#include "support/temp_dir.h"

namespace qd {
namespace {

namespace fs = std::filesystem;

class AppPreferencesStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = platform::Environment{{"HOME", (root_ / "home").string()}, {"XDG_CONFIG_HOME", (root_ / "config").string()}};
  }

  void writeSuite(const std::string& text) {
    fs::create_directories(suiteFile().parent_path());
    std::ofstream(suiteFile(), std::ios::binary) << text;
  }
  fs::path suiteFile() const { return root_ / "config" / "QuarvelDorarov" / "com.quarvel.dorarov.json"; }

  test::TempDir temp_{"prefs"};
  fs::path root_ = temp_.path();
  platform::Environment env_;
};

TEST_F(AppPreferencesStoreTest, ReadsTheSharedSuiteOnEveryGet) {
  AppPreferencesStore store("com.quarvel.dorarov", env_);
  EXPECT_EQ(store.suiteFile(), suiteFile());
  EXPECT_FALSE(store.autoDownloadUpdates());  // no file, no key

  // Another process (the tray application) writes the suite; the next get sees it.
  writeSuite(R"({"SUAutomaticallyUpdate": true, "QTConflictAlertShownVersion": "2.0.0"})");
  EXPECT_TRUE(store.autoDownloadUpdates());

  // Only a real Boolean counts.
  for (const char* text : {R"({"SUAutomaticallyUpdate": 1})", R"({"SUAutomaticallyUpdate": "YES"})", "{}", "[true]"}) {
    writeSuite(text);
    EXPECT_FALSE(store.autoDownloadUpdates()) << text;
  }
}

TEST_F(AppPreferencesStoreTest, SetWritesAtOnceAndKeepsTheOtherKeys) {
  writeSuite(R"({"QTConflictAlertShownVersion": "2.0.0"})");
  AppPreferencesStore store("com.quarvel.dorarov", env_);
  store.setAutoDownloadUpdates(true);
  EXPECT_TRUE(AppPreferencesStore("com.quarvel.dorarov", env_).autoDownloadUpdates());
  const Json suite = parseJson(*readFileIfPresent(suiteFile()));
  EXPECT_EQ(suite, Json({{"QTConflictAlertShownVersion", "2.0.0"}, {"SUAutomaticallyUpdate", true}}));
  store.setAutoDownloadUpdates(false);
  EXPECT_FALSE(store.autoDownloadUpdates());
}

TEST_F(AppPreferencesStoreTest, StringValuesBesideTheOtherKeys) {
  AppPreferencesStore store("com.quarvel.dorarov", env_);
  EXPECT_FALSE(store.stringValue("QTConflictAlertShownVersion"));
  store.setAutoDownloadUpdates(true);
  store.setStringValue("QTConflictAlertShownVersion", "2.0.0");
  EXPECT_EQ(store.stringValue("QTConflictAlertShownVersion"), "2.0.0");
  EXPECT_TRUE(store.autoDownloadUpdates());
  writeSuite(R"({"QTConflictAlertShownVersion": 2})");
  EXPECT_FALSE(store.stringValue("QTConflictAlertShownVersion"));  // only a string counts
}

TEST_F(AppPreferencesStoreTest, AnUnreadableSuiteIsKeptAsideNotLost) {
  writeSuite("{half written");
  AppPreferencesStore store("com.quarvel.dorarov", env_);
  test::StderrCapture capture;
  store.setAutoDownloadUpdates(true);
  EXPECT_TRUE(store.autoDownloadUpdates());
  int kept = 0;
  for (const auto& e : fs::directory_iterator(suiteFile().parent_path())) {
    if (e.path().filename().string().starts_with("com.quarvel.dorarov.json.unreadable-")) {
      ++kept;
      EXPECT_EQ(*readFileIfPresent(e.path()), "{half written");
    }
  }
  EXPECT_EQ(kept, 1);
  EXPECT_NE(capture.text().find("Kept the unreadable preferences file"), std::string::npos);
}

TEST_F(AppPreferencesStoreTest, UnusableSuiteNameFallsBackToTheProgramsOwnSuite) {
  for (const char* name : {"", "..", "a/b"}) {
    EXPECT_EQ(AppPreferencesStore(name, env_).suiteFile(),
              root_ / "config" / "QuarvelDorarov" / "QuarvelDorarovDaemon.json")
        << name;
  }
}

// The daemon and the application each read, change and rewrite the suite. Writers that
// overlap must not drop each other's keys (each store opens the lock file itself, as a
// second process would).
TEST_F(AppPreferencesStoreTest, OverlappingWritersKeepEveryKey) {
  constexpr int writers = 8;
  constexpr int rounds = 25;
  std::vector<std::thread> threads;
  for (int w = 0; w < writers; ++w) {
    threads.emplace_back([this, w] {
      AppPreferencesStore store(AppPreferencesStore::defaultSuiteName, env_);
      for (int r = 0; r < rounds; ++r) store.setStringValue("key" + std::to_string(w), std::to_string(r));
    });
  }
  for (auto& t : threads) t.join();
  AppPreferencesStore store(AppPreferencesStore::defaultSuiteName, env_);
  for (int w = 0; w < writers; ++w) {
    EXPECT_EQ(store.stringValue("key" + std::to_string(w)), std::to_string(rounds - 1)) << w;
  }
}

}  // namespace
}  // namespace qd
