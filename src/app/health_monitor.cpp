#include "app/health_monitor.h"

#include <QMetaObject>
#include <QPointer>

#include <iostream>

#include "app/health_texts.h"
#include "daemon/admin/daemon_admin_api.h"
#include "daemon/admin/admin_protocol.h"

namespace qd {
namespace {

std::int64_t millisecondsSince1970(const Clock& clock) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(clock.wallNow().time_since_epoch()).count();
}

}  // namespace

HealthMonitor::HealthMonitor(const AppContext& context, ServiceManager& services, AppInstaller& installer,
                             Options options, QObject* parent)
    : QObject(parent),
      context_(context),
      services_(services),
      installer_(installer),
      options_(std::move(options)),
      launchedAt_(options_.clock->now()) {
  if (!options_.fetchHealth) {
    const std::string socket = DaemonAdminXPCProtocol::socketPathBeside(context_.configuration().socketPath());
    options_.fetchHealth = [socket] { return DaemonAdminAPI::request(socket, "app_get_health", std::nullopt); };
  }
  if (!options_.schedule) {
    options_.schedule = [this](std::chrono::milliseconds delay, std::function<void()> block) {
      QTimer::singleShot(delay, this, std::move(block));
    };
  }
  worker_ = std::thread([this] { workerLoop(); });
  if (options_.startPolling && !context_.isTestHost()) startMonitoring();
}

HealthMonitor::~HealthMonitor() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  worker_.join();  // a check in flight ends within the admin call's 8 s
}

bool HealthMonitor::shouldShowStartupState() const {
  return qd::shouldShowStartupState(daemonStartupInProgress_, daemonAlive_, daemonStartupFailed_,
                                    options_.clock->now() - launchedAt_);
}

void HealthMonitor::startMonitoring() {
  postToGui([this] { checkHealth(); });
  if (timer_) return;
  timer_ = new QTimer(this);
  connect(timer_, &QTimer::timeout, this, [this] { checkHealth(); });
  timer_->start(options_.pollInterval);
}

void HealthMonitor::checkHealth() {
  {
    std::lock_guard lock(mutex_);
    ++pendingChecks_;
  }
  wake_.notify_one();
}

void HealthMonitor::workerLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || pendingChecks_ > 0; });
    if (stopping_) return;
    --pendingChecks_;
    lock.unlock();
    runCheck();
    lock.lock();
  }
}

void HealthMonitor::postToGui(std::function<void()> block) {
  // Dropped by Qt when the monitor is gone before the event is delivered.
  QMetaObject::invokeMethod(this, std::move(block), Qt::QueuedConnection);
}

void HealthMonitor::later(std::chrono::milliseconds delay, std::function<void()> block) {
  // The scheduler may come from outside; a follow-up of a monitor that is gone does nothing.
  QPointer<HealthMonitor> self(this);
  options_.schedule(delay, [self, block = std::move(block)] {
    if (self) block();
  });
}

void HealthMonitor::runCheck() {
  const bool appRunning = options_.isTinderboxRunning ? options_.isTinderboxRunning() : false;
  std::optional<AppHealthData> record = fetchLiveHealth();
  if (!record) {
    postToGui([this, appRunning] { applyHealthState(std::nullopt, false, false, appRunning, false); });
    return;
  }
  const bool fresh = isHealthRecordFresh(record->lastUpdate, millisecondsSince1970(*options_.clock));
  const bool daemonLive = isRecordedProcessAlive(record->daemonPid);
  const bool tinderboxLive =
      record->tinderboxPid ? isRecordedProcessAlive(*record->tinderboxPid) : record->tinderboxConnected.value_or(false);
  postToGui([this, record, daemonLive, tinderboxLive, appRunning, fresh] {
    applyHealthState(record, daemonLive, tinderboxLive, appRunning, fresh);
  });
}

std::optional<AppHealthData> HealthMonitor::fetchLiveHealth() {
  try {
    std::optional<AppHealthData> record = AppHealthData::fromJson(options_.fetchHealth());
    if (!record) return std::nullopt;
    postToGui([this] { assign(xpcAuthRejected_, false, &HealthMonitor::xpcAuthRejectedChanged); });
    return record;
  } catch (const DaemonAdminAPIError& e) {
    if (e.code() != DaemonAdminAPIError::Code::connectionRejected) return std::nullopt;
    // Only a daemon that accepted the connection and closed it unanswered has refused us;
    // a connect that found nobody listening (a daemon still starting) is no rejection.
    const bool rejected =
        e.cause() == DaemonAdminAPIError::Cause::closedWithoutReply && services_.isDaemonServiceRunning();
    postToGui([this, rejected] { assign(xpcAuthRejected_, rejected, &HealthMonitor::xpcAuthRejectedChanged); });
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

void HealthMonitor::applyHealthState(std::optional<AppHealthData> health, bool daemonLive, bool tinderboxLive,
                                     bool appRunning, bool isFresh) {
  assign(tinderboxAppRunning_, appRunning, &HealthMonitor::tinderboxAppRunningChanged);
  if (!isFresh || !health) {
    applyStaleHealth();
    return;
  }
  applyFreshHealth(*health, daemonLive, tinderboxLive);
}

void HealthMonitor::applyFreshHealth(const AppHealthData& health, bool daemonLive, bool tinderboxLive) {
  assign(healthData_, std::optional<AppHealthData>(health), &HealthMonitor::healthDataChanged);
  assign(daemonAlive_, daemonLive, &HealthMonitor::daemonAliveChanged);
  assign(tinderboxAlive_, tinderboxLive, &HealthMonitor::tinderboxAliveChanged);
  if (!daemonLive) return;
  assign(daemonStartupInProgress_, false, &HealthMonitor::daemonStartupInProgressChanged);
  assign(daemonStartupFailed_, false, &HealthMonitor::daemonStartupFailedChanged);
  if (options_.maybeAutoLaunchTinderbox) options_.maybeAutoLaunchTinderbox();
}

void HealthMonitor::applyStaleHealth() {
  assign(healthData_, std::optional<AppHealthData>(), &HealthMonitor::healthDataChanged);
  assign(daemonAlive_, false, &HealthMonitor::daemonAliveChanged);
  assign(tinderboxAlive_, false, &HealthMonitor::tinderboxAliveChanged);
}

void HealthMonitor::postStartupFlags(bool inProgress, bool failed, StartOutcome outcome) {
  postToGui([this, inProgress, failed, outcome = std::move(outcome)] {
    assign(daemonStartupInProgress_, inProgress, &HealthMonitor::daemonStartupInProgressChanged);
    assign(daemonStartupFailed_, failed, &HealthMonitor::daemonStartupFailedChanged);
    if (outcome) outcome(!failed);
  });
}

void HealthMonitor::showError(const std::string& title, const std::string& message) {
  const std::string text = sanitizedUserMessage(message);
  if (context_.isTestHost() || !context_.alerts) {
    std::cerr << "[HealthMonitor XCTest] " << title << ": " << text << "\n" << std::flush;
    return;
  }
  postToGui([this, title, text] { context_.alerts->present(Alert{Alert::Style::warning, title, text}); });
}

// --- service control --------------------------------------------------------------------

void HealthMonitor::startDaemon(StartOutcome outcome) {
  const std::int64_t requestedAtMs = millisecondsSince1970(*options_.clock);
  postStartupFlags(true, false);
  if (!installer_.ensureLaunchdPlistIsCurrent()) {
    postStartupFlags(false, true, std::move(outcome));
    return;
  }
  // The stale clean-up: only when the service is not running and health.json names no
  // live daemon (one started by hand keeps its socket).
  const Configuration& configuration = context_.configuration();
  if (!services_.isServiceLoaded() && !healthFileNamesLiveDaemon(configuration.healthFilePath())) {
    for (const char* name : {"daemon.sock", "daemon.lock", "daemon.pid"}) {
      const auto path = configuration.appSupportDir() / name;
      std::error_code error;
      const auto status = std::filesystem::symlink_status(path, error);
      if (error || status.type() == std::filesystem::file_type::directory) continue;
      std::filesystem::remove(path, error);
    }
  }
  std::error_code error;
  if (!std::filesystem::exists(context_.installedUnitPath(), error)) {
    showError("Service Not Installed", "Install the service from the menu first, then try Start again.");
    postStartupFlags(false, true, std::move(outcome));
    return;
  }
  // The service manager neither creates the folder its output files go to nor keeps them
  // private: both are made here, before it opens them.
  (void)openDaemonOutputFile(configuration.logsDir() / "daemon.log");
  (void)openDaemonOutputFile(configuration.daemonErrorLogPath());

  if (services_.isServiceLoaded() && services_.run(ServiceVerb::restart, true).run.succeeded()) {
    waitForDaemonStartupOrShowError(requestedAtMs, std::move(outcome));
    return;
  }
  (void)services_.run(ServiceVerb::stop, true);
  if (services_.run(ServiceVerb::reload, true).run.succeeded()) {
    if (runReporting(ServiceVerb::start, "Failed to Start Service")) {
      waitForDaemonStartupOrShowError(requestedAtMs, std::move(outcome));
    } else {
      postStartupFlags(false, true, std::move(outcome));
    }
    return;
  }
  (void)runReporting(ServiceVerb::reload, "Failed to Start Service");
  postStartupFlags(false, true, std::move(outcome));
}

void HealthMonitor::stopDaemon() {
  postStartupFlags(false, false);
  (void)runReporting(ServiceVerb::stop, "Failed to Stop Service");
}

void HealthMonitor::restartDaemon() {
  const std::int64_t requestedAtMs = millisecondsSince1970(*options_.clock);
  postStartupFlags(true, false);
  if (!services_.isServiceLoaded()) {
    startDaemon();
    return;
  }
  if (runReporting(ServiceVerb::restart, "Failed to Restart Service")) {
    waitForDaemonStartupOrShowError(requestedAtMs, {});
  } else {
    postStartupFlags(false, true);
  }
}

bool HealthMonitor::runReporting(ServiceVerb verb, const std::string& failureTitle) {
  const ServiceRun result = services_.run(verb, false);
  if (result.run.succeeded()) {
    later(recheckAfterRun, [this] { checkHealth(); });
    return true;
  }
  if (result.run.launchError) {
    showError(failureTitle, *result.run.launchError);
  } else if (result.run.timedOut) {
    std::string command = result.program;
    for (const std::string& argument : result.arguments) command += " " + argument;
    showError(failureTitle, result.program + " did not finish in time and was stopped.\n\nCommand: " + command);
  } else {
    showError(failureTitle, serviceRunFailureMessage(result.program, result.run.status, result.arguments,
                                                     result.run.standardError, result.run.standardOutput));
  }
  return false;
}

void HealthMonitor::waitForDaemonStartupOrShowError(std::int64_t requestedAtMs, StartOutcome outcome) {
  later(startupWaitInterval,
        [this, requestedAtMs, outcome = std::move(outcome)] { poll(1, requestedAtMs, outcome); });
}

bool HealthMonitor::daemonStartedSince(std::int64_t requestedAtMs) const {
  // A daemon that was running before the start (one started by hand, whose presence makes
  // the service's own daemon exit) says nothing of the start: only a live daemon whose
  // record dates its start after the request counts. The uptime is whole seconds rounded
  // down, so the start it gives is never earlier than the real one.
  return daemonAlive_ && healthData_ && healthData_->lastUpdate - healthData_->uptime * 1000 >= requestedAtMs;
}

void HealthMonitor::poll(int attempt, std::int64_t requestedAtMs, StartOutcome outcome) {
  checkHealth();  // publishes later: this poll sees an earlier check's answer
  if (daemonStartedSince(requestedAtMs) || services_.isDaemonServiceRunning()) {
    postStartupFlags(false, false, std::move(outcome));
    return;
  }
  if (attempt < startupWaitChecks) {
    later(startupWaitInterval, [this, attempt, requestedAtMs, outcome = std::move(outcome)] {
      poll(attempt + 1, requestedAtMs, outcome);
    });
    return;
  }
  const Configuration& configuration = context_.configuration();
  showError("Service Did Not Stay Running",
            daemonStartupFailureSummary(installer_.installedDaemonExecutablePath(), configuration.daemonErrorLogPath()));
  postStartupFlags(false, true, std::move(outcome));
}

}  // namespace qd
