#include "daemon/config/tool_settings_store.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>

#include "daemon/utilities/atomic_file.h"
#include "daemon/utilities/json_codec.h"
#include "support/stderr_capture.h"
#include "support/temp_dir.h"

namespace qd {
namespace {

namespace fs = std::filesystem;

class ToolSettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = root_ / "support" / "tool-settings.json";
  }

  void writeRaw(const std::string& text) {
    fs::create_directories(file_.parent_path());
    std::ofstream(file_, std::ios::binary) << text;
  }
  std::vector<fs::path> keptCopies() const {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(file_.parent_path())) {
      if (e.path().filename().string().starts_with("tool-settings.json.unreadable-")) out.push_back(e.path());
    }
    return out;
  }

  test::TempDir temp_{"settings"};
  fs::path root_ = temp_.path();
  fs::path file_;
};

TEST_F(ToolSettingsStoreTest, MissingFileGivesDefaultsAndWritesNothing) {
  ToolSettingsStore store(file_);
  store.load();
  EXPECT_EQ(store.current(), ToolSettings());
  EXPECT_FALSE(fs::exists(file_.parent_path()));
}

TEST_F(ToolSettingsStoreTest, SaveThenLoadInAFreshStoreReproducesTheRecord) {
  ToolSettings s;
  s.requireExplicitToolEnable = true;
  s.helperToolEnabled["tbx_export"] = true;
  s.helperToolEnabled["notify"] = false;
  s.maxConcurrentJobs = 4;
  s.customToolManifestDirectories = {"/x"};
  s.agentCategoryPolicy = {{"alice", {{"apple", {true, false}}}}};

  ToolSettingsStore writer(file_);
  writer.save(s);  // creates the folders
  EXPECT_EQ(writer.current(), s);
  EXPECT_FALSE(writer.isEnabled("notify"));
  EXPECT_FALSE(writer.isEnabled("unlisted"));  // explicit enabling required

  const Json onDisk = parseJson(*readFileIfPresent(file_));
  EXPECT_EQ(onDisk.size(), 21u);

  ToolSettingsStore reader(file_);
  reader.load();
  EXPECT_EQ(reader.current(), s);
}

TEST_F(ToolSettingsStoreTest, UnreadableFileThrowsKeepsSettingsAndIsKeptAsideByTheNextSave) {
  ToolSettingsStore store(file_);
  ToolSettings before;
  before.enableHookSync = false;
  store.save(before);

  for (const char* bad : {"{not json", R"({"maxCustomTools": "25"})", "[]"}) {
    writeRaw(bad);
    EXPECT_THROW(store.load(), Error) << bad;
    EXPECT_EQ(store.current(), before);
  }

  ToolSettings after;
  after.enableMessaging = false;
  test::StderrCapture capture;
  store.save(after);
  const auto kept = keptCopies();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(*readFileIfPresent(kept[0]), "[]");
  EXPECT_NE(capture.text().find("Kept the unreadable tool settings file"), std::string::npos);
  EXPECT_EQ(ToolSettings::fromJson(parseJson(*readFileIfPresent(file_))), after);

  // Only the first save after a failed load keeps a copy.
  store.save(before);
  EXPECT_EQ(keptCopies().size(), 1u);
}

TEST_F(ToolSettingsStoreTest, AFailedSaveStillChangesTheSettingsInMemory) {
  fs::create_directories(file_ / "occupied");  // a folder where the file should be
  ToolSettingsStore store(file_);
  ToolSettings s;
  s.enableLogging = false;
  EXPECT_THROW(store.save(s), FileWriteError);
  EXPECT_EQ(store.current(), s);
}

}  // namespace
}  // namespace qd
