#include "daemon/runtime/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <linux/close_range.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

#include "daemon/runtime/process_signals.h"

extern char** environ;

namespace qd {
namespace {

// glibc 2.36's <sys/pidfd.h> lacks C++ linkage guards; the raw system calls need none.
int pidfdOpen(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }
int pidfdSendSignal(int pidfd, int signal) {
  return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0));
}

struct Pipe {
  UniqueFd read, write;
};

// The user reads this (a note-app server path that does not exist, a job's program): it
// names the program as it was given.
ChildProcessError startFailed(const std::string& executable, int err) {
  return ChildProcessError(ChildProcessError::Kind::launchFailed, err,
                           "Could not start " + executable + ": " + std::strerror(err));
}

Pipe makePipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    const int err = errno;
    throw ChildProcessError(ChildProcessError::Kind::launchFailed, err, std::strerror(err));
  }
  return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

std::vector<std::string> buildEnvironment(const std::map<std::string, std::string>& overlay) {
  std::map<std::string, std::string> merged;
  for (char** entry = environ; entry && *entry; ++entry) {
    std::string_view text(*entry);
    const auto eq = text.find('=');
    if (eq == std::string_view::npos) continue;
    merged.emplace(std::string(text.substr(0, eq)), std::string(text.substr(eq + 1)));
  }
  for (const auto& [name, value] : overlay) merged[name] = value;
  std::vector<std::string> out;
  out.reserve(merged.size());
  for (const auto& [name, value] : merged) out.push_back(name + "=" + value);
  return out;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  out.reserve(strings.size() + 1);
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

class FileActions {
 public:
  FileActions() { ::posix_spawn_file_actions_init(&actions_); }
  ~FileActions() { ::posix_spawn_file_actions_destroy(&actions_); }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
 public:
  SpawnAttributes() { ::posix_spawnattr_init(&attributes_); }
  ~SpawnAttributes() { ::posix_spawnattr_destroy(&attributes_); }
  posix_spawnattr_t* get() { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
};

ExitStatus decode(int status) {
  if (WIFSIGNALED(status)) return {true, WTERMSIG(status)};
  return {false, WEXITSTATUS(status)};
}

// posix_spawn has no hook for prctl(PR_SET_PDEATHSIG), so a child that asks for a parent-death
// signal is started by fork and exec. Between the two only async-signal-safe calls run:
// everything is prepared before the fork. An exec failure travels back as errno through a
// close-on-exec pipe, so the caller sees the same error as from posix_spawn.
struct ForkPlan {
  int stdinFd = -1, stdoutFd = -1, stderrFd = -1;  // -1: inherit
  bool stdinNull = false, stdoutNull = false, stderrNull = false;
  int deathSignal = SIGTERM;
  pid_t parent = 0;
};

[[noreturn]] void runForkedChild(const ForkPlan& plan, const char* path, char* const* argv, char* const* envp,
                                 int errorPipe) {
  const auto fail = [errorPipe](int err) {
    while (::write(errorPipe, &err, sizeof err) < 0 && errno == EINTR) {
    }
    ::_exit(127);
  };
  if (::prctl(PR_SET_PDEATHSIG, plan.deathSignal) != 0) fail(errno);
  // The parent may have ended before the prctl took effect: then nobody sends the signal.
  if (::getppid() != plan.parent) ::_exit(127);
  if (::setpgid(0, 0) != 0) fail(errno);
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  for (int signal = 1; signal < NSIG; ++signal) ::sigaction(signal, &defaults, nullptr);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  const auto place = [&](int fd, bool null, int target, int flags) {
    if (null) {
      const int opened = ::open("/dev/null", flags | O_CLOEXEC);
      if (opened < 0) fail(errno);
      fd = opened;
    }
    if (fd >= 0 && ::dup2(fd, target) < 0) fail(errno);
  };
  place(plan.stdinFd, plan.stdinNull, STDIN_FILENO, O_RDONLY);
  place(plan.stdoutFd, plan.stdoutNull, STDOUT_FILENO, O_WRONLY);
  place(plan.stderrFd, plan.stderrNull, STDERR_FILENO, O_WRONLY);
  // Descriptors that other code opened without close-on-exec must not leak into the child;
  // marked rather than closed, so the error pipe still works until the exec.
  ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
  ::execve(path, argv, envp);
  fail(errno);
  ::_exit(127);
}

pid_t forkAndExec(const ForkPlan& plan, const char* path, char* const* argv, char* const* envp) {
  int errorPipe[2];
  if (::pipe2(errorPipe, O_CLOEXEC) != 0) return -errno;
  const pid_t pid = ::fork();
  if (pid < 0) {
    const int err = errno;
    ::close(errorPipe[0]);
    ::close(errorPipe[1]);
    return -err;
  }
  if (pid == 0) {
    ::close(errorPipe[0]);
    runForkedChild(plan, path, argv, envp, errorPipe[1]);
  }
  ::close(errorPipe[1]);
  int childError = 0;
  ssize_t n;
  while ((n = ::read(errorPipe[0], &childError, sizeof childError)) < 0 && errno == EINTR) {
  }
  ::close(errorPipe[0]);
  if (n == static_cast<ssize_t>(sizeof childError)) {
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return -childError;
  }
  return pid;
}

// The program gets its arguments and environment as C strings, which end at the first NUL:
// an argument holding one would arrive cut short, and a script line cut inside a quoted
// literal leaves the rest of the script, text a caller may control, outside the quotes.
// Such a run is refused before anything is created.
void refuseNulBytes(const SpawnOptions& options) {
  const auto holdsNul = [](const std::string& text) { return text.find('\0') != std::string::npos; };
  const auto refuse = [](const char* what) {
    throw ChildProcessError(ChildProcessError::Kind::launchFailed, EINVAL, std::string(what) + " contains a NUL byte");
  };
  if (holdsNul(options.executable)) refuse("program path");
  for (const std::string& argument : options.arguments) {
    if (holdsNul(argument)) refuse("argument");
  }
  if (!options.environmentOverlay) return;
  for (const auto& [name, value] : *options.environmentOverlay) {
    if (holdsNul(name) || holdsNul(value)) refuse("environment entry");
  }
}

}  // namespace

ChildProcessError ChildProcessError::notOnPath(const std::string& program) {
  return ChildProcessError(Kind::launchFailed, ENOENT, "Could not start " + program + ": not found on PATH");
}

std::unique_ptr<ChildProcess> ChildProcess::spawn(const SpawnOptions& options) {
  refuseNulBytes(options);
  ignoreSigpipe();
  FileActions actions;
  std::optional<Pipe> in, out, err;
  const auto setUp = [&](StdioMode mode, int target, std::optional<Pipe>& pipe, bool childReads) {
    switch (mode) {
      case StdioMode::inherit: break;
      case StdioMode::null:
        ::posix_spawn_file_actions_addopen(actions.get(), target, "/dev/null", childReads ? O_RDONLY : O_WRONLY, 0);
        break;
      case StdioMode::pipe:
        pipe = makePipe();
        // dup2 clears close-on-exec on the child's copy only.
        ::posix_spawn_file_actions_adddup2(actions.get(), childReads ? pipe->read.get() : pipe->write.get(), target);
        break;
    }
  };
  setUp(options.stdinMode, STDIN_FILENO, in, true);
  setUp(options.stdoutMode, STDOUT_FILENO, out, false);
  setUp(options.stderrMode, STDERR_FILENO, err, false);
  // Descriptors that other code opened without close-on-exec must not leak into the child.
  ::posix_spawn_file_actions_addclosefrom_np(actions.get(), 3);

  SpawnAttributes attributes;
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  // The parent ignores SIGPIPE, and ignored signals would survive exec: reset every one.
  ::posix_spawnattr_setsigdefault(attributes.get(), &all);
  ::posix_spawnattr_setsigmask(attributes.get(), &none);
  ::posix_spawnattr_setpgroup(attributes.get(), 0);
  ::posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  std::vector<std::string> argvStrings;
  argvStrings.push_back(options.executable);
  argvStrings.insert(argvStrings.end(), options.arguments.begin(), options.arguments.end());
  auto argv = pointers(argvStrings);
  std::vector<std::string> envStrings;
  std::vector<char*> envp;
  if (options.environmentOverlay) {
    envStrings = buildEnvironment(*options.environmentOverlay);
    envp = pointers(envStrings);
  }

  pid_t pid = -1;
  if (options.parentDeathSignal) {
    ForkPlan plan;
    plan.deathSignal = *options.parentDeathSignal;
    plan.parent = ::getpid();
    const auto fdFor = [](StdioMode mode, std::optional<Pipe>& pipe, bool childReads, int& fd, bool& null) {
      if (mode == StdioMode::null) null = true;
      if (mode == StdioMode::pipe) fd = childReads ? pipe->read.get() : pipe->write.get();
    };
    fdFor(options.stdinMode, in, true, plan.stdinFd, plan.stdinNull);
    fdFor(options.stdoutMode, out, false, plan.stdoutFd, plan.stdoutNull);
    fdFor(options.stderrMode, err, false, plan.stderrFd, plan.stderrNull);
    pid = forkAndExec(plan, options.executable.c_str(), argv.data(),
                      options.environmentOverlay ? envp.data() : environ);
    if (pid < 0) throw startFailed(options.executable, -pid);
  } else {
    const int rc = ::posix_spawn(&pid, options.executable.c_str(), actions.get(), attributes.get(), argv.data(),
                                 options.environmentOverlay ? envp.data() : environ);
    if (rc != 0) throw startFailed(options.executable, rc);
  }

  std::unique_ptr<ChildProcess> child(new ChildProcess());
  child->pid_ = pid;
  // The child cannot be reaped before we wait for it, so its pid is still ours here.
  child->pidfd_.reset(pidfdOpen(pid));
  if (in) child->stdin_ = std::move(in->write);
  if (out) child->stdout_ = std::move(out->read);
  if (err) child->stderr_ = std::move(err->read);
  return child;
}

ChildProcess::~ChildProcess() {
  if (status_ || pid_ <= 0) return;
  signalGroup(SIGKILL);  // also what is left of its group when the child itself has ended
  reap();
}

bool ChildProcess::hasExited() const {
  if (status_) return true;
  return waitForExit(std::chrono::milliseconds(0));
}

bool ChildProcess::waitForExit(std::chrono::milliseconds limit) const {
  if (status_) return true;
  if (!pidfd_) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid_;
  }
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    pollfd p{pidfd_.get(), POLLIN, 0};
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    const int n = ::poll(&p, 1, static_cast<int>(std::max<long long>(0, left)));
    if (n > 0) return true;
    if (n == 0) return false;
    if (errno != EINTR) return false;
  }
}

std::optional<ExitStatus> ChildProcess::reapIfExited() {
  if (status_) return status_;
  int status = 0;
  const pid_t r = ::waitpid(pid_, &status, WNOHANG);
  if (r == pid_) status_ = decode(status);
  return status_;
}

ExitStatus ChildProcess::reap() {
  if (status_) return *status_;
  int status = 0;
  for (;;) {
    const pid_t r = ::waitpid(pid_, &status, 0);
    if (r == pid_) break;
    if (r < 0 && errno == EINTR) continue;
    // Someone else reaped it (a SIGCHLD handler set to SIG_IGN does that): no status left.
    status_ = ExitStatus{true, 0};
    return *status_;
  }
  status_ = decode(status);
  pidfd_.reset();
  return *status_;
}

void ChildProcess::signalGroup(int signal) {
  if (status_ || pid_ <= 0) return;
  if (pidfd_) pidfdSendSignal(pidfd_.get(), signal);
  ::kill(-pid_, signal);
}

void reapInBackground(std::unique_ptr<ChildProcess> child) {
  if (!child) return;
  std::thread([child = std::move(child)]() mutable { child->reap(); }).detach();
}

}  // namespace qd
