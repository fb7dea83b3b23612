#pragma once

// Starts the real daemon executable for an integration test: in a temporary HOME with
// every XDG folder under it, the note app and the companion-app launch switched off, and
// any extra environment the test adds. Waits until its socket answers, talks to it over a
// raw socket, stops it with a signal and waits for its exit. Whatever is still running
// when the object goes away is killed and reaped.
//
// The test target passes the executable's path from CMake:
//   target_compile_definitions(<t> PRIVATE QD_DAEMON_EXECUTABLE="$<TARGET_FILE:QuarvelDorarovDaemon>")
//   add_dependencies(<t> QuarvelDorarovDaemon)

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "daemon/config/configuration.h"
#include "platform/environment.h"

extern char** environ;

namespace qd::test {

// The next line of `fd` without its line feed, taking bytes read earlier from `buffer` and
// leaving what follows the line there; none when the peer closed first or nothing came
// within `limit`.
inline std::optional<std::string> readLineFrom(int fd, std::string& buffer, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (true) {
    if (auto end = buffer.find('\n'); end != std::string::npos) {
      std::string line = buffer.substr(0, end);
      buffer.erase(0, end + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd ready{fd, POLLIN, 0};
    const int rc = ::poll(&ready, 1, static_cast<int>(left.count()));
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) return std::nullopt;
    char chunk[65536];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    buffer.append(chunk, static_cast<std::size_t>(n));
  }
}

// ASAN_OPTIONS for a child whose peak memory a test reads: this process's options with the
// quarantine off. Under the address sanitizer freed buffers otherwise wait there (256 MB)
// instead of being reused, and the peak shows them rather than what the child holds.
inline std::string sanitizerOptionsWithoutQuarantine() {
  const char* inherited = std::getenv("ASAN_OPTIONS");
  const std::string noQuarantine = "quarantine_size_mb=0";
  return inherited ? std::string(inherited) + ":" + noQuarantine : noQuarantine;
}

// One connection to a Unix socket that writes and reads whole lines.
class SocketLineClient {
 public:
  explicit SocketLineClient(const std::string& socketPath) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) throw std::runtime_error("socket: " + std::string(std::strerror(errno)));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof(address.sun_path) - 1);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      const int error = errno;
      ::close(fd_);
      fd_ = -1;
      throw std::runtime_error("connect " + socketPath + ": " + std::strerror(error));
    }
  }
  ~SocketLineClient() {
    if (fd_ >= 0) ::close(fd_);
  }
  SocketLineClient(const SocketLineClient&) = delete;
  SocketLineClient& operator=(const SocketLineClient&) = delete;

  // Writes the bytes as they are (add the line feed yourself to send several at once).
  void sendRaw(const std::string& bytes) {
    if (const int error = sendAll(bytes)) throw std::runtime_error("send: " + std::string(std::strerror(error)));
  }
  void sendLine(const std::string& line) { sendRaw(line + "\n"); }
  // Like sendLine, where the peer may close the connection first (a daemon that refuses
  // one writes why, then closes it): false when it had (EPIPE, ECONNRESET); what it wrote
  // before can still be read.
  bool sendLineUnlessClosed(const std::string& line) {
    const int error = sendAll(line + "\n");
    if (error == EPIPE || error == ECONNRESET) return false;
    if (error) throw std::runtime_error("send: " + std::string(std::strerror(error)));
    return true;
  }

  // The next line without its line feed; none when the peer closed first or nothing came
  // within `limit`.
  std::optional<std::string> readLine(std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    return readLineFrom(fd_, buffer_, limit);
  }

  // One request line and its reply line.
  std::optional<std::string> request(const std::string& line) {
    sendLine(line);
    return readLine();
  }

 private:
  // 0 once every byte is written, else the error.
  int sendAll(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return errno;
      sent += static_cast<std::size_t>(n);
    }
    return 0;
  }

  int fd_ = -1;
  std::string buffer_;
};

class DaemonProcess {
 public:
  // `home` becomes HOME; XDG_DATA_HOME, XDG_STATE_HOME, XDG_CONFIG_HOME, XDG_CACHE_HOME
  // and XDG_RUNTIME_DIR are folders under it. `extraEnvironment` is set last and wins.
  explicit DaemonProcess(std::filesystem::path home, std::map<std::string, std::string> extraEnvironment = {})
      : home_(std::move(home)) {
    for (char** entry = environ; *entry; ++entry) {
      const std::string text = *entry;
      const auto equals = text.find('=');
      if (equals == std::string::npos) continue;
      const std::string name = text.substr(0, equals);
      // Nothing of the machine's own daemon settings leaks into the test's daemon.
      if (name == "HOME" || name.starts_with("XDG_") || name.starts_with("TINDERBOX_")) continue;
      environment_[name] = text.substr(equals + 1);
    }
    environment_["HOME"] = home_.string();
    environment_["XDG_DATA_HOME"] = (home_ / "data").string();
    environment_["XDG_STATE_HOME"] = (home_ / "state").string();
    environment_["XDG_CONFIG_HOME"] = (home_ / "config").string();
    environment_["XDG_CACHE_HOME"] = (home_ / "cache").string();
    environment_["XDG_RUNTIME_DIR"] = (home_ / "run").string();
    environment_["TINDERBOX_DISABLE"] = "1";
    environment_["TINDERBOX_DISABLE_APP_LAUNCH"] = "1";
    for (auto& [name, value] : extraEnvironment) environment_[name] = value;
  }
  ~DaemonProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
  }
  DaemonProcess(const DaemonProcess&) = delete;
  DaemonProcess& operator=(const DaemonProcess&) = delete;

  static std::filesystem::path executable() { return QD_DAEMON_EXECUTABLE; }
  // Runs this copy of the executable instead (an installation tree of the test's own).
  void useExecutable(std::filesystem::path path) { executable_ = std::move(path); }

  // Starts the executable through /bin/sh, which runs `commands` first and then execs it,
  // so the pid stays the daemon's: "trap '' HUP" starts it with SIGHUP ignored as nohup
  // does, "ulimit -f 128" under a file-size limit (in blocks of 512 bytes).
  void startThroughShell(std::string commands) { shellCommands_ = std::move(commands); }

  // The daemon's view of its folders, from the same environment it gets.
  Configuration configuration() const { return Configuration(platform::Environment(environment_)); }
  std::string socketPath() const { return configuration().socketPath(); }
  const std::map<std::string, std::string>& environment() const { return environment_; }
  pid_t pid() const { return pid_; }

  // Starts the executable with these arguments (default: --daemon) and this file as its
  // standard input; its standard output and error go to files in HOME (stdoutText,
  // stderrText). Runs one process at a time.
  void start(std::vector<std::string> args = {"--daemon"}, const std::filesystem::path& standardInput = "/dev/null") {
    if (pid_ > 0) throw std::logic_error("the daemon process is already running");
    const std::string exe = executable_.string();
    ++runs_;
    std::vector<std::string> argvText{exe};
    if (shellCommands_) argvText = {"/bin/sh", "-c", *shellCommands_ + "\nexec \"$0\" \"$@\"", exe};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argvText) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envText;
    for (const auto& [name, value] : environment_) envText.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    const std::string in = standardInput.string();
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, in.c_str(), O_RDONLY, 0);
    const std::string out = stdoutPath().string(), err = stderrPath().string();
    ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // Default dispositions and no blocked signal, as from a login shell, whatever this
    // test process ignores (SIGPIPE) or was started with (SIGHUP under nohup).
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    ::posix_spawnattr_setsigdefault(&attributes, &all);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    const int rc = ::posix_spawn(&pid_, argvText[0].c_str(), &actions, &attributes, argv.data(), envp.data());
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
      pid_ = -1;
      throw std::runtime_error("posix_spawn " + argvText[0] + ": " + std::strerror(rc));
    }
  }

  // Polls until a connection to the socket succeeds (true) or the process has exited or
  // the limit passed (false).
  bool waitUntilListening(std::chrono::seconds limit = std::chrono::seconds(60)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      if (!isRunning()) return false;
      try {
        SocketLineClient probe(socketPath());
        return true;
      } catch (const std::exception&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
    return false;
  }

  // Whether the process still runs; reaps it when it has exited.
  bool isRunning() {
    if (pid_ <= 0) return false;
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == 0) return true;
    if (done == pid_) recordExit(status);
    pid_ = -1;
    return false;
  }

  void signal(int number) {
    if (pid_ > 0) ::kill(pid_, number);
  }

  // The exit status (128 + signal number for a process killed by a signal) once the
  // process has ended; none when it still runs after `limit`.
  std::optional<int> waitForExit(std::chrono::seconds limit = std::chrono::seconds(60)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (isRunning()) {
      if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return exitStatus_;
  }

  // Starts the daemon and waits for its socket; throws with its output when it fails.
  void startAndWait() {
    start();
    if (!waitUntilListening()) {
      throw std::runtime_error("the daemon did not start listening; stdout: " + stdoutText() +
                               " stderr: " + stderrText());
    }
  }

  std::filesystem::path stdoutPath() const { return home_ / ("daemon-" + std::to_string(runs_) + ".out"); }
  std::filesystem::path stderrPath() const { return home_ / ("daemon-" + std::to_string(runs_) + ".err"); }
  std::string stdoutText() const { return readFile(stdoutPath()); }
  std::string stderrText() const { return readFile(stderrPath()); }

  static std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  void recordExit(int status) {
    if (WIFEXITED(status)) exitStatus_ = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) exitStatus_ = 128 + WTERMSIG(status);
  }

  std::filesystem::path home_;
  std::filesystem::path executable_ = executable();
  std::optional<std::string> shellCommands_;
  std::map<std::string, std::string> environment_;
  pid_t pid_ = -1;
  int runs_ = 0;
  std::optional<int> exitStatus_;
};

}  // namespace qd::test
