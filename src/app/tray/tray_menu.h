#pragma once

// The tray icon and its menu, drawn from the menu model of the health monitor's state. The
// icon is painted in the model's colour; a click opens the menu as well. The menu is built
// again on every change of the published state, whenever it is about to show, and when
// the start-up grace ends. The status header is made of disabled actions (menus exported
// over D-Bus drop widget actions): the title with the dot as its icon (the only place the
// header's colours show) and the second line. Actions run once the menu has closed.
//
// Without a tray (the offscreen platform, desktops without a tray host) the application
// runs on: that is logged once, and the icon shows as soon as a tray appears.

#include <QObject>

#include <functional>

#include "app/health_monitor.h"
#include "app/menu_model.h"

class QMenu;
class QSystemTrayIcon;
class QIcon;
class QTimer;

namespace qd {

class TrayMenu : public QObject {
  Q_OBJECT

 public:
  // One per menu item; empty ones do nothing.
  struct Actions {
    std::function<void()> settings, restartService, emailDiagnostics, viewLogs, restartTinderbox, quitTinderbox,
        connectTinderbox, openTinderbox, quit;
  };

  static constexpr std::chrono::milliseconds trayWatchInterval{2000};

  TrayMenu(HealthMonitor& monitor, Actions actions, QObject* parent = nullptr);
  ~TrayMenu() override;

  QMenu* menu() const { return menu_; }
  QSystemTrayIcon* trayIcon() const { return icon_; }
  // Whether the icon is in a tray now.
  bool inTray() const;
  MenuModel currentModel() const;

  // Opens the menu at the icon (or the pointer).
  void popup();
  void rebuild();

  static QIcon statusIcon(StatusColor color, int size);

 private:
  void run(MenuItem item);
  void watchForTray();

  HealthMonitor& monitor_;
  Actions actions_;
  QMenu* menu_;
  QSystemTrayIcon* icon_;
  QTimer* trayWatch_ = nullptr;
  StatusColor paintedColor_;
  bool painted_ = false;
};

}  // namespace qd
