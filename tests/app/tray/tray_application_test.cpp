#include "app/tray/tray_application.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>

#include "tray_test_support.h"

namespace qd {
namespace {

QStringList actionTexts(QMenu& menu) {
  QStringList texts;
  for (QAction* action : menu.actions()) texts << (action->isSeparator() ? QString("---") : action->text());
  return texts;
}

QAction* actionNamed(QMenu& menu, const QString& text) {
  for (QAction* action : menu.actions()) {
    if (action->text() == text) return action;
  }
  return nullptr;
}

// The whole application offscreen (no tray) over a recording service manager, a scripted
// health answer and a daemon executable that records its control runs.
class TrayApplicationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::writeText(fixture_.tree.bin / "QuarvelDorarovDaemon",
                    "#!/bin/sh\necho \"$1\" >> '" + (fixture_.tree.temp / "daemon.log").string() + "'\n", true);
    TrayApplication::Options options;
    options.hooks.evictConflicts = [] {};
    options.hooks.preStop = [this] { events_.push_back("pre-stop after " + std::to_string(services_->verbs.size())); };
    options.hooks.makeServiceManager = [this](const AppContext&) {
      auto services = std::make_unique<test::RecordingServices>();
      services_ = services.get();
      return services;
    };
    options.hooks.monitorOptions = fixture_.monitorOptions();
    options.settings.schedule = scheduler_.seam();
    options.settings.model.adminCall = [](const std::string&, const std::optional<Json>&) -> Json {
      throw DaemonAdminAPIError::timedOut();
    };
    options.settings.model.loadCatalog = false;
    options.settings.model.openFolder = [](const std::filesystem::path&) {};
    options.diagnostics.confirm = [](const std::string&) { return false; };
    app_ = std::make_unique<TrayApplication>(*fixture_.context, std::move(options));
    app_->applicationDidFinishLaunching();
    ASSERT_NE(app_->trayMenu(), nullptr);
  }

  HealthMonitor& monitor() { return *app_->delegate().healthMonitor(); }
  QMenu& menu() { return *app_->trayMenu()->menu(); }
  void trigger(const QString& text) {
    QAction* action = actionNamed(menu(), text);
    ASSERT_NE(action, nullptr) << text.toStdString();
    action->trigger();
    QCoreApplication::processEvents();  // actions run once the menu has closed
  }
  bool checkAnswers(bool daemonUp, bool tinderboxUp, std::int64_t clients) {
    fixture_.daemonUp = daemonUp;
    fixture_.tinderboxUp = tinderboxUp;
    fixture_.clients = clients;
    monitor().checkHealth();
    return test::processEventsUntil([&] {
      const auto& record = monitor().healthData();
      if (!daemonUp) return !monitor().daemonAlive();
      return monitor().daemonAlive() && monitor().tinderboxAlive() == tinderboxUp && record &&
             record->connectedClients == clients;
    });
  }

  test::TrayFixture fixture_;
  test::ManualScheduler scheduler_;
  test::RecordingServices* services_ = nullptr;
  std::vector<std::string> events_;
  std::unique_ptr<TrayApplication> app_;
};

TEST_F(TrayApplicationTest, MenuFollowsTheStateAndItsActionsReachTheMonitor) {
  // Offscreen there is no tray: the application runs on with its menu.
  EXPECT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
  EXPECT_FALSE(app_->trayMenu()->inTray());

  ASSERT_TRUE(checkAnswers(false, false, 0));
  const QStringList stopped = actionTexts(menu());
  EXPECT_TRUE(stopped.contains("Restart Service") && stopped.contains("Email Diagnostics...") &&
              stopped.contains("View Logs"))
      << stopped.join("|").toStdString();
  EXPECT_EQ(stopped.mid(stopped.indexOf("---")),
            (QStringList{"---", "Settings...", "---", "Restart Service", "Email Diagnostics...", "View Logs", "---",
                         "Quit"}));
  EXPECT_FALSE(menu().actions().front()->isEnabled());  // the header
  EXPECT_EQ(actionNamed(menu(), "Settings...")->shortcut(), QKeySequence("Ctrl+,"));
  EXPECT_EQ(actionNamed(menu(), "Quit")->shortcut(), QKeySequence("Ctrl+Q"));

  trigger("Restart Service");
  EXPECT_EQ(services_->count(ServiceVerb::start), 1);

  // A state change rebuilds the menu.
  ASSERT_TRUE(checkAnswers(true, true, 5));
  EXPECT_EQ(actionTexts(menu()), (QStringList{"Dorarov Running", "4 external clients", "---", "Settings...", "---",
                                              "Restart Tinderbox", "Quit Tinderbox", "---", "Quit"}));
  trigger("Quit Tinderbox");
  ASSERT_TRUE(test::processEventsUntil(
      [&] { return test::readText(fixture_.tree.temp / "daemon.log") == "--stop-tinderbox\n"; }));

  ASSERT_TRUE(checkAnswers(true, false, 1));
  EXPECT_EQ(actionTexts(menu()).mid(0, 2),
            (QStringList{"Dorarov Running", "Tinderbox not connected (optional); daemon is serving"}));
  EXPECT_NE(actionNamed(menu(), "Open Tinderbox"), nullptr);
}

TEST_F(TrayApplicationTest, QuitRunsThePreStopHookBeforeStoppingTheService) {
  const std::size_t before = services_->verbs.size();
  app_->quit();
  ASSERT_EQ(events_.size(), 1u);
  EXPECT_EQ(events_[0], "pre-stop after " + std::to_string(before));
  EXPECT_EQ(services_->count(ServiceVerb::stop), 1);
  // The termination handler runs them once more.
  app_->applicationWillTerminate();
  EXPECT_EQ(events_.size(), 2u);
  EXPECT_EQ(services_->count(ServiceVerb::stop), 2);
}

// Without a tray, another launch's "activate" runs the settings request; with the window
// shown it only raises it.
TEST_F(TrayApplicationTest, ActivateWithoutTrayOpensSettings) {
  services_->running = true;
  emit app_->delegate().activateRequested();
  auto* window = app_->settingsWindowController()->window();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->windowTitle(), "Settings");
  EXPECT_EQ(window->size(), QSize(700, 640));
  emit app_->delegate().activateRequested();
  EXPECT_EQ(app_->settingsWindowController()->window(), window);
  window->hide();
}

}  // namespace
}  // namespace qd
