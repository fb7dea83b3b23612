#include "app/tinderbox_control.h"

#include <unistd.h>

#include <QMetaObject>
#include <QPointer>
#include <QTimer>

#include "app/note_app_detection.h"

namespace qd {

TinderboxControl::TinderboxControl(const AppContext& context, HealthMonitor& monitor, Options options,
                                   QObject* parent)
    : QObject(parent), context_(context), monitor_(monitor), options_(std::move(options)) {
  if (!options_.schedule) {
    options_.schedule = [this](std::chrono::milliseconds delay, std::function<void()> block) {
      QTimer::singleShot(delay, this, std::move(block));
    };
  }
  if (!options_.isTinderboxRunning) {
    options_.isTinderboxRunning = [own = ownExecutablesOf(context_)] { return isNoteAppRunning(own); };
  }
  worker_ = std::thread([this] { workerLoop(); });
}

TinderboxControl::~TinderboxControl() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    jobs_.clear();
  }
  wake_.notify_all();
  worker_.join();
}

std::vector<std::filesystem::path> TinderboxControl::ownExecutablesOf(const AppContext& context) {
  std::vector<std::filesystem::path> own;
  if (context.binFolder) own.push_back(*context.binFolder / "QuarvelDorarov");
  if (auto daemon = context.daemonExecutable()) own.push_back(*daemon);
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) own.push_back(self);
  return own;
}

bool TinderboxControl::daemonHasNoteAppServer() const {
  const Configuration& configuration = context_.configuration();
  if (configuration.disableTinderbox()) return false;
  const std::string server = configuration.tinderboxMCPPath();
  std::error_code error;
  return std::filesystem::is_regular_file(server, error) && ::access(server.c_str(), X_OK) == 0;
}

void TinderboxControl::enqueue(std::function<void()> job) {
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  wake_.notify_one();
}

void TinderboxControl::workerLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
    if (stopping_) return;
    auto job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    job();
    lock.lock();
  }
}

void TinderboxControl::startTinderbox() {
  enqueue([this] {
    if (options_.isTinderboxRunning()) {
      QMetaObject::invokeMethod(this, [this] { monitor_.checkHealth(); }, Qt::QueuedConnection);
      return;
    }
    runJob(startArgument, openFailureTitle, AfterSuccess::pollForNoteApp);
  });
}

void TinderboxControl::runDaemonHelper(const std::string& argument, const std::string& failureTitle) {
  enqueue([this, argument, failureTitle] { runJob(argument, failureTitle, AfterSuccess::recheck); });
}

void TinderboxControl::runJob(std::string argument, std::string failureTitle, AfterSuccess after) {
  const auto report = [&](bool succeeded, std::string message) {
    QMetaObject::invokeMethod(
        this, [this, succeeded, failureTitle, message, after] { finishRun(succeeded, failureTitle, message, after); },
        Qt::QueuedConnection);
  };
  if (!context_.binFolder) return report(false, "Could not find installation resources.");
  const std::filesystem::path daemon = *context_.daemonExecutable();
  std::error_code error;
  if (!std::filesystem::is_regular_file(daemon, error) || ::access(daemon.c_str(), X_OK) != 0) {
    return report(false, "Daemon helper not found in installation.");
  }
  DaemonHelperRun run = runDaemonHelperOnce(daemon, argument, context_.environment, options_.runLimit);
  if (!run.timedOut && run.status != 0 && isClosedConnectionOutput(run.combinedOutput)) {
    std::this_thread::sleep_for(options_.retryPause);
    run = runDaemonHelperOnce(daemon, argument, context_.environment, options_.runLimit);
  }
  if (run.timedOut) return report(false, helperTimedOutMessage(options_.runLimit));
  if (run.status == 0) return report(true, {});
  report(false, sanitizedHelperErrorMessage(run.combinedOutput, run.status));
}

void TinderboxControl::finishRun(bool succeeded, const std::string& failureTitle, const std::string& message,
                                 AfterSuccess after) {
  if (succeeded) {
    QPointer<HealthMonitor> monitor(&monitor_);
    options_.schedule(HealthMonitor::recheckAfterRun, [monitor] {
      if (monitor) monitor->checkHealth();
    });
    if (after == AfterSuccess::pollForNoteApp) {
      QPointer<TinderboxControl> self(this);
      options_.schedule(launchPollInterval, [self] {
        if (self) self->pollAfterLaunch(1);
      });
    }
  } else {
    monitor_.showError(failureTitle, message);
  }
  emit helperRunFinished(succeeded);
}

void TinderboxControl::pollAfterLaunch(int attempt) {
  monitor_.checkHealth();  // publishes later: this poll reads an earlier check's answer
  if (monitor_.tinderboxAlive() || attempt >= launchPollChecks) return;
  QPointer<TinderboxControl> self(this);
  options_.schedule(launchPollInterval, [self, attempt] {
    if (self) self->pollAfterLaunch(attempt + 1);
  });
}

void TinderboxControl::maybeAutoLaunchTinderbox() {
  if (context_.isTestHost() || !monitor_.daemonAlive() || monitor_.tinderboxAlive() || autoLaunchAttempted_) return;
  if (!daemonHasNoteAppServer()) return;
  // The same check published this a moment ago from the worker's process walk.
  if (monitor_.tinderboxAppRunning()) return;
  autoLaunchAttempted_ = true;
  runDaemonHelper(startArgument, connectFailureTitle);
}

}  // namespace qd
