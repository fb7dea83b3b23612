#include "app/tray/tray_application.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QTimer>

#include "app/note_app_detection.h"
#include "app/settings/admin_call.h"
#include "app/message_box_question.h"
#include "app/tray/updater.h"

namespace qd {

TrayApplication::TrayApplication(AppContext context, Options options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {
  AppDelegate::Hooks hooks = options_.hooks;
  outerPreStop_ = std::move(hooks.preStop);
  hooks.preStop = [this] { runPreStopHooks(); };
  HealthMonitor::Options& monitor = hooks.monitorOptions;
  if (!monitor.isTinderboxRunning) {
    monitor.isTinderboxRunning = [own = TinderboxControl::ownExecutablesOf(context)] { return isNoteAppRunning(own); };
  }
  if (!monitor.maybeAutoLaunchTinderbox) {
    monitor.maybeAutoLaunchTinderbox = [this] {
      if (tinderbox_) tinderbox_->maybeAutoLaunchTinderbox();
    };
  }
  if (!monitor.schedule) monitor.schedule = options_.settings.schedule;
  if (!options_.tinderbox.schedule) options_.tinderbox.schedule = options_.settings.schedule;
  Updater::shared().setAlerts(context.alerts);
  delegate_ = std::make_unique<AppDelegate>(std::move(context), std::move(hooks));
  connect(delegate_.get(), &AppDelegate::activateRequested, this, &TrayApplication::activate);
}

TrayApplication::~TrayApplication() {
  // The views first: they hold on to the monitor, which the delegate owns.
  tray_.reset();
  settings_.reset();
  diagnostics_.reset();
  tinderbox_.reset();
}

void TrayApplication::runPreStopHooks() {
  if (outerPreStop_) outerPreStop_();
  for (const auto& hook : preStopHooks_) hook();
}

void TrayApplication::applicationDidFinishLaunching() {
  delegate_->applicationDidFinishLaunching();
  HealthMonitor* monitor = delegate_->healthMonitor();
  if (!monitor) return;  // another instance runs
  const AppContext& context = delegate_->context();

  tinderbox_ = std::make_unique<TinderboxControl>(context, *monitor, options_.tinderbox);

  Diagnostics::Options diagnostics = options_.diagnostics;
  if (!diagnostics.confirm) diagnostics.confirm = confirmDiagnosticsWithMessageBox;
  diagnostics_ = std::make_unique<Diagnostics>(context, *monitor, *delegate_->serviceManager(),
                                               *delegate_->installer(), std::move(diagnostics));

  SettingsWindowController::Options settings = options_.settings;
  settings.root.registerPreStop = [this](std::function<void()> hook) { preStopHooks_.push_back(std::move(hook)); };
  if (!settings.root.alerts) settings.root.alerts = context.alerts;
  settings.root.environment = context.environment;
  settings.root.installer.environment = context.environment;
  settings.root.installer.appFolder = context.binFolder;
  settings.model.environment = context.environment;
  if (!settings.model.adminCall) settings.model.adminCall = adminCallFor(context);
  if (!settings.emailDiagnostics) settings.emailDiagnostics = [this] { diagnostics_->emailDiagnostics(); };
  settings_ = std::make_unique<SettingsWindowController>(*monitor, std::move(settings));

  TrayMenu::Actions actions;
  actions.settings = [this] { settings_->showSettingsWindow(); };
  actions.restartService = [monitor] { monitor->restartDaemon(); };
  actions.emailDiagnostics = [this] { diagnostics_->emailDiagnostics(); };
  actions.viewLogs = [this] { diagnostics_->openLogsDirectory(); };
  actions.restartTinderbox = [this] {
    tinderbox_->runDaemonHelper(TinderboxControl::restartArgument, TinderboxControl::restartFailureTitle);
  };
  actions.quitTinderbox = [this] {
    tinderbox_->runDaemonHelper(TinderboxControl::stopArgument, TinderboxControl::quitFailureTitle);
  };
  actions.connectTinderbox = actions.restartTinderbox;
  actions.openTinderbox = [this] { tinderbox_->startTinderbox(); };
  actions.quit = [this] { quit(); };
  tray_ = std::make_unique<TrayMenu>(*monitor, std::move(actions));
}

void TrayApplication::applicationWillTerminate() { delegate_->applicationWillTerminate(); }

void TrayApplication::quit() {
  runPreStopHooks();
  if (HealthMonitor* monitor = delegate_->healthMonitor(); monitor && !delegate_->context().isTestHost()) {
    monitor->stopDaemon();
  }
  QCoreApplication::quit();
}

void TrayApplication::activate() {
  if (settings_ && settings_->window() && settings_->window()->isVisible()) {
    settings_->window()->raise();
    settings_->window()->activateWindow();
    return;
  }
  if (tray_ && tray_->inTray()) {
    tray_->popup();
    return;
  }
  if (settings_) settings_->showSettingsWindow();
}

bool confirmDiagnosticsWithMessageBox(const std::string& informativeText) {
  return askWithMessageBox(QMessageBox::Information, Diagnostics::confirmTitle, Diagnostics::confirmTitle,
                           QString::fromStdString(informativeText), "Send Email", "Cancel");
}

}  // namespace qd
