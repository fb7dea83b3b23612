#pragma once

// Runs the daemon's per-user service. Where a systemd user manager runs, through
// `systemctl --user` (looked up on PATH at every run); elsewhere a fallback starts the
// daemon itself as a detached process and finds it again through health.json. Which one
// is chosen once per application run (chooseServiceManager).
//
//   verb      systemd                     fallback
//   loaded    is-active: active,          health.json's daemonPid or the pid we started is
//             activating, deactivating,   alive and /proc/<pid>/exe is the unit's executable
//             reloading
//   running   is-active: active           as loaded
//   restart   restart                     stop, then start
//   stop      stop                        SIGTERM, SIGKILL after the grace period (35 s)
//   reload    daemon-reload               the installed unit reads back
//   start     start                       a detached start: own session, the unit's working
//                                         folder and environment over ours, outputs
//                                         appended to its log files, never a zombie
//
// Not thread-safe, except isDaemonServiceRunning(), which the health monitor's worker asks.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "app/program_run.h"
#include "daemon/runtime/unique_fd.h"

namespace qd {

enum class ServiceVerb { restart, stop, reload, start };

// One of the daemon's output files (its standard output or error), opened to append to as a
// private log file: its missing folders made 0700, the file made 0600 or narrowed to 0600.
// Invalid, with errno set, when the folder or the file cannot be made. The systemd user
// manager creates these files with its own umask, so the application makes them before it
// starts the service.
UniqueFd openDaemonOutputFile(const std::filesystem::path& path);

struct ServiceRun {
  ProgramRun run;
  std::string program;                 // what failure messages name ("systemctl")
  std::vector<std::string> arguments;  // the arguments they show
};

class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  virtual bool usesSystemd() const = 0;
  virtual bool isServiceLoaded() = 0;
  virtual bool isDaemonServiceRunning() = 0;
  // `silent`: the run's output is not wanted (systemctl writes to /dev/null).
  virtual ServiceRun run(ServiceVerb verb, bool silent) = 0;
  // Checks an installed unit; none when it is valid, else the installer's alert text.
  virtual std::optional<std::string> validateUnit(const std::filesystem::path& unitFile) = 0;
};

class SystemdUserServiceManager final : public ServiceManager {
 public:
  explicit SystemdUserServiceManager(platform::Environment env, std::chrono::milliseconds runLimit = programRunLimit)
      : env_(std::move(env)), runLimit_(runLimit) {}
  bool usesSystemd() const override { return true; }
  bool isServiceLoaded() override;
  bool isDaemonServiceRunning() override;
  ServiceRun run(ServiceVerb verb, bool silent) override;
  std::optional<std::string> validateUnit(const std::filesystem::path& unitFile) override;

 private:
  std::string activeState();
  platform::Environment env_;
  std::chrono::milliseconds runLimit_;
};

class DetachedServiceManager final : public ServiceManager {
 public:
  // How long a stop waits after SIGTERM: the daemon drains its queue for up to 30 s.
  static constexpr std::chrono::milliseconds defaultStopGrace{35000};

  explicit DetachedServiceManager(AppContext context, std::chrono::milliseconds stopGrace = defaultStopGrace)
      : context_(std::move(context)), stopGrace_(stopGrace) {}
  bool usesSystemd() const override { return false; }
  bool isServiceLoaded() override { return loadedPid().has_value(); }
  bool isDaemonServiceRunning() override { return loadedPid().has_value(); }
  ServiceRun run(ServiceVerb verb, bool silent) override;
  std::optional<std::string> validateUnit(const std::filesystem::path& unitFile) override;

  // The daemon's process when it runs (see the table above).
  std::optional<pid_t> loadedPid() const;

 private:
  ProgramRun stop();
  ProgramRun start();
  std::filesystem::path unitExecutable() const;

  AppContext context_;
  std::chrono::milliseconds stopGrace_;
  std::atomic<pid_t> startedPid_{0};
};

// systemd when `systemctl` is on PATH and `systemctl --user is-system-running` prints a
// state other than "offline" (degraded included); otherwise the fallback.
std::unique_ptr<ServiceManager> chooseServiceManager(const AppContext& context);

// The pid health.json names, when it is one (1..INT32_MAX).
std::optional<pid_t> healthFileDaemonPid(const std::filesystem::path& healthFile);

// Whether the process runs the program at `executable` (its /proc/<pid>/exe).
bool processRunsExecutable(pid_t pid, const std::filesystem::path& executable);

// Whether health.json names a live process whose executable is a QuarvelDorarovDaemon (of
// any installation, e.g. one started by hand).
bool healthFileNamesLiveDaemon(const std::filesystem::path& healthFile);

}  // namespace qd
