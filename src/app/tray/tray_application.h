#pragma once

// The tray application put together: the launch sequence of the application delegate, and
// on top of its health monitor the tray menu, the settings window controller, note-app
// control and diagnostics. main() makes one; tests make one over fakes.
//
// "Quit" runs the pre-stop hooks (the settings window's pending save), stops the service
// and ends the event loop; the termination handler then runs them once more. Another
// launch's "activate" raises a shown settings window; otherwise it opens the menu when
// the icon is in a tray, and without a tray it runs the settings request, so launching the
// application again reaches Settings.

#include <QObject>

#include <functional>
#include <memory>
#include <vector>

#include "app/app_delegate.h"
#include "app/tinderbox_control.h"
#include "app/tray/diagnostics.h"
#include "app/tray/settings_window_controller.h"
#include "app/tray/tray_menu.h"

namespace qd {

class TrayApplication : public QObject {
  Q_OBJECT

 public:
  struct Options {
    AppDelegate::Hooks hooks;
    TinderboxControl::Options tinderbox;
    // An empty confirmation asks with a message box.
    Diagnostics::Options diagnostics;
    SettingsWindowController::Options settings;
  };

  TrayApplication(AppContext context, Options options, QObject* parent = nullptr);
  ~TrayApplication() override;

  void applicationDidFinishLaunching();
  void applicationWillTerminate();

  // "Quit": the hooks, the service stopped, then the event loop ends.
  void quit();
  void activate();

  AppDelegate& delegate() { return *delegate_; }
  // None before the launch has created the health monitor (or after a second launch quit).
  TrayMenu* trayMenu() const { return tray_.get(); }
  SettingsWindowController* settingsWindowController() const { return settings_.get(); }
  TinderboxControl* tinderboxControl() const { return tinderbox_.get(); }
  Diagnostics* diagnostics() const { return diagnostics_.get(); }

 private:
  void runPreStopHooks();

  Options options_;
  // The delegate's own hook first, then those registered since (the settings window's).
  std::function<void()> outerPreStop_;
  std::vector<std::function<void()>> preStopHooks_;
  std::unique_ptr<AppDelegate> delegate_;
  std::unique_ptr<TinderboxControl> tinderbox_;
  std::unique_ptr<Diagnostics> diagnostics_;
  std::unique_ptr<SettingsWindowController> settings_;
  std::unique_ptr<TrayMenu> tray_;
};

// "Send Diagnostics?" with "Send Email" and "Cancel"; true for "Send Email".
bool confirmDiagnosticsWithMessageBox(const std::string& informativeText);

}  // namespace qd
