#pragma once

// Opening, quitting and restarting the note app through the daemon. On Linux the note app
// is the MCP server the daemon runs, so every action is a run of the daemon executable
// beside the application in one of its control modes. Runs happen one at a time on a
// worker thread of their own (a run may take up to its limit), and their outcome comes
// back on the GUI thread: a failure as the health monitor's error alert, a success as a
// health check 2 s later.
//
// The automatic launch asks the daemon once per application run to start the note app
// when a fresh record shows a live daemon without it; it is skipped while a note app runs
// (and then not counted), and when the daemon has no server to run: TINDERBOX_DISABLE=1,
// or the configured server is not an executable file.

#include <QObject>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "app/app_context.h"
#include "app/daemon_helper.h"
#include "app/health_monitor.h"

namespace qd {

class TinderboxControl : public QObject {
  Q_OBJECT

 public:
  struct Options {
    // Runs a follow-up on the GUI thread after a delay. Default: a single-shot QTimer.
    HealthMonitor::Scheduler schedule;
    std::chrono::milliseconds runLimit = daemonHelperRunLimit;
    std::chrono::milliseconds retryPause{350};
    // Whether a note app runs (worker thread). Default: this user's processes in /proc.
    std::function<bool()> isTinderboxRunning;
  };

  static constexpr std::chrono::milliseconds launchPollInterval{750};
  static constexpr int launchPollChecks = 10;

  static constexpr const char* startArgument = "--start-tinderbox";
  static constexpr const char* stopArgument = "--stop-tinderbox";
  static constexpr const char* restartArgument = "--restart-tinderbox";
  static constexpr const char* openFailureTitle = "Failed to Open Tinderbox";
  static constexpr const char* connectFailureTitle = "Failed to Connect Tinderbox";
  static constexpr const char* restartFailureTitle = "Failed to Restart Tinderbox";
  static constexpr const char* quitFailureTitle = "Failed to Quit Tinderbox";

  TinderboxControl(const AppContext& context, HealthMonitor& monitor, Options options, QObject* parent = nullptr);
  // Waits for a run in flight (at most its limit).
  ~TinderboxControl() override;

  // "Open Tinderbox": a health check only when a note app already runs; otherwise the
  // daemon starts its server, then up to 10 checks 0.75 s apart until it shows.
  void startTinderbox();
  // "Restart Tinderbox", "Quit Tinderbox", "Connect Tinderbox".
  void runDaemonHelper(const std::string& argument, const std::string& failureTitle);
  // After each fresh record with a live daemon (the health monitor's seam).
  void maybeAutoLaunchTinderbox();

  bool autoLaunchAttempted() const { return autoLaunchAttempted_; }
  // Whether the daemon has a note-app server to run (TINDERBOX_DISABLE, TINDERBOX_MCP_PATH).
  bool daemonHasNoteAppServer() const;
  // The programs that are never a note app: the application, the daemon beside it, and
  // this very program.
  static std::vector<std::filesystem::path> ownExecutablesOf(const AppContext& context);

 signals:
  // After each run, on the GUI thread (tests wait for it).
  void helperRunFinished(bool succeeded);

 private:
  enum class AfterSuccess { recheck, pollForNoteApp };
  void enqueue(std::function<void()> job);
  void runJob(std::string argument, std::string failureTitle, AfterSuccess after);  // worker thread
  void finishRun(bool succeeded, const std::string& failureTitle, const std::string& message, AfterSuccess after);
  void pollAfterLaunch(int attempt);
  void workerLoop();

  const AppContext& context_;
  HealthMonitor& monitor_;
  Options options_;
  bool autoLaunchAttempted_ = false;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace qd
