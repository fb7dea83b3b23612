#pragma once

// The application's launch sequence and termination. The launch runs once from the event
// loop (post applicationDidFinishLaunching), in this order, each "stop" ending it:
//   1. one instance: another holds the lock; it is told to show itself and we quit (stop)
//   2. the health monitor is created (it polls unless under a test host)
//   3. under a test host: stop
//   4. there is no applications folder to move to (never stops here)
//   5. service unit installed: post startDaemon(); else the first-run dialog, whose install
//      posts the start and says "Installation Complete" only once the start has held (a
//      start that fails shows its own alert alone)
//   6. post the client installer's conflict pass
// applicationWillTerminate (connect it to QCoreApplication::aboutToQuit) runs the pre-stop
// hook, then stops the service unless under a test host or step 1 stopped the launch.

#include <QObject>

#include <functional>
#include <memory>

#include "app/app_context.h"
#include "app/app_installer.h"
#include "app/health_monitor.h"
#include "app/service_manager.h"
#include "app/single_instance.h"

namespace qd {

class AppDelegate : public QObject {
  Q_OBJECT

 public:
  struct Hooks {
    // The first-run question; true means "Install". Default: no.
    std::function<bool()> askToInstall;
    // Runs first at termination (the settings window's pending save).
    std::function<void()> preStop;
    // The launch's conflict pass. Default: the client installer's.
    std::function<void()> evictConflicts;
    // The service manager. Default: chosen by chooseServiceManager.
    std::function<std::unique_ptr<ServiceManager>(const AppContext&)> makeServiceManager;
    HealthMonitor::Options monitorOptions;
  };

  AppDelegate(AppContext context, Hooks hooks, QObject* parent = nullptr);
  ~AppDelegate() override;

  void applicationDidFinishLaunching();
  void applicationWillTerminate();

  // None until launch step 2.
  HealthMonitor* healthMonitor() const { return healthMonitor_.get(); }
  AppInstaller* installer() const { return installer_.get(); }
  ServiceManager* serviceManager() const { return services_.get(); }
  const AppContext& context() const { return context_; }

 signals:
  // Another launch asked us to show ourselves (the tray menu opens).
  void activateRequested();

 private:
  void showFirstRunDialog();
  void postStart(HealthMonitor::StartOutcome outcome = {});
  void present(const Alert& alert);

  AppContext context_;
  Hooks hooks_;
  SingleInstance* singleInstance_ = nullptr;
  std::unique_ptr<ServiceManager> services_;
  std::unique_ptr<AppInstaller> installer_;
  std::unique_ptr<HealthMonitor> healthMonitor_;
  bool terminated_ = false;
};

}  // namespace qd
