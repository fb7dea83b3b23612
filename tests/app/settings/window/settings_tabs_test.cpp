#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include "app/settings/window/logging_tab.h"
#include "app/settings/window/window_test_support.h"
#include "platform/user_folders.h"

namespace qd {
namespace {

using namespace std::chrono_literals;
using test::findByText;

Json lastSaved(test::WindowFixture& fixture) { return fixture.admin.saves().back().params->at("settings"); }

TEST(LoggingTabTest, PickerFollowsTheSwitchKeepsItsValueAndBothSetsBothFlags) {
  test::WindowFixture fixture;
  auto& root = fixture.make();
  root.show();
  root.tabs()->setCurrentIndex(3);
  auto* enable = findByText<QCheckBox>(root, "Enable Tool-Call Logging");
  auto* both = findByText<QPushButton>(root, "File + Tinderbox");
  auto* file = findByText<QPushButton>(root, "File");
  ASSERT_TRUE(enable && both && file);
  EXPECT_TRUE(file->isChecked());

  both->click();
  EXPECT_EQ(fixture.model->loggingSinkMode(), LoggingSinkMode::both);
  enable->click();
  EXPECT_FALSE(both->isEnabled());
  EXPECT_TRUE(both->isChecked());
  fixture.scheduler.advance(500ms);
  fixture.settle();
  const Json sent = lastSaved(fixture);
  EXPECT_EQ(sent.at("enableToolCallLogging"), Json(false));
  EXPECT_EQ(sent.at("logToolCallsToFile"), Json(true));
  EXPECT_EQ(sent.at("logToolCallsToTinderbox"), Json(true));

  // Arrow keys move along the segments.
  enable->click();
  both->setFocus();
  QTest::keyClick(both, Qt::Key_Left);
  EXPECT_EQ(fixture.model->loggingSinkMode(), LoggingSinkMode::tinderbox);
}

TEST(LoggingTabTest, FileLineNamesTheDataFolderFileWithHomeAsTilde) {
  const std::vector<std::pair<platform::Environment, std::string>> cases{
      {{{"HOME", "/home/ann"}}, "~/.local/share/QuarvelDorarov/tool-calls.log"},
      {{{"HOME", "/home/ann/"}, {"XDG_DATA_HOME", "/home/ann/data"}}, "~/data/QuarvelDorarov/tool-calls.log"},
      {{{"HOME", "/home/ann"}, {"XDG_DATA_HOME", "/srv/data"}}, "/srv/data/QuarvelDorarov/tool-calls.log"},
      {{{"HOME", "/home/ann"}, {"XDG_DATA_HOME", "/home/annex"}}, "/home/annex/QuarvelDorarov/tool-calls.log"},
  };
  for (const auto& [env, shown] : cases) {
    const QString text = LoggingTab::destinationsText(env);
    EXPECT_TRUE(text.contains(QString::fromStdString("\u2022 File: Write to " + shown + "\n"))) << text.toStdString();
  }
}

TEST(LoggingTabTest, OpenLogsFolderRunsXdgOpenOnlyWhenTheFolderExists) {
  test::WindowFixture fixture;
  const auto record = fixture.temp / "opened";
  test::writeText(fixture.temp / "fakes" / "xdg-open", "#!/bin/sh\necho \"$1\" >> '" + record.string() + "'\n", true);
  auto& root = fixture.make("dev", true);
  auto* open = findByText<QPushButton>(root, "Open Logs Folder...");
  ASSERT_NE(open, nullptr);

  open->click();
  const auto logs = platform::logsDirectory(fixture.environment("dev"));
  std::filesystem::create_directories(logs);
  open->click();
  ASSERT_TRUE(test::processEventsUntil([&] { return std::filesystem::exists(record); }));
  ASSERT_TRUE(test::processEventsUntil([&] { return !test::readText(record).empty(); }));
  EXPECT_EQ(test::readText(record), logs.string() + "\n");  // once: the first click had no folder
}

TEST(AdvancedTabTest, EditorsFollowTheSwitchKeepTheirValuesAndZeroIsSavedAsOne) {
  test::WindowFixture fixture;
  fixture.serve(Json{{"enableCustomToolManifests", false},
                     {"customToolManifestDirectories", {"/opt/manifests"}},
                     {"maxCustomTools", 30}});
  auto& root = fixture.make();
  root.show();
  root.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&root));
  root.tabs()->setCurrentIndex(4);
  auto* editor = root.findChild<QPlainTextEdit*>();
  auto* max = root.findChild<QLineEdit*>();
  auto* enable = findByText<QCheckBox>(root, "Enable Custom Tool Manifests");
  ASSERT_TRUE(editor && max && enable);
  EXPECT_FALSE(editor->isEnabled());
  EXPECT_FALSE(max->isEnabled());
  EXPECT_EQ(editor->toPlainText(), "/opt/manifests");
  EXPECT_EQ(max->text(), "30");

  enable->click();
  ASSERT_TRUE(max->isEnabled());
  max->setFocus();
  max->selectAll();
  QTest::keyClicks(max, "0");
  QTest::keyClick(max, Qt::Key_Return);
  EXPECT_EQ(fixture.model->maxCustomTools(), 0);
  fixture.scheduler.advance(500ms);
  fixture.settle();
  EXPECT_EQ(lastSaved(fixture).at("maxCustomTools"), Json(1));
  EXPECT_EQ(lastSaved(fixture).at("customToolManifestDirectories"), Json({"/opt/manifests"}));

  // Signed input is accepted; letters are not; Tab leaves the multi-line editor.
  max->selectAll();
  QTest::keyClicks(max, "-4x");
  EXPECT_EQ(max->text(), "-4");
  editor->setFocus();
  QTest::keyClick(editor, Qt::Key_Tab);
  EXPECT_FALSE(editor->hasFocus());
  EXPECT_EQ(editor->toPlainText(), "/opt/manifests");
  EXPECT_EQ(fixture.model->maxCustomTools(), -4);  // committed when the field lost focus
}

}  // namespace
}  // namespace qd
