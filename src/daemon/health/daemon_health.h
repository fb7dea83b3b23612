#pragma once

// Keeps the daemon's health record on disk and answers for it in memory. At start, with
// the instance lock held (so no other daemon runs), it removes the runtime files an earlier
// daemon left behind. While the daemon runs it rewrites health.json at once and then every
// interval; at stop it writes a final "unhealthy" record that no periodic write can
// overtake.
//
// Lives on the daemon's io thread; owned through a shared_ptr (its periodic task holds it
// weakly). The callbacks belong to the daemon and hold the daemon weakly themselves.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/steady_timer.hpp>

#include "daemon/health/health_data.h"
#include "daemon/utilities/clock.h"

namespace qd {

class Configuration;

class DaemonHealth : public std::enable_shared_from_this<DaemonHealth> {
 public:
  struct Callbacks {
    std::function<asio::awaitable<std::int64_t>()> getConnectedClientsCount;
    std::function<asio::awaitable<HealthStatus>()> getHealthStatus;
    std::function<asio::awaitable<bool>()> isTinderboxConnected;
  };

  // The files it watches over, read from the configuration at creation.
  struct Files {
    std::filesystem::path healthFilePath;
    std::filesystem::path appSupportDir;
    std::filesystem::path socketPath;
    std::filesystem::path lockFilePath;
    static Files from(const Configuration& configuration);
  };

  static constexpr std::chrono::milliseconds healthUpdateInterval{5000};

  static std::shared_ptr<DaemonHealth> create(asio::any_io_executor executor, Files files, Callbacks callbacks,
                                              const Clock& clock = Clock::system(),
                                              std::chrono::milliseconds interval = healthUpdateInterval);

  // The note app's current pid; none while it is not running.
  void setTinderboxPid(std::optional<pid_t> pid);
  void incrementRestarts();
  std::int64_t tinderboxRestarts() const { return tinderboxRestarts_; }

  // The start-up clean-up, for a caller that holds the per-user instance lock: a health
  // file left by an earlier daemon means its socket, lock and health files are stale,
  // whichever process now holds the pid it names and even when it cannot be read. False
  // when there is no health file, true when the earlier daemon's files were cleaned up.
  // Throws only a file error when the folder cannot be created.
  bool checkStaleAndCleanup();

  void startMonitoring();
  void stopMonitoring();

  asio::awaitable<HealthData> getCurrentHealthData();

 private:
  DaemonHealth(asio::any_io_executor executor, Files files, Callbacks callbacks, const Clock& clock,
               std::chrono::milliseconds interval);

  static asio::awaitable<void> writeOnce(std::shared_ptr<DaemonHealth> self, std::uint64_t epoch);
  static asio::awaitable<void> periodicWrites(std::weak_ptr<DaemonHealth> weak, std::shared_ptr<asio::steady_timer> timer,
                                              std::uint64_t epoch, std::chrono::milliseconds interval);
  asio::awaitable<void> writeHealthData(std::uint64_t epoch);
  void writeFinalHealthData();
  void writeRecord(const HealthData& data) const;
  void cleanupStaleFiles();
  void ensureAppSupportDirectory();
  std::int64_t uptimeSeconds() const;
  void logPreviousRecord(const HealthData& previous) const;

  asio::any_io_executor executor_;
  Files files_;
  Callbacks callbacks_;
  const Clock& clock_;
  std::chrono::milliseconds interval_;
  pid_t daemonPid_;
  std::optional<pid_t> tinderboxPid_;
  std::chrono::steady_clock::time_point startTime_;
  std::int64_t tinderboxRestarts_ = 0;
  // Bumped by stopMonitoring: a write begun under an older epoch is dropped, so nothing
  // lands after the final record.
  std::uint64_t epoch_ = 0;
  std::shared_ptr<asio::steady_timer> updateTimer_;
};

}  // namespace qd
