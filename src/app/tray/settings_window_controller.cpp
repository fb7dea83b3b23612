#include "app/tray/settings_window_controller.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QTimer>

#include "app/message_box_question.h"
#include "app/tray/updater.h"

namespace qd {

SettingsWindowController::SettingsWindowController(HealthMonitor& monitor, Options options, QObject* parent)
    : QObject(parent), monitor_(monitor), options_(std::move(options)) {
  if (!options_.schedule) {
    options_.schedule = [this](std::chrono::milliseconds delay, std::function<void()> block) {
      QTimer::singleShot(delay, this, std::move(block));
    };
  }
  if (!options_.askServiceUnavailable) options_.askServiceUnavailable = askServiceUnavailableWithMessageBox;
  ToolSettingsViewModel::Options model = options_.model;
  if (!model.schedule) model.schedule = options_.schedule;
  if (!model.readAutoDownloadUpdates) {
    model.readAutoDownloadUpdates = [] { return Updater::shared().automaticallyDownloadsUpdates(); };
  }
  if (!model.writeAutoDownloadUpdates) {
    model.writeAutoDownloadUpdates = [](bool enabled) { Updater::shared().setAutomaticallyDownloadsUpdates(enabled); };
  }
  if (!options_.root.checkForUpdates) options_.root.checkForUpdates = [] { Updater::shared().checkForUpdates(); };
  model_ = std::make_unique<ToolSettingsViewModel>(std::move(model));
  // The window may show while the daemon is still coming up, before it answers; its
  // settings are read again once the daemon is seen alive.
  connect(&monitor_, &HealthMonitor::daemonAliveChanged, this, [this] {
    if (monitor_.daemonAlive() && window_ && window_->isVisible()) model_->reload();
  });
}

SettingsWindowController::~SettingsWindowController() = default;

void SettingsWindowController::showSettingsWindow() {
  if (settingsLaunchInFlight_) return;
  monitor_.checkHealth();
  if (monitor_.isDaemonServiceRunning()) {
    presentWindow();
    return;
  }
  settingsLaunchInFlight_ = true;
  monitor_.startDaemon();
  waitForDaemonAndPresent(1);
}

void SettingsWindowController::waitForDaemonAndPresent(int attempt) {
  QPointer<SettingsWindowController> self(this);
  options_.schedule(waitInterval, [self, attempt] {
    if (!self) return;
    self->monitor_.checkHealth();
    if (self->monitor_.isDaemonServiceRunning()) {
      self->settingsLaunchInFlight_ = false;
      self->presentWindow();
    } else if (attempt >= waitChecks) {
      self->settingsLaunchInFlight_ = false;
      self->showDaemonUnavailableAlert();
    } else {
      self->waitForDaemonAndPresent(attempt + 1);
    }
  });
}

void SettingsWindowController::presentWindow() {
  if (!window_) {
    window_ = std::make_unique<SettingsWindowRoot>(*model_, options_.root);
    window_->setWindowTitle("Settings");
    window_->resize(SettingsWindowRoot::defaultWindowSize);
  }
  // Window systems may place it themselves; on those that honour it, it is centred.
  QScreen* screen = window_->screen() ? window_->screen() : QGuiApplication::primaryScreen();
  if (screen) {
    QRect frame = window_->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window_->move(frame.topLeft());
  }
  window_->show();
  window_->raise();
  window_->activateWindow();
}

void SettingsWindowController::showDaemonUnavailableAlert() {
  if (options_.askServiceUnavailable() && options_.emailDiagnostics) options_.emailDiagnostics();
}

bool askServiceUnavailableWithMessageBox() {
  return askWithMessageBox(QMessageBox::Warning, SettingsWindowController::unavailableTitle,
                           SettingsWindowController::unavailableTitle, SettingsWindowController::unavailableText,
                           "Email Diagnostics", "OK");
}

}  // namespace qd
