#include "app/settings/window/settings_window_root.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include "app/settings/window/window_test_support.h"

namespace qd {
namespace {

using namespace std::chrono_literals;
using test::findByText;

QStringList tabLabels(const SettingsWindowRoot& root) {
  QStringList labels;
  for (int i = 0; i < root.tabs()->count(); ++i) labels << root.tabs()->tabText(i);
  return labels;
}

TEST(SettingsWindowRootTest, ReleaseTierShowsThreeTabsAndEveryOtherValueAllFive) {
  const QStringList three{"Settings", "Tools", "Clients"};
  const QStringList five{"Settings", "Tools", "Clients", "Logging", "Advanced"};
  const std::vector<std::pair<std::optional<std::string>, QStringList>> cases{
      {"release", three}, {std::nullopt, three}, {"Release", five}, {"beta", five}, {"", five}};
  for (const auto& [tier, expected] : cases) {
    test::WindowFixture fixture;
    auto& root = fixture.make(tier);
    EXPECT_EQ(tabLabels(root), expected) << (tier ? *tier : "unset");
    EXPECT_EQ(root.tabs()->currentIndex(), 0);
    EXPECT_EQ(root.minimumSize(), QSize(650, 500));
    EXPECT_EQ(root.size(), QSize(700, 640));
  }
}

TEST(SettingsWindowRootTest, AnEditIsSavedHalfASecondLaterOrAtOnceWhenTheWindowHides) {
  test::WindowFixture fixture;
  auto& root = fixture.make();
  root.show();
  auto* autoDownload = findByText<QCheckBox>(root, "Automatically Download Updates");
  ASSERT_NE(autoDownload, nullptr);

  autoDownload->click();
  fixture.scheduler.advance(499ms);
  fixture.settle();
  EXPECT_EQ(fixture.admin.count("app_save_settings"), 0);
  fixture.scheduler.advance(1ms);
  fixture.settle();
  ASSERT_EQ(fixture.admin.count("app_save_settings"), 1);
  EXPECT_EQ(fixture.admin.saves()[0].params->at("settings").at("autoDownloadUpdates"), Json(true));

  // Closing within the debounce saves at once; the debounce then finds nothing new.
  autoDownload->click();
  root.close();
  fixture.settle();
  EXPECT_EQ(fixture.admin.count("app_save_settings"), 2);
  fixture.scheduler.advance(1s);
  fixture.settle();
  EXPECT_EQ(fixture.admin.count("app_save_settings"), 2);
}

TEST(SettingsWindowRootTest, CtrlWClosesTheWindowAndTheQuitHookFlushesAPendingSave) {
  test::WindowFixture fixture;
  auto& root = fixture.make();
  root.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&root));
  QTest::keyClick(&root, Qt::Key_W, Qt::ControlModifier);
  EXPECT_FALSE(root.isVisible());
  fixture.settle();

  ASSERT_TRUE(fixture.preStop);
  fixture.model->setMaxCustomTools(7);
  fixture.preStop();  // no debounce step: the hook sends it
  ASSERT_EQ(fixture.admin.count("app_save_settings"), 1);
  EXPECT_EQ(fixture.admin.saves()[0].params->at("settings").at("maxCustomTools"), Json(7));
}

TEST(SettingsWindowRootTest, BeforeALoadSettingControlsAreOffAndTheStatusLineOffersRetry) {
  test::WindowFixture fixture;
  fixture.serveNothing();
  auto& root = fixture.make();
  root.show();
  fixture.settle();

  EXPECT_TRUE(root.statusText().startsWith(ToolSettingsViewModel::defaultsStatus)) << root.statusText().toStdString();
  EXPECT_TRUE(root.retryButton()->isVisible());
  EXPECT_FALSE(findByText<QCheckBox>(root, "Automatically Download Updates")->isEnabled());
  EXPECT_FALSE(findByText<QPushButton>(root, "Reset to Defaults")->isEnabled());
  EXPECT_FALSE(findByText<QCheckBox>(root, "Enable Tool-Call Logging")->isEnabled());
  EXPECT_FALSE(findByText<QCheckBox>(root, "Enable Custom Tool Manifests")->isEnabled());
  auto* checkNow = findByText<QPushButton>(root, "Check Now");
  ASSERT_TRUE(checkNow->isEnabled());
  checkNow->click();
  EXPECT_EQ(fixture.updateChecks, 1);

  // Retry once the daemon answers: the controls come on and the line goes.
  fixture.serve(test::loadedSettings());
  root.retryButton()->click();
  fixture.settle();
  EXPECT_TRUE(fixture.model->settingsLoaded());
  EXPECT_EQ(root.statusText(), QString());
  EXPECT_TRUE(findByText<QPushButton>(root, "Reset to Defaults")->isEnabled());
  EXPECT_EQ(fixture.admin.count("app_save_settings"), 0);  // nothing was pushed meanwhile
}

TEST(SettingsWindowRootTest, AFailedSaveStaysOnTheStatusLineAndASuccessClearsIt) {
  test::WindowFixture fixture;
  auto& root = fixture.make();
  root.show();
  fixture.settle();
  EXPECT_EQ(root.statusText(), QString());

  fixture.admin.answer = [](const std::string& method, const std::optional<Json>&) -> Json {
    if (method == "app_save_settings") throw std::runtime_error("Settings are read-only");
    return test::loadedSettings();
  };
  fixture.model->setMaxCustomTools(9);
  fixture.scheduler.advance(500ms);
  fixture.settle();
  EXPECT_TRUE(root.statusText().startsWith("Failed to save settings: ")) << root.statusText().toStdString();
  EXPECT_TRUE(root.statusText().contains("read-only"));
  EXPECT_FALSE(root.retryButton()->isVisible());

  fixture.serve(test::loadedSettings());
  fixture.scheduler.advance(500ms);  // the failure's own announcement re-armed the save
  fixture.settle();
  EXPECT_EQ(fixture.model->statusMessage(), "Saved.");
  EXPECT_EQ(root.statusText(), QString());
}

}  // namespace
}  // namespace qd
