// The tray application QuarvelDorarov: starts the daemon's per-user service and stops it
// when it quits, so the daemon runs only while the application runs.

#include <QApplication>
#include <QTimer>

#include "app/app_delegate.h"
#include "app/termination_signals.h"
#include "app/widget_alerts.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  application.setApplicationName("Quarvel Dorarov");
  // The application lives in the tray: closing its last window does not end it.
  application.setQuitOnLastWindowClosed(false);
  qd::quitOnTerminationSignals();

  qd::MessageBoxAlerts alerts;
  qd::AppDelegate::Hooks hooks;
  hooks.askToInstall = qd::askToInstallService;
  qd::AppDelegate delegate(qd::AppContext::current(&alerts), std::move(hooks));
  QObject::connect(&application, &QCoreApplication::aboutToQuit, &delegate, &qd::AppDelegate::applicationWillTerminate);
  QTimer::singleShot(0, &delegate, &qd::AppDelegate::applicationDidFinishLaunching);
  return application.exec();
}
