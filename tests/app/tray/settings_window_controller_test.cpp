#include "app/tray/settings_window_controller.h"

#include <QGuiApplication>
#include <QScreen>

#include "tray_test_support.h"

namespace qd {
namespace {

class SettingsWindowControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fixture_.makeMonitor();
    SettingsWindowController::Options options;
    options.schedule = scheduler_.seam();
    options.model.adminCall = [this](const std::string& method, const std::optional<Json>&) -> Json {
      if (method == "app_get_settings") ++settingsReads_;
      throw DaemonAdminAPIError::timedOut();
    };
    options.model.loadCatalog = false;
    options.model.readAutoDownloadUpdates = [] { return false; };
    options.model.writeAutoDownloadUpdates = [](bool) {};
    options.model.openFolder = [](const std::filesystem::path&) {};
    options.model.environment = fixture_.context->environment;
    options.root.alerts = &fixture_.alerts;
    options.root.environment = fixture_.context->environment;
    options.root.installer.environment = fixture_.context->environment;
    options.root.installer.appFolder = fixture_.tree.bin;
    options.askServiceUnavailable = [this] {
      ++unavailableAlerts_;
      return answerEmail_;
    };
    options.emailDiagnostics = [this] { ++diagnostics_; };
    controller_ = std::make_unique<SettingsWindowController>(*fixture_.monitor, std::move(options));
  }
  void TearDown() override {
    if (controller_->window()) controller_->window()->hide();
  }

  test::TrayFixture fixture_;
  test::ManualScheduler scheduler_;
  std::unique_ptr<SettingsWindowController> controller_;
  std::atomic<int> settingsReads_{0};
  int unavailableAlerts_ = 0;
  int diagnostics_ = 0;
  bool answerEmail_ = true;
};

TEST_F(SettingsWindowControllerTest, RunningServicePresentsAtOnceAndCentresAgain) {
  fixture_.services.running = true;
  controller_->showSettingsWindow();
  SettingsWindowRoot* window = controller_->window();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->windowTitle(), "Settings");
  EXPECT_EQ(window->size(), QSize(700, 640));
  EXPECT_TRUE(scheduler_.pending.empty());
  EXPECT_EQ(fixture_.services.count(ServiceVerb::start), 0);

  window->move(3, 4);
  window->resize(660, 520);
  controller_->showSettingsWindow();
  EXPECT_EQ(controller_->window(), window);
  const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
  EXPECT_LE((window->frameGeometry().center() - centre).manhattanLength(), 2);
  EXPECT_EQ(window->size(), QSize(660, 520));
}

TEST_F(SettingsWindowControllerTest, StoppedServiceStartsOnceThenGivesUpAfterTwelveChecks) {
  controller_->showSettingsWindow();
  controller_->showSettingsWindow();  // ignored while the first waits
  EXPECT_EQ(fixture_.services.count(ServiceVerb::start), 1);
  EXPECT_TRUE(controller_->settingsLaunchInFlight());

  int checks = 0;
  while (!scheduler_.pending.empty()) {
    EXPECT_EQ(scheduler_.pending.front().first, std::chrono::milliseconds(500));
    scheduler_.step();
    ++checks;
  }
  EXPECT_EQ(checks, 12);
  EXPECT_EQ(unavailableAlerts_, 1);
  EXPECT_EQ(diagnostics_, 1);  // "Email Diagnostics" was chosen
  EXPECT_FALSE(controller_->settingsLaunchInFlight());
  EXPECT_EQ(controller_->window(), nullptr);

  // A new request starts over.
  answerEmail_ = false;
  controller_->showSettingsWindow();
  EXPECT_EQ(fixture_.services.count(ServiceVerb::start), 2);
  while (scheduler_.step()) {
  }
  EXPECT_EQ(unavailableAlerts_, 2);
  EXPECT_EQ(diagnostics_, 1);
}

TEST_F(SettingsWindowControllerTest, StoppedServiceThatComesUpShowsTheWindow) {
  controller_->showSettingsWindow();
  scheduler_.step();
  scheduler_.step();
  EXPECT_EQ(controller_->window(), nullptr);
  fixture_.services.running = true;
  scheduler_.step();
  ASSERT_NE(controller_->window(), nullptr);
  EXPECT_TRUE(controller_->window()->isVisible());
  EXPECT_FALSE(controller_->settingsLaunchInFlight());
  EXPECT_TRUE(scheduler_.pending.empty());
  EXPECT_EQ(unavailableAlerts_, 0);
}

// Shown while the daemon still came up: the settings are read again once it is alive.
TEST_F(SettingsWindowControllerTest, SettingsAreReadAgainWhenTheDaemonComesUp) {
  fixture_.services.running = true;
  controller_->showSettingsWindow();
  auto& model = controller_->viewModel();
  ASSERT_TRUE(test::processEventsUntil([&] { return !model.requestInFlight() && settingsReads_ >= 1; }));
  const int before = settingsReads_;
  fixture_.daemonUp = true;
  ASSERT_TRUE(fixture_.check());
  EXPECT_TRUE(test::processEventsUntil([&] { return settingsReads_ > before; }));
}

}  // namespace
}  // namespace qd
