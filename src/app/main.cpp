// The tray application QuarvelDorarov: starts the daemon's per-user service and stops it
// when it quits, so the daemon runs only while the application runs.

#include <QApplication>
#include <QIcon>
#include <QTimer>

#include "app/termination_signals.h"
#include "app/tray/tray_application.h"
#include "app/widget_alerts.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  application.setApplicationName("Quarvel Dorarov");
  application.setDesktopFileName("quarvel-dorarov");
  application.setWindowIcon(QIcon::fromTheme("quarvel-dorarov"));
  // The application lives in the tray: closing its last window does not end it.
  application.setQuitOnLastWindowClosed(false);
  qd::quitOnTerminationSignals();

  qd::MessageBoxAlerts alerts;
  qd::TrayApplication::Options options;
  options.hooks.askToInstall = qd::askToInstallService;
  qd::TrayApplication tray(qd::AppContext::current(&alerts), std::move(options));
  QObject::connect(&application, &QCoreApplication::aboutToQuit, &tray, &qd::TrayApplication::applicationWillTerminate);
  QTimer::singleShot(0, &tray, &qd::TrayApplication::applicationDidFinishLaunching);
  return application.exec();
}
