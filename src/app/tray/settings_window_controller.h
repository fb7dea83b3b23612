#pragma once

// The one object that opens the settings window. The window reads and saves through the
// running daemon, so a request shows it at once only when the service runs; otherwise it
// starts the service and checks 12 times, 0.5 s apart, before showing it, or says
// "Service Unavailable". The window (700x640, "Settings") is created on first showing and
// only hidden on close; each showing centres it, raises it and activates it. The settings
// model is created with the controller and lives as long as the application; while the
// window shows without settings, they are read again when the daemon is seen alive.

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>

#include "app/health_monitor.h"
#include "app/settings/tool_settings_view_model.h"
#include "app/settings/window/settings_window_root.h"

namespace qd {

class SettingsWindowController : public QObject {
  Q_OBJECT

 public:
  struct Options {
    // Runs the checks on the GUI thread after a delay. Default: a single-shot QTimer.
    HealthMonitor::Scheduler schedule;
    // The model's options; an empty updater setting reads and writes the updater's.
    ToolSettingsViewModel::Options model;
    SettingsWindowRoot::Options root;
    // "Service Unavailable" with "Email Diagnostics" and "OK"; true for the first.
    // Default: a message box.
    std::function<bool()> askServiceUnavailable;
    std::function<void()> emailDiagnostics;
  };

  static constexpr int waitChecks = 12;
  static constexpr std::chrono::milliseconds waitInterval{500};
  static constexpr const char* unavailableTitle = "Service Unavailable";
  static constexpr const char* unavailableText =
      "Could not start the bridge daemon, so Settings cannot be opened.\nTry restarting the service, or use Email "
      "Diagnostics from the menu to send the logs.";

  SettingsWindowController(HealthMonitor& monitor, Options options, QObject* parent = nullptr);
  ~SettingsWindowController() override;

  // "Settings..." and the application's own settings request.
  void showSettingsWindow();

  // None before the first showing.
  SettingsWindowRoot* window() const { return window_.get(); }
  ToolSettingsViewModel& viewModel() { return *model_; }
  bool settingsLaunchInFlight() const { return settingsLaunchInFlight_; }

 private:
  void presentWindow();
  void waitForDaemonAndPresent(int attempt);
  void showDaemonUnavailableAlert();

  HealthMonitor& monitor_;
  Options options_;
  // Declared before the window, which refers to it, so it is destroyed after it.
  std::unique_ptr<ToolSettingsViewModel> model_;
  std::unique_ptr<SettingsWindowRoot> window_;
  bool settingsLaunchInFlight_ = false;
};

// The message box of "Service Unavailable"; true for "Email Diagnostics".
bool askServiceUnavailableWithMessageBox();

}  // namespace qd
