#include "app/settings/window/clients_tab.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "app/settings/window/window_test_support.h"

namespace qd {
namespace {

class ClientsTabTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::widgetApplication();
    std::filesystem::create_directories(home_);
    test::writeText(temp_ / "inst" / "bin" / "QuarvelDorarovDaemon", "#!/bin/sh\nexit 0\n", true);
    MCPInstallerOptions options;
    options.environment = platform::Environment{{"HOME", home_.string()}};
    options.appFolder = temp_ / "inst" / "bin";
    tab_ = std::make_unique<ClientsTab>(alerts_, options);
  }

  // Runs one tick and waits for its result.
  void tick() {
    QSignalSpy spy(tab_.get(), &ClientsTab::refreshed);
    tab_->refresh();
    ASSERT_TRUE(test::processEventsUntil([&] { return spy.count() > 0; }));
  }
  ClientsTab::RowView row(const std::string& id) {
    for (auto& r : tab_->rows()) {
      if (r.id == id) return r;
    }
    ADD_FAILURE() << id;
    return {};
  }

  test::TempDir temp_{"clients-tab"};
  std::filesystem::path home_ = temp_ / "home";
  test::RecordingAlerts alerts_;
  std::unique_ptr<ClientsTab> tab_;
};

TEST_F(ClientsTabTest, ListsTheSixClientsInTableOrderWithTheirPaths) {
  const std::vector<std::pair<std::string, std::string>> expected{
      {"claude_code", ".claude.json"},
      {"claude_desktop", ".config/Claude/claude_desktop_config.json"},
      {"codex", ".codex/config.toml"},
      {"gemini", ".gemini/settings.json"},
      {"droid", ".factory/mcp.json"},
      {"opencode", ".config/opencode/opencode.json"}};
  const auto rows = tab_->rows();
  ASSERT_EQ(rows.size(), expected.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].id, expected[i].first);
    EXPECT_EQ(rows[i].path, (home_ / expected[i].second).string());
    EXPECT_FALSE(rows[i].installed);
    EXPECT_EQ(rows[i].button->text(), "Install");
  }
}

TEST_F(ClientsTabTest, InstallTurnsGreenSilentlyRemoveGoesThroughTheAlertAndHandEditsShowAtTheNextTick) {
  tab_->show();
  EXPECT_TRUE(tab_->refreshTimerActive());
  auto claude = row("claude_code");
  claude.button->click();
  EXPECT_TRUE(row("claude_code").installed);
  EXPECT_EQ(claude.button->text(), "Remove");
  EXPECT_TRUE(alerts_.alerts.empty());
  tick();
  EXPECT_TRUE(row("claude_code").installed);

  claude.button->click();
  EXPECT_FALSE(row("claude_code").installed);
  EXPECT_EQ(claude.button->text(), "Install");
  ASSERT_EQ(alerts_.alerts.size(), 1u);

  // Installed again, then removed by hand: the next tick shows it, and keeps the focus.
  auto gemini = row("gemini");
  gemini.button->click();
  ASSERT_TRUE(row("gemini").installed);
  tab_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(tab_.get()));
  gemini.button->setFocus();
  test::writeText(home_ / ".gemini" / "settings.json", "{}\n");
  tick();
  EXPECT_FALSE(row("gemini").installed);
  EXPECT_EQ(gemini.button->text(), "Install");
  EXPECT_TRUE(gemini.button->hasFocus());

  tab_->hide();
  EXPECT_FALSE(tab_->refreshTimerActive());
}

// The button as drawn, beside a plain button with the same text and size.
bool drawnPlain(QPushButton& button) {
  QPushButton plain(button.text(), button.parentWidget());
  plain.resize(button.size());
  return button.grab().toImage() == plain.grab().toImage();
}

TEST_F(ClientsTabTest, InstallIsTheProminentButtonAndRemoveAPlainOne) {
  tab_->show();
  auto codex = row("codex");
  EXPECT_FALSE(drawnPlain(*codex.button));
  codex.button->click();
  ASSERT_EQ(codex.button->text(), "Remove");
  EXPECT_TRUE(drawnPlain(*codex.button));
  EXPECT_FALSE(drawnPlain(*row("gemini").button));

  // A new palette reaches the accent too.
  QPalette palette = tab_->palette();
  palette.setColor(QPalette::Highlight, Qt::darkGreen);
  tab_->setPalette(palette);
  EXPECT_EQ(row("gemini").button->palette().color(QPalette::Button), QColor(Qt::darkGreen));
}

TEST_F(ClientsTabTest, AnUnreadableFileReadsAsNotInstalled) {
  test::writeText(home_ / ".factory" / "mcp.json", "{ not json");
  tick();
  EXPECT_FALSE(row("droid").installed);
  EXPECT_EQ(test::readText(home_ / ".factory" / "mcp.json"), "{ not json");
}

}  // namespace
}  // namespace qd
