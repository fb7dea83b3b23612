#pragma once

// The one way the system starts programs. A child is spawned with posix_spawn into its own
// process group, with default signal dispositions and an empty signal mask, and with every
// descriptor but its standard three closed; our pipe ends are close-on-exec. Its exit is
// watched through a pidfd, so waiting never races a reused pid, and every child is reaped:
// by its owner, or at the latest by the destructor, which kills the group first.

#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "daemon/runtime/unique_fd.h"
#include "daemon/utilities/error.h"

namespace qd {

class ChildProcessError : public Error {
 public:
  enum class Kind { launchFailed };
  ChildProcessError(Kind kind, int errorNumber, std::string description)
      : Error(std::move(description)), kind_(kind), errorNumber_(errorNumber) {}
  // A program looked up by name on PATH and not found there: "Could not start <name>: not
  // found on PATH", so the user learns which program to install.
  static ChildProcessError notOnPath(const std::string& program);
  Kind kind() const { return kind_; }
  int errorNumber() const { return errorNumber_; }

 private:
  Kind kind_;
  int errorNumber_;
};

struct ExitStatus {
  bool signaled = false;
  int code = 0;  // the exit status, or the signal number when signaled
  bool success() const { return !signaled && code == 0; }
  bool operator==(const ExitStatus&) const = default;
};

enum class StdioMode { pipe, inherit, null };

struct SpawnOptions {
  std::string executable;               // a path; PATH is not searched
  std::vector<std::string> arguments;   // without argv[0], which is the executable
  // Entries laid over the program's current environment; absent: inherit it unchanged.
  std::optional<std::map<std::string, std::string>> environmentOverlay;
  StdioMode stdinMode = StdioMode::pipe;
  StdioMode stdoutMode = StdioMode::pipe;
  StdioMode stderrMode = StdioMode::pipe;
  // A signal the kernel sends the child when the thread that spawned it ends (the daemon
  // killed by SIGKILL included), so a server that does not stop at the end of its input
  // cannot outlive us. It reaches the direct child only: a wrapper script must exec its
  // server. Spawn such children from the io thread, whose end is the process's end.
  std::optional<int> parentDeathSignal;
};

inline SpawnOptions spawnOptions(std::string executable, std::vector<std::string> arguments = {}) {
  SpawnOptions options;
  options.executable = std::move(executable);
  options.arguments = std::move(arguments);
  return options;
}

class ChildProcess {
 public:
  // Throws ChildProcessError when the program cannot be started (missing, not executable):
  // its description names the program, "Could not start <executable>: <the system's text>".
  // A program path, argument or overlay entry that holds a NUL byte is refused before
  // anything starts ("argument contains a NUL byte", "program path ...", "environment
  // entry ...").
  static std::unique_ptr<ChildProcess> spawn(const SpawnOptions& options);

  // Kills the group and reaps the child when its owner has not.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  int pidfd() const { return pidfd_.get(); }

  // Our ends of the pipes asked for (write end of stdin, read ends of stdout and stderr).
  UniqueFd takeStdin() { return std::move(stdin_); }
  UniqueFd takeStdout() { return std::move(stdout_); }
  UniqueFd takeStderr() { return std::move(stderr_); }

  // Whether the child has ended (reaped or not); never blocks.
  bool hasExited() const;
  // Blocks up to `limit` for the child to end; true when it has.
  bool waitForExit(std::chrono::milliseconds limit) const;
  // Reaps the child if it has ended; never blocks.
  std::optional<ExitStatus> reapIfExited();
  // Reaps the child, waiting for it to end. Returns the stored status once reaped.
  ExitStatus reap();
  std::optional<ExitStatus> exitStatus() const { return status_; }

  // Sends the signal to the child and to its whole process group. Does nothing once the
  // child is reaped (its pid and group id may then belong to someone else).
  void signalGroup(int signal);

 private:
  ChildProcess() = default;

  pid_t pid_ = -1;
  UniqueFd pidfd_;
  UniqueFd stdin_, stdout_, stderr_;
  std::optional<ExitStatus> status_;
};

// Reaps the child on a thread of its own: for owners that cannot wait (a child that was
// killed but has not ended yet).
void reapInBackground(std::unique_ptr<ChildProcess> child);

}  // namespace qd
