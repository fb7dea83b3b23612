#pragma once

// Keeps the note app's MCP server alive as our child: starts it, records its pid in the PID
// file, stops it, restarts it with a back-off under a restart limit (five in 300 s), clears
// an orphan left by an earlier run and checks the child's health every 10 s.
//
// An actor on the io thread: its operations run there and interleave only where they wait
// (the back-off, a spawn, a close, the orphan's grace). Guarantees beyond the plain steps:
//   - spawns are single-flight: callers that need a child while one is being started wait
//     for that same spawn;
//   - a spawn that fails or outlives its start limit (min(connection time-out, 12 s)) closes
//     its transport, so no child of a failed attempt keeps running;
//   - the child gets SIGTERM from the kernel when the daemon dies, even by SIGKILL;
//   - the orphan clean-up signals a pid only when that process runs the configured server.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/steady_timer.hpp>

#include "daemon/config/configuration.h"
#include "daemon/utilities/clock.h"
#include "daemon/utilities/error.h"

namespace qd {

class MCPClient;
class StdioTransport;

// The cases carry no text of their own: the description is the case name ("timeout").
class SupervisorError : public Error {
 public:
  enum class Kind { clientNotInitialized, shuttingDown, restartRateLimitExceeded, timeout };
  explicit SupervisorError(Kind kind);
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

struct RestartRecord {
  std::chrono::system_clock::time_point timestamp;
  std::string reason;
};

struct SupervisorSettings {
  std::string executablePath;
  std::optional<std::string> document;  // the server's only argument when set
  std::string pidFilePath;
  double requestTimeoutSeconds = 60.0;
  double connectionTimeoutSeconds = 30.0;  // the start limit is this, at most 12 s

  // Seams for tests. `clock` stamps the restart history; `sleep` is the back-off wait
  // (default: a timer on the executor); the other two shorten real waits.
  const Clock* clock = &Clock::system();
  std::function<asio::awaitable<void>(double seconds)> sleep;
  double healthCheckInterval = 10.0;
  std::chrono::milliseconds orphanGrace = std::chrono::seconds(2);

  static SupervisorSettings from(const Configuration& configuration);
};

class TinderboxSupervisor : public std::enable_shared_from_this<TinderboxSupervisor> {
 public:
  static constexpr double restartRateLimitWindow = 300.0;
  static constexpr int maxRestartsInWindow = 5;
  static constexpr double healthCheckTimeout = 5.0;
  static const std::vector<double>& restartDelays();  // 1, 2, 4, 8, 16

  // Called after the health loop replaced or lost the client, with the client now held (or
  // none), so the owner can rebind whatever uses it.
  using ClientChangedHandler = std::function<asio::awaitable<void>(std::shared_ptr<MCPClient>)>;
  // Told, for the daemon's health record, of every change of the child's pid (none once
  // the child is stopped) and of every restart that brought a new child up.
  struct ProcessObserver {
    std::function<void(std::optional<pid_t>)> pidChanged;
    std::function<void()> restarted;
  };

  static std::shared_ptr<TinderboxSupervisor> create(asio::any_io_executor executor, SupervisorSettings settings);
  ~TinderboxSupervisor();

  // Orphan clean-up, spawn, health loop; the client, or clientNotInitialized.
  asio::awaitable<std::shared_ptr<MCPClient>> start();
  // The daemon's background connect: orphan clean-up, then startAndGetClient(), then the
  // health loop, which starts even when the spawn failed so a later check retries it.
  // Never fails; none when no client could be had.
  asio::awaitable<std::shared_ptr<MCPClient>> startAndMonitor();
  // Once: stops the health loop and the child, removes the PID file.
  asio::awaitable<void> shutdown();
  // Throws shuttingDown, restartRateLimitExceeded, or the spawn's error. A refused attempt
  // stays in the window and in the restart count, so a caller that keeps asking keeps the
  // limit closed; the health loop's own refused attempts do not (it would never reopen).
  asio::awaitable<void> restart(std::string reason);
  // The running child's client, or a new child's; throws shuttingDown or the spawn's error.
  asio::awaitable<std::shared_ptr<MCPClient>> startTinderbox();
  // Stops the child and removes the PID file; nothing while shutting down.
  asio::awaitable<void> stopTinderbox();
  // None while shutting down; the current client, or a new child's.
  asio::awaitable<std::shared_ptr<MCPClient>> startAndGetClient();

  std::optional<pid_t> getTinderboxPID() const { return pid_; }
  std::shared_ptr<MCPClient> getTinderboxClient() const { return client_; }
  std::int64_t getRestartCount() const { return restartCount_; }
  int consecutiveFailures() const { return consecutiveFailures_; }
  void setClientChangedHandler(ClientChangedHandler handler) { onClientChanged_ = std::move(handler); }
  void setProcessObserver(ProcessObserver observer) { observer_ = std::move(observer); }

  // Steps of start(), public so tests can run them one at a time.
  asio::awaitable<void> cleanupOrphanedProcesses();
  asio::awaitable<void> performHealthCheck();
  void startHealthMonitoring();

 private:
  struct SpawnInFlight;
  enum class RefusedAttempt { recorded, dropped };

  TinderboxSupervisor(asio::any_io_executor executor, SupervisorSettings settings);

  asio::awaitable<std::shared_ptr<MCPClient>> spawn();
  asio::awaitable<std::shared_ptr<MCPClient>> spawnOnce();
  asio::awaitable<void> disconnectCurrentTinderbox();
  asio::awaitable<void> attemptRestart(std::string reason, RefusedAttempt refused);
  // Drops records older than the window, then records the attempt (a refused one only when
  // asked to) and throws restartRateLimitExceeded when it would be the sixth in the window.
  void recordRestartAttempt(std::string reason, RefusedAttempt refused);
  asio::awaitable<void> backOff(double seconds);
  asio::awaitable<void> restartAfterFailedCheck(std::string reason);
  bool childIsAlive() const;
  void writePidFile() const;
  void removePidFile() const;
  static asio::awaitable<void> healthLoop(std::weak_ptr<TinderboxSupervisor> weak,
                                          std::shared_ptr<asio::steady_timer> timer, double interval);

  asio::any_io_executor executor_;
  SupervisorSettings settings_;

  std::shared_ptr<StdioTransport> transport_;
  std::shared_ptr<MCPClient> client_;
  std::optional<pid_t> pid_;
  std::int64_t restartCount_ = 0;
  std::vector<RestartRecord> restartHistory_;
  std::shared_ptr<asio::steady_timer> healthCheckTimer_;  // the loop's pause; cancelled by shutdown()
  bool isShuttingDown_ = false;
  int consecutiveFailures_ = 0;
  int restartsUnderWay_ = 0;  // restart() calls between their record and their end
  std::shared_ptr<SpawnInFlight> spawning_;
  ClientChangedHandler onClientChanged_;
  ProcessObserver observer_;
};

// Whether the process `pid` runs `serverPath`: its /proc/<pid>/exe, or argv[0] or argv[1] of
// its command line (a script or an interpreted server), resolves to that path.
bool processRunsServer(pid_t pid, const std::string& serverPath);

}  // namespace qd
