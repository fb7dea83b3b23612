#pragma once

// The application's one source of truth about the daemon and the note app. Checks run one
// at a time on a worker thread of their own (every 15 s and on request): is a note app
// running, and what does the daemon's "app_get_health" answer. Their results are posted
// back to the GUI thread in order, and each published field is assigned there, and only
// when its value changes, so observers see changes only.
//
// It also starts, restarts and stops the daemon's service (startDaemon, restartDaemon,
// stopDaemon) and explains a start that did not hold; those run on the GUI thread.
//
// Seams for the parts built on top: `isTinderboxRunning` (the note-app detector, asked on
// the worker thread), `maybeAutoLaunchTinderbox` (called on the GUI thread after each
// fresh record with a live daemon), and the pre-stop hook of the application delegate.

#include <QObject>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "app/app_context.h"
#include "app/app_installer.h"
#include "app/health_record.h"
#include "app/service_manager.h"
#include "daemon/utilities/clock.h"
#include "daemon/utilities/json.h"

namespace qd {

class HealthMonitor : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool daemonAlive READ daemonAlive NOTIFY daemonAliveChanged)
  Q_PROPERTY(bool tinderboxAlive READ tinderboxAlive NOTIFY tinderboxAliveChanged)
  Q_PROPERTY(bool tinderboxAppRunning READ tinderboxAppRunning NOTIFY tinderboxAppRunningChanged)
  Q_PROPERTY(bool daemonStartupInProgress READ daemonStartupInProgress NOTIFY daemonStartupInProgressChanged)
  Q_PROPERTY(bool daemonStartupFailed READ daemonStartupFailed NOTIFY daemonStartupFailedChanged)
  Q_PROPERTY(bool xpcAuthRejected READ xpcAuthRejected NOTIFY xpcAuthRejectedChanged)

 public:
  using Scheduler = std::function<void(std::chrono::milliseconds, std::function<void()>)>;

  struct Options {
    // The admin call; throws as DaemonAdminAPI::request does. Default: "app_get_health"
    // on the admin socket of the context's configuration.
    std::function<Json()> fetchHealth;
    // The note-app detector (worker thread). Default: none runs.
    std::function<bool()> isTinderboxRunning;
    // After each fresh record with a live daemon (GUI thread). Default: nothing.
    std::function<void()> maybeAutoLaunchTinderbox;
    // Runs a follow-up on the GUI thread after a delay. Default: a single-shot QTimer;
    // tests run every wait at once.
    Scheduler schedule;
    const Clock* clock = &Clock::system();
    std::chrono::milliseconds pollInterval{15000};
    // Poll from creation (never under a test host).
    bool startPolling = true;
  };

  static constexpr int startupWaitChecks = 25;
  static constexpr std::chrono::milliseconds startupWaitInterval{1500};
  static constexpr std::chrono::milliseconds recheckAfterRun{2000};

  HealthMonitor(const AppContext& context, ServiceManager& services, AppInstaller& installer, Options options,
                QObject* parent = nullptr);
  ~HealthMonitor() override;

  // Published state (GUI thread).
  const std::optional<AppHealthData>& healthData() const { return healthData_; }
  bool daemonAlive() const { return daemonAlive_; }
  bool tinderboxAlive() const { return tinderboxAlive_; }
  bool tinderboxAppRunning() const { return tinderboxAppRunning_; }
  bool daemonStartupInProgress() const { return daemonStartupInProgress_; }
  bool daemonStartupFailed() const { return daemonStartupFailed_; }
  bool xpcAuthRejected() const { return xpcAuthRejected_; }
  bool shouldShowStartupState() const;

  // One immediate check, then one every poll interval.
  void startMonitoring();
  // Queues one check on the worker; returns at once.
  void checkHealth();

  // What a start came to, told once on the GUI thread after the startup flags: true when
  // a daemon started since the request came up (or its service runs), false when the start
  // failed and its alert was shown. A daemon that was already running does not count.
  using StartOutcome = std::function<void(bool started)>;

  // Service control (GUI thread).
  void startDaemon(StartOutcome outcome = {});
  void stopDaemon();
  void restartDaemon();
  bool isDaemonServiceRunning() { return services_.isDaemonServiceRunning(); }

  // The common error alert: the message reduced to one line; under a test host the line
  // "[HealthMonitor XCTest] <title>: <text>" goes to standard error instead.
  void showError(const std::string& title, const std::string& message);

 signals:
  void healthDataChanged();
  void daemonAliveChanged();
  void tinderboxAliveChanged();
  void tinderboxAppRunningChanged();
  void daemonStartupInProgressChanged();
  void daemonStartupFailedChanged();
  void xpcAuthRejectedChanged();

 private:
  void runCheck();  // worker thread
  std::optional<AppHealthData> fetchLiveHealth();  // worker thread
  void applyHealthState(std::optional<AppHealthData> health, bool daemonLive, bool tinderboxLive,
                        bool tinderboxAppRunning, bool isFresh);
  void applyFreshHealth(const AppHealthData& health, bool daemonLive, bool tinderboxLive);
  void applyStaleHealth();
  // Sets the flags on the GUI thread; a start's outcome follows them once it is known.
  void postStartupFlags(bool inProgress, bool failed, StartOutcome outcome = {});
  void postToGui(std::function<void()> block);
  void later(std::chrono::milliseconds delay, std::function<void()> block);
  bool runReporting(ServiceVerb verb, const std::string& failureTitle);
  // The start was asked for at `requestedAtMs` (milliseconds since 1970).
  void waitForDaemonStartupOrShowError(std::int64_t requestedAtMs, StartOutcome outcome);
  void poll(int attempt, std::int64_t requestedAtMs, StartOutcome outcome);
  bool daemonStartedSince(std::int64_t requestedAtMs) const;
  void workerLoop();

  template <typename T>
  void assign(T& field, const T& value, void (HealthMonitor::*changed)()) {
    if (field == value) return;
    field = value;
    emit(this->*changed)();
  }

  const AppContext& context_;
  ServiceManager& services_;
  AppInstaller& installer_;
  Options options_;
  std::chrono::steady_clock::time_point launchedAt_;

  std::optional<AppHealthData> healthData_;
  bool daemonAlive_ = false;
  bool tinderboxAlive_ = false;
  bool tinderboxAppRunning_ = false;
  bool daemonStartupInProgress_ = true;
  bool daemonStartupFailed_ = false;
  bool xpcAuthRejected_ = false;
  QTimer* timer_ = nullptr;

  std::mutex mutex_;
  std::condition_variable wake_;
  int pendingChecks_ = 0;
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace qd
