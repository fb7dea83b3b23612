#pragma once

// "Email Diagnostics..." and "View Logs". The diagnostics summary (paths, service state,
// the health monitor's view and the last 20 lines of the two daemon logs) is shown for
// confirmation, written to a private file (mode 0600 in $XDG_RUNTIME_DIR, else in a 0700
// folder of ours: in a shared temporary folder others could read its log lines or block
// the write) and handed to the desktop's mail composer with xdg-email. xdg-email is
// watched on a thread of its own; when it is missing, cannot start or exits non-zero
// there is no composer, and the user is told so and gets the logs folder instead.

#include <QObject>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/app_context.h"
#include "app/app_installer.h"
#include "app/health_monitor.h"
#include "app/service_manager.h"

namespace qd {

class Diagnostics : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* fileName = "quarvel-toolbox-diagnostics.txt";
  static constexpr const char* subject = "Quarvel Dorarov diagnostics";
  static constexpr const char* confirmTitle = "Send Diagnostics?";
  static constexpr const char* preface =
      "The following information will be included in the email:\n\n"
      "• App version and paths (your username will be visible)\n"
      "• Last 20 lines of daemon.log\n"
      "• Last 20 lines of daemon-error.log\n\n"
      "Note: Log lines may include note names or paths from recent Tinderbox operations. Review the content below "
      "before sending.\n\n";
  static constexpr const char* unavailableTitle = "Email Diagnostics Unavailable";
  static constexpr const char* unavailableText =
      "Mail composition is not available on this computer. The logs folder will be opened instead.";

  struct Options {
    // The confirmation with the preface and summary as its text; true for "Send Email".
    // Required.
    std::function<bool(const std::string& informativeText)> confirm;
    // Shows a folder. Default: xdg-open from the environment's PATH.
    std::function<void(const std::filesystem::path&)> openFolder;
    // The recipient. Default: the build's support address (QD_SUPPORT_EMAIL).
    std::string supportAddress;
  };

  Diagnostics(const AppContext& context, HealthMonitor& monitor, ServiceManager& services, AppInstaller& installer,
              Options options, QObject* parent = nullptr);
  // Leaves a composer still running to a background reaper.
  ~Diagnostics() override;

  static std::string buildSupportAddress();

  void emailDiagnostics();
  void openLogsDirectory();

  std::string diagnosticsSummary();
  // $XDG_RUNTIME_DIR when it is a folder only we can enter, else <app support>/diagnostics
  // made 0700. None when neither can be had.
  std::optional<std::filesystem::path> privateFolder() const;
  std::optional<std::filesystem::path> writeDiagnosticsSummaryFile(const std::string& content);

 signals:
  // xdg-email's outcome, on the GUI thread: whether a composer took the file.
  void composerFinished(bool opened);

 private:
  void watchComposer(std::vector<std::string> arguments);
  void composerUnavailable();

  const AppContext& context_;
  HealthMonitor& monitor_;
  ServiceManager& services_;
  AppInstaller& installer_;
  Options options_;
  std::atomic<bool> stopping_{false};
  // One per send; each ends within 200 ms of our destruction.
  std::vector<std::thread> watchers_;
};

}  // namespace qd
