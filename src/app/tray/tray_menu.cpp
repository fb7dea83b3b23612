#include "app/tray/tray_menu.h"

#include <QAction>
#include <QCursor>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>

#include <iostream>

namespace qd {
namespace {

QColor colorOf(StatusColor color) {
  switch (color) {
    case StatusColor::red: return QColor(0xFF, 0x3B, 0x30);
    case StatusColor::orange: return QColor(0xFF, 0x95, 0x00);
    case StatusColor::gray: return QColor(0x8E, 0x8E, 0x93);
    case StatusColor::green: return QColor(0x34, 0xC7, 0x59);
    case StatusColor::yellow: return QColor(0xFF, 0xCC, 0x00);
  }
  return Qt::gray;
}

// A filled disc for the header's dot; a ring around a disc for the tray icon.
QPixmap paintDot(StatusColor color, int size, bool ring) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(colorOf(color));
  if (!ring) {
    painter.drawEllipse(QRectF(0, 0, size, size).adjusted(1, 1, -1, -1));
    return pixmap;
  }
  const qreal w = size / 8.0;
  painter.setPen(QPen(colorOf(color), w));
  painter.setBrush(Qt::NoBrush);
  painter.drawEllipse(QRectF(w, w, size - 2 * w, size - 2 * w));
  painter.setPen(Qt::NoPen);
  painter.setBrush(colorOf(color));
  painter.drawEllipse(QRectF(size * 0.3, size * 0.3, size * 0.4, size * 0.4));
  return pixmap;
}

}  // namespace

QIcon TrayMenu::statusIcon(StatusColor color, int size) { return QIcon(paintDot(color, size, true)); }

TrayMenu::TrayMenu(HealthMonitor& monitor, Actions actions, QObject* parent)
    : QObject(parent), monitor_(monitor), actions_(std::move(actions)), menu_(new QMenu), icon_(new QSystemTrayIcon(this)) {
  for (auto signal : {&HealthMonitor::healthDataChanged, &HealthMonitor::daemonAliveChanged,
                      &HealthMonitor::tinderboxAliveChanged, &HealthMonitor::tinderboxAppRunningChanged,
                      &HealthMonitor::daemonStartupInProgressChanged, &HealthMonitor::daemonStartupFailedChanged,
                      &HealthMonitor::xpcAuthRejectedChanged}) {
    connect(&monitor_, signal, this, &TrayMenu::rebuild);
  }
  connect(menu_, &QMenu::aboutToShow, this, &TrayMenu::rebuild);
  // The start-up state shows only for a grace period after launch.
  QTimer::singleShot(initialStartupGracePeriod + std::chrono::milliseconds(50), this, &TrayMenu::rebuild);

  icon_->setContextMenu(menu_);
  connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::MiddleClick) popup();
  });
  rebuild();
  icon_->show();
  if (!QSystemTrayIcon::isSystemTrayAvailable()) watchForTray();
}

TrayMenu::~TrayMenu() { delete menu_; }

bool TrayMenu::inTray() const { return QSystemTrayIcon::isSystemTrayAvailable() && icon_->isVisible(); }

void TrayMenu::watchForTray() {
  std::cerr << "Quarvel Dorarov: no system tray is available; the app runs on without an icon and shows it when a "
               "tray appears"
            << std::endl;
  trayWatch_ = new QTimer(this);
  connect(trayWatch_, &QTimer::timeout, this, [this] {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    trayWatch_->stop();
    icon_->hide();
    icon_->show();
  });
  trayWatch_->start(trayWatchInterval);
}

MenuModel TrayMenu::currentModel() const {
  MenuState state;
  state.daemonAlive = monitor_.daemonAlive();
  state.tinderboxAlive = monitor_.tinderboxAlive();
  state.tinderboxAppRunning = monitor_.tinderboxAppRunning();
  state.daemonStartupInProgress = monitor_.daemonStartupInProgress();
  state.daemonStartupFailed = monitor_.daemonStartupFailed();
  state.xpcAuthRejected = monitor_.xpcAuthRejected();
  state.shouldShowStartupState = monitor_.shouldShowStartupState();
  if (const auto& record = monitor_.healthData()) state.connectedClients = record->connectedClients;
  return MenuModel::from(state);
}

void TrayMenu::rebuild() {
  const MenuModel model = currentModel();
  if (!painted_ || paintedColor_ != model.iconColor) {
    icon_->setIcon(statusIcon(model.iconColor, 64));
    paintedColor_ = model.iconColor;
    painted_ = true;
  }
  icon_->setToolTip(QString::fromStdString("Quarvel Dorarov: " + model.title));

  menu_->clear();
  // The same pixmap for the disabled mode, or the style would grey the dot out.
  const QPixmap dot = paintDot(model.dotColor, 16, false);
  QIcon dotIcon;
  dotIcon.addPixmap(dot, QIcon::Normal);
  dotIcon.addPixmap(dot, QIcon::Disabled);
  QAction* title = menu_->addAction(dotIcon, QString::fromStdString(model.title + (model.busy ? " …" : "")));
  title->setEnabled(false);
  title->setObjectName("statusTitle");
  if (model.secondLine) {
    QAction* line = menu_->addAction(QString::fromStdString(*model.secondLine));
    line->setEnabled(false);
    line->setObjectName("statusLine");
  }
  menu_->addSeparator();
  for (MenuItem item : model.items) {
    if (item == MenuItem::separator) {
      menu_->addSeparator();
      continue;
    }
    QAction* action = menu_->addAction(QString::fromStdString(menuItemText(item)));
    if (item == MenuItem::settings) action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    if (item == MenuItem::quit) action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    action->setShortcutVisibleInContextMenu(true);
    // After the menu has closed and its actions are no longer in use (a rebuild deletes them).
    connect(action, &QAction::triggered, this, [this, item] {
      QTimer::singleShot(0, this, [this, item] { run(item); });
    });
  }
}

void TrayMenu::run(MenuItem item) {
  const std::function<void()>* action = nullptr;
  switch (item) {
    case MenuItem::separator: return;
    case MenuItem::settings: action = &actions_.settings; break;
    case MenuItem::restartService: action = &actions_.restartService; break;
    case MenuItem::emailDiagnostics: action = &actions_.emailDiagnostics; break;
    case MenuItem::viewLogs: action = &actions_.viewLogs; break;
    case MenuItem::restartTinderbox: action = &actions_.restartTinderbox; break;
    case MenuItem::quitTinderbox: action = &actions_.quitTinderbox; break;
    case MenuItem::connectTinderbox: action = &actions_.connectTinderbox; break;
    case MenuItem::openTinderbox: action = &actions_.openTinderbox; break;
    case MenuItem::quit: action = &actions_.quit; break;
  }
  if (action && *action) (*action)();
}

void TrayMenu::popup() {
  const QRect geometry = icon_->geometry();
  menu_->popup(geometry.isValid() && !geometry.isEmpty() ? geometry.center() : QCursor::pos());
}

}  // namespace qd
