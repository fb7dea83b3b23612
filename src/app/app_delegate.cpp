#include "app/app_delegate.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <iostream>

#include "app/installer/mcp_installer.h"

namespace qd {
namespace {

// Where alerts go when the context has no presenter (a program without a window).
class StandardErrorAlerts final : public AlertPresenter {
 public:
  void present(const Alert& alert) override { std::cerr << alert.title << ": " << alert.informativeText << "\n"; }
};

}  // namespace

AppDelegate::AppDelegate(AppContext context, Hooks hooks, QObject* parent)
    : QObject(parent), context_(std::move(context)), hooks_(std::move(hooks)) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::present(const Alert& alert) {
  if (context_.alerts) {
    context_.alerts->present(alert);
    return;
  }
  StandardErrorAlerts().present(alert);
}

void AppDelegate::applicationDidFinishLaunching() {
  // 1. One instance.
  singleInstance_ = new SingleInstance(context_.configuration().appSupportDir(), this);
  connect(singleInstance_, &SingleInstance::activateRequested, this, &AppDelegate::activateRequested);
  if (!singleInstance_->acquire()) {
    QTimer::singleShot(0, QCoreApplication::instance(), [] { QCoreApplication::quit(); });
    return;
  }
  // 2. The health monitor, with the service manager chosen for this run.
  services_ = hooks_.makeServiceManager ? hooks_.makeServiceManager(context_) : chooseServiceManager(context_);
  installer_ = std::make_unique<AppInstaller>(context_, *services_);
  healthMonitor_ = std::make_unique<HealthMonitor>(context_, *services_, *installer_, hooks_.monitorOptions);
  // Until the tray shows it, the daemon's state is told on standard error.
  connect(healthMonitor_.get(), &HealthMonitor::daemonAliveChanged, this, [this] {
    const auto& record = healthMonitor_->healthData();
    if (healthMonitor_->daemonAlive() && record) {
      std::cerr << "Quarvel Dorarov: the daemon is running (process " << record->daemonPid << ")" << std::endl;
    } else {
      std::cerr << "Quarvel Dorarov: the daemon is not running" << std::endl;
    }
  });
  // 3. Test host.
  if (context_.isTestHost()) return;
  // 4. Location: nothing to offer.
  if (installer_->promptToMoveToApplicationsIfNeeded()) return;
  // 5. Service.
  if (installer_->isInstalled()) {
    postStart();
  } else {
    showFirstRunDialog();
  }
  // 6. Conflicts, after the start request (or after the dialog has closed).
  QTimer::singleShot(0, this, [this] {
    if (hooks_.evictConflicts) {
      hooks_.evictConflicts();
      return;
    }
    StandardErrorAlerts fallback;
    AlertPresenter& alerts = context_.alerts ? *context_.alerts : fallback;
    MCPInstallerOptions options;
    options.environment = context_.environment;
    options.appFolder = context_.binFolder;
    MCPInstaller(alerts, options).evictNativeTinderboxEntriesIfNeeded();
  });
}

void AppDelegate::postStart(HealthMonitor::StartOutcome outcome) {
  QPointer<AppDelegate> self(this);
  QTimer::singleShot(0, this, [self, outcome = std::move(outcome)] {
    if (self && self->healthMonitor_) self->healthMonitor_->startDaemon(outcome);
  });
}

void AppDelegate::showFirstRunDialog() {
  if (!hooks_.askToInstall || !hooks_.askToInstall()) return;
  if (!installer_->installLaunchdPlist()) {
    present({Alert::Style::warning, "Installation Failed",
             "Failed to install the service. Please check the system log for errors."});
    return;
  }
  // The closing alert says the daemon is active, so it waits for the start to hold; a start
  // that fails has shown its own alert. Without a service manager the unit is only the
  // recipe: the application starts the daemon itself, and says so.
  postStart([this](bool started) {
    if (!started) return;
    present({Alert::Style::informational, "Installation Complete",
             services_->usesSystemd()
                 ? "The Quarvel Dorarov service has been installed and started.\nQuarvel Dorarov is now active."
                 : "The Quarvel Dorarov service has been installed. No service manager is running, so Quarvel "
                   "Dorarov started the daemon itself; it runs while Quarvel Dorarov runs.\nQuarvel Dorarov is "
                   "now active."});
  });
}

void AppDelegate::applicationWillTerminate() {
  if (terminated_) return;
  terminated_ = true;
  if (hooks_.preStop) hooks_.preStop();
  if (context_.isTestHost()) return;
  if (healthMonitor_) healthMonitor_->stopDaemon();
}

}  // namespace qd
