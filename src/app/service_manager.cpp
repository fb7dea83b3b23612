#include "app/service_manager.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <thread>

#include "app/service_unit.h"
#include "daemon/logging/log_file.h"
#include "daemon/runtime/text_trim.h"
#include "daemon/utilities/atomic_file.h"
#include "daemon/utilities/json.h"
#include "daemon/utilities/unicode_text.h"

extern char** environ;

namespace qd {
namespace {

std::vector<std::string> systemctlArguments(ServiceVerb verb) {
  switch (verb) {
    case ServiceVerb::restart: return {"--user", "restart", serviceUnitName};
    case ServiceVerb::stop: return {"--user", "stop", serviceUnitName};
    case ServiceVerb::reload: return {"--user", "daemon-reload"};
    case ServiceVerb::start: return {"--user", "start", serviceUnitName};
  }
  return {};
}

std::string trimmedOutput(const std::string& text) {
  return trimWhitespaceAndNewlines(unicode::isValidUtf8(text) ? text : std::string());
}

ProgramRun failedRun(std::string why) {
  ProgramRun run;
  run.launchError = std::move(why);
  return run;
}

ProgramRun succeededRun() {
  ProgramRun run;
  run.status = 0;
  return run;
}


// Starts the daemon in a session of its own, so it outlives the application's terminal
// and process group, and reaps it on a thread of its own, so it never lingers as a zombie
// while the application runs. Only the standard three descriptors are passed on.
pid_t spawnDetached(const std::string& executable, const std::vector<std::string>& arguments,
                    const std::string& workingDirectory, const std::map<std::string, std::string>& overlay,
                    const std::filesystem::path& outputLog, const std::filesystem::path& errorLog) {
  const UniqueFd output = openDaemonOutputFile(outputLog);
  if (!output) throw std::runtime_error(outputLog.string() + ": " + std::strerror(errno));
  const UniqueFd error = openDaemonOutputFile(errorLog);
  if (!error) throw std::runtime_error(errorLog.string() + ": " + std::strerror(errno));
  std::map<std::string, std::string> environment;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    const auto equals = text.find('=');
    if (equals != std::string::npos) environment[text.substr(0, equals)] = text.substr(equals + 1);
  }
  for (const auto& [name, value] : overlay) environment[name] = value;
  std::vector<std::string> envText;
  for (const auto& [name, value] : environment) envText.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& e : envText) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> argvText{executable};
  argvText.insert(argvText.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& a : argvText) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawnattr_init(&attributes);
  ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  // dup2 clears close-on-exec on the child's copies only.
  ::posix_spawn_file_actions_adddup2(&actions, output.get(), STDOUT_FILENO);
  ::posix_spawn_file_actions_adddup2(&actions, error.get(), STDERR_FILENO);
  if (!workingDirectory.empty()) ::posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
  ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  sigset_t empty, all;
  sigemptyset(&empty);
  sigfillset(&all);
  ::posix_spawnattr_setsigmask(&attributes, &empty);
  ::posix_spawnattr_setsigdefault(&attributes, &all);
  ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, executable.c_str(), &actions, &attributes, argv.data(), envp.data());
  ::posix_spawn_file_actions_destroy(&actions);
  ::posix_spawnattr_destroy(&attributes);
  if (rc != 0) throw std::runtime_error(std::strerror(rc));
  std::thread([pid] {
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return pid;
}

}  // namespace

UniqueFd openDaemonOutputFile(const std::filesystem::path& path) { return UniqueFd(openLogFileCreatingFolder(path)); }

std::optional<pid_t> healthFileDaemonPid(const std::filesystem::path& healthFile) {
  try {
    const auto text = readFileIfPresent(healthFile);
    if (!text) return std::nullopt;
    const Json value = parseJson(*text);
    if (!value.is_object()) return std::nullopt;
    const auto pid = value.find("daemonPid");
    if (pid == value.end() || !pid->is_number_integer()) return std::nullopt;
    if (pid->is_number_unsigned()) {
      const auto v = pid->get<std::uint64_t>();
      if (v < 1 || v > INT32_MAX) return std::nullopt;
      return static_cast<pid_t>(v);
    }
    const auto v = pid->get<std::int64_t>();
    if (v < 1 || v > INT32_MAX) return std::nullopt;
    return static_cast<pid_t>(v);
  } catch (const Error&) {
    return std::nullopt;
  }
}

bool processRunsExecutable(pid_t pid, const std::filesystem::path& executable) {
  if (pid <= 0) return false;
  std::error_code error;
  const auto running = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
  if (error) return false;  // gone, a zombie, or not ours to look at
  const auto wanted = std::filesystem::weakly_canonical(executable, error);
  return !error && running == wanted;
}

bool healthFileNamesLiveDaemon(const std::filesystem::path& healthFile) {
  const auto pid = healthFileDaemonPid(healthFile);
  if (!pid) return false;
  std::error_code error;
  const auto running = std::filesystem::read_symlink("/proc/" + std::to_string(*pid) + "/exe", error);
  return !error && running.filename() == Configuration::daemonExecutableName;
}

// --- systemd ---------------------------------------------------------------------------

std::string SystemdUserServiceManager::activeState() {
  // is-active exits non-zero for every state but "active"; the state it prints decides.
  const ProgramRun run = runProgram("systemctl", {"--user", "is-active", serviceUnitName}, env_, true, runLimit_);
  if (run.launchError || run.timedOut) return {};
  return trimmedOutput(run.standardOutput);
}

bool SystemdUserServiceManager::isServiceLoaded() {
  const std::string state = activeState();
  return state == "active" || state == "activating" || state == "deactivating" || state == "reloading";
}

bool SystemdUserServiceManager::isDaemonServiceRunning() { return activeState() == "active"; }

ServiceRun SystemdUserServiceManager::run(ServiceVerb verb, bool silent) {
  ServiceRun result{{}, "systemctl", systemctlArguments(verb)};
  result.run = runProgram("systemctl", result.arguments, env_, !silent, runLimit_);
  return result;
}

std::optional<std::string> SystemdUserServiceManager::validateUnit(const std::filesystem::path& unitFile) {
  const ProgramRun run = runProgram("systemd-analyze", {"--user", "verify", unitFile.string()}, env_, true, runLimit_);
  if (run.launchError) return "Failed to validate service unit:\n" + *run.launchError;
  if (!run.succeeded()) return "Generated service unit is invalid:\n" + unitFile.string();
  return std::nullopt;
}

// --- fallback --------------------------------------------------------------------------

std::filesystem::path DetachedServiceManager::unitExecutable() const {
  if (auto unit = readServiceUnitFile(context_.installedUnitPath())) return unit->execStart.front();
  return context_.daemonExecutable().value_or(std::filesystem::path());
}

std::optional<pid_t> DetachedServiceManager::loadedPid() const {
  const std::filesystem::path executable = unitExecutable();
  if (executable.empty()) return std::nullopt;
  if (auto pid = healthFileDaemonPid(context_.configuration().healthFilePath());
      pid && processRunsExecutable(*pid, executable)) {
    return pid;
  }
  if (const pid_t started = startedPid_.load(); started > 0 && processRunsExecutable(started, executable)) {
    return started;
  }
  return std::nullopt;
}

ServiceRun DetachedServiceManager::run(ServiceVerb verb, bool /*silent*/) {
  ServiceRun result{{}, "", {}};
  switch (verb) {
    case ServiceVerb::stop: result.run = stop(); break;
    case ServiceVerb::start: result.run = start(); break;
    case ServiceVerb::restart:
      result.run = stop();
      if (result.run.succeeded()) result.run = start();
      break;
    case ServiceVerb::reload:
      result.run = readServiceUnitFile(context_.installedUnitPath())
                       ? succeededRun()
                       : failedRun("The service unit at " + context_.installedUnitPath().string() + " cannot be read.");
      break;
  }
  return result;
}

ProgramRun DetachedServiceManager::stop() {
  const std::filesystem::path executable = unitExecutable();
  const auto pid = loadedPid();
  if (!pid) return succeededRun();  // as systemctl: stopping a stopped service succeeds
  // Gone means the pid is free: a daemon that has exited but is not reaped yet still
  // counts, since a new daemon would take it for one still running and refuse to start.
  const auto gone = [&] {
    if (::kill(*pid, 0) != 0) return errno == ESRCH;
    std::error_code error;
    const auto running = std::filesystem::read_symlink("/proc/" + std::to_string(*pid) + "/exe", error);
    return !error && running != std::filesystem::weakly_canonical(executable, error);  // the pid was reused
  };
  const auto waitGone = [&](std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!gone()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  };
  ::kill(*pid, SIGTERM);
  if (waitGone(stopGrace_)) return succeededRun();
  ::kill(*pid, SIGKILL);
  if (waitGone(std::chrono::seconds(5))) return succeededRun();
  return failedRun("The daemon (process " + std::to_string(*pid) + ") did not stop.");
}

ProgramRun DetachedServiceManager::start() {
  if (loadedPid()) return succeededRun();  // as systemctl: starting a running service does nothing
  const auto unit = readServiceUnitFile(context_.installedUnitPath());
  if (!unit) return failedRun("The service unit at " + context_.installedUnitPath().string() + " cannot be read.");
  const Configuration& configuration = context_.configuration();
  const std::string outputLog = unit->standardOutput.value_or((configuration.logsDir() / "daemon.log").string());
  const std::string errorLog = unit->standardError.value_or(configuration.daemonErrorLogPath());
  try {
    const std::vector<std::string> arguments(unit->execStart.begin() + 1, unit->execStart.end());
    startedPid_ = spawnDetached(unit->execStart.front(), arguments, unit->workingDirectory.value_or(""),
                                unit->environment, outputLog, errorLog);
  } catch (const std::exception& e) {
    return failedRun("The daemon " + unit->execStart.front() + " could not be started: " + e.what());
  }
  return succeededRun();
}

std::optional<std::string> DetachedServiceManager::validateUnit(const std::filesystem::path& unitFile) {
  if (readServiceUnitFile(unitFile)) return std::nullopt;
  return "Generated service unit is invalid:\n" + unitFile.string();
}

std::unique_ptr<ServiceManager> chooseServiceManager(const AppContext& context) {
  const ProgramRun state = runProgram("systemctl", {"--user", "is-system-running"}, context.environment, true);
  const std::string text = state.launchError || state.timedOut ? std::string() : trimmedOutput(state.standardOutput);
  if (text.empty() || text == "offline") return std::make_unique<DetachedServiceManager>(context);
  return std::make_unique<SystemdUserServiceManager>(context.environment);
}

}  // namespace qd
