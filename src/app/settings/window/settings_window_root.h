#pragma once

// The settings window's content: the tabs "Settings" (General), "Tools", "Clients", and
// outside the release tier "Logging" and "Advanced"; a status line at the foot.
//
// It is the one trigger of saving: while it is shown every change announcement of the
// model schedules the debounced save, and hiding or closing the window saves at once. At construction it
// hands the model's flushPendingSave() to the application's pre-stop hook, so quitting
// saves before the service stops. Ctrl+W closes the window.
//
// The status line shows what would otherwise pass unseen: a failed save, or that the
// settings were not read from the daemon (then with "Retry"). It never shows "Saved.".
// Until the settings are loaded the setting controls are disabled, since a save then would
// replace the daemon's settings with defaults; browsing the catalog, "Check Now" and the
// Clients tab stay usable. Showing the window, or the application becoming active while it
// is shown, asks the model to load again when nothing is loaded.

#include <QSize>
#include <QWidget>

#include <functional>

#include "app/installer/alert_presenter.h"
#include "app/installer/mcp_installer.h"
#include "platform/environment.h"

class QLabel;
class QPushButton;
class QTabWidget;

namespace qd {

class ToolSettingsViewModel;
class ToolsTab;
class ClientsTab;

struct SettingsWindowRootOptions {
  // A user-initiated update check ("Check Now"); the updater reports the outcome itself.
  std::function<void()> checkForUpdates;
  // Receives the hook to run before the service stops at quit (the application's pre-stop
  // hook). May be empty.
  std::function<void(std::function<void()>)> registerPreStop;
  // Where the Clients tab's installer reports; required.
  AlertPresenter* alerts = nullptr;
  MCPInstallerOptions installer;
  // The application's environment (the logs file named by the Logging tab).
  platform::Environment environment = platform::Environment::current();
};

class SettingsWindowRoot : public QWidget {
  Q_OBJECT

 public:
  static constexpr QSize defaultWindowSize{700, 640};
  static constexpr QSize minimumWindowSize{650, 500};

  using Options = SettingsWindowRootOptions;

  // The model outlives the root (the window controller keeps both for the application's run).
  SettingsWindowRoot(ToolSettingsViewModel& model, Options options, QWidget* parent = nullptr);
  ~SettingsWindowRoot() override;

  QTabWidget* tabs() const { return tabs_; }
  ToolsTab* toolsTab() const { return toolsTab_; }
  ClientsTab* clientsTab() const { return clientsTab_; }
  // The status line's text; empty while it is hidden.
  QString statusText() const;
  QPushButton* retryButton() const { return retry_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void showStatus();

  ToolSettingsViewModel& model_;
  QTabWidget* tabs_;
  ToolsTab* toolsTab_;
  ClientsTab* clientsTab_;
  QWidget* statusLine_;
  QLabel* statusLabel_;
  QPushButton* retry_;
};

}  // namespace qd
