#include "daemon/health/daemon_health.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <system_error>

#include <asio/redirect_error.hpp>
#include <asio/use_awaitable.hpp>

#include "daemon/config/configuration.h"
#include "daemon/logging/logger.h"
#include "daemon/runtime/coroutine_helpers.h"
#include "daemon/utilities/atomic_file.h"
#include "daemon/utilities/process_alive.h"
#include "daemon/utilities/unix_time.h"

namespace qd {
namespace {

constexpr const char* kComponent = "DaemonHealth";
constexpr mode_t kFolderMode = 0755;
constexpr mode_t kHealthFileMode = 0644;

void createFolder(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (!error) {
    std::filesystem::permissions(folder, static_cast<std::filesystem::perms>(kFolderMode), error);
  }
  if (error) {
    throw FileWriteError(FileWriteError::Kind::createFolder,
                         "Could not create folder " + folder.string() + ": " + error.message(), error.value());
  }
}

// Only a real process id names one process: 0 and negative ids address process groups.
bool isLiveProcess(std::int64_t pid) {
  return pid > 0 && pid <= INT_MAX && isProcessAlive(static_cast<pid_t>(pid));
}

}  // namespace

DaemonHealth::Files DaemonHealth::Files::from(const Configuration& configuration) {
  return {configuration.healthFilePath(), configuration.appSupportDir(), configuration.socketPath(),
          configuration.lockFilePath()};
}

std::shared_ptr<DaemonHealth> DaemonHealth::create(asio::any_io_executor executor, Files files, Callbacks callbacks,
                                                   const Clock& clock, std::chrono::milliseconds interval) {
  return std::shared_ptr<DaemonHealth>(
      new DaemonHealth(std::move(executor), std::move(files), std::move(callbacks), clock, interval));
}

DaemonHealth::DaemonHealth(asio::any_io_executor executor, Files files, Callbacks callbacks, const Clock& clock,
                           std::chrono::milliseconds interval)
    : executor_(std::move(executor)),
      files_(std::move(files)),
      callbacks_(std::move(callbacks)),
      clock_(clock),
      interval_(interval),
      daemonPid_(::getpid()),
      startTime_(clock.now()) {
  Logger::debug(kComponent, "Initialized", {{"pid", daemonPid_}, {"healthFilePath", files_.healthFilePath.string()}});
}

void DaemonHealth::setTinderboxPid(std::optional<pid_t> pid) {
  tinderboxPid_ = pid;
  Logger::debug(kComponent, "Tinderbox PID set", {{"pid", pid ? Json(*pid) : Json()}});
}

void DaemonHealth::incrementRestarts() {
  ++tinderboxRestarts_;
  Logger::warn(kComponent, "Tinderbox restarted", {{"restarts", tinderboxRestarts_}});
}

std::int64_t DaemonHealth::uptimeSeconds() const {
  return std::chrono::duration_cast<std::chrono::seconds>(clock_.now() - startTime_).count();
}

asio::awaitable<HealthData> DaemonHealth::getCurrentHealthData() {
  HealthData data;
  data.uptime = uptimeSeconds();
  data.daemonPid = daemonPid_;
  if (tinderboxPid_) data.tinderboxPid = *tinderboxPid_;
  data.status = co_await callbacks_.getHealthStatus();
  data.lastUpdate = unixMilliseconds(clock_.wallNow());
  data.tinderboxRestarts = tinderboxRestarts_;
  data.connectedClients = co_await callbacks_.getConnectedClientsCount();
  data.tinderboxConnected = co_await callbacks_.isTinderboxConnected();
  co_return data;
}

void DaemonHealth::writeRecord(const HealthData& data) const {
  writeFileAtomically(files_.healthFilePath, data.fileText(), AtomicWriteOptions{}.withMode(kHealthFileMode));
}

asio::awaitable<void> DaemonHealth::writeHealthData(std::uint64_t epoch) {
  try {
    const HealthData data = co_await getCurrentHealthData();
    // Monitoring stopped while the callbacks ran: the final record is already on disk.
    if (epoch != epoch_) co_return;
    if (!std::filesystem::exists(files_.appSupportDir)) createFolder(files_.appSupportDir);
    writeRecord(data);
    Logger::debug(kComponent, "Health data updated",
                  {{"status", toString(data.status)}, {"uptime", data.uptime}, {"clients", data.connectedClients}});
  } catch (...) {
    Logger::error(kComponent, "Failed to write health data", {{"error", describeException(std::current_exception())}});
  }
}

asio::awaitable<void> DaemonHealth::writeOnce(std::shared_ptr<DaemonHealth> self, std::uint64_t epoch) {
  co_await self->writeHealthData(epoch);
}

asio::awaitable<void> DaemonHealth::periodicWrites(std::weak_ptr<DaemonHealth> weak,
                                                   std::shared_ptr<asio::steady_timer> timer, std::uint64_t epoch,
                                                   std::chrono::milliseconds interval) {
  for (;;) {
    timer->expires_after(interval);
    std::error_code ignored;
    co_await timer->async_wait(asio::redirect_error(asio::use_awaitable, ignored));
    std::shared_ptr<DaemonHealth> self = weak.lock();
    if (!self || self->epoch_ != epoch) co_return;
    co_await self->writeHealthData(epoch);
  }
}

void DaemonHealth::startMonitoring() {
  Logger::info(kComponent, "Starting health monitoring",
               {{"interval", std::chrono::duration<double>(interval_).count()}});
  startTask(executor_, writeOnce(shared_from_this(), epoch_), kComponent, "writeHealthData");
  updateTimer_ = std::make_shared<asio::steady_timer>(executor_);
  startTask(executor_, periodicWrites(weak_from_this(), updateTimer_, epoch_, interval_), kComponent,
            "periodicHealthWrites");
}

void DaemonHealth::stopMonitoring() {
  Logger::info(kComponent, "Stopping health monitoring");
  ++epoch_;
  if (updateTimer_) {
    updateTimer_->cancel();
    updateTimer_.reset();
  }
  writeFinalHealthData();
}

void DaemonHealth::writeFinalHealthData() {
  HealthData data;
  data.daemonPid = daemonPid_;
  if (tinderboxPid_) data.tinderboxPid = *tinderboxPid_;
  data.lastUpdate = unixMilliseconds(clock_.wallNow());
  data.uptime = uptimeSeconds();
  data.tinderboxRestarts = tinderboxRestarts_;
  data.status = HealthStatus::unhealthy;
  data.connectedClients = 0;
  data.tinderboxConnected = false;
  try {
    writeRecord(data);
    Logger::info(kComponent, "Wrote final health data");
  } catch (...) {
    Logger::error(kComponent, "Failed to write final health data",
                  {{"error", describeException(std::current_exception())}});
  }
}

void DaemonHealth::ensureAppSupportDirectory() {
  if (std::filesystem::exists(files_.appSupportDir)) return;
  createFolder(files_.appSupportDir);
  Logger::info(kComponent, "Created app support directory", {{"path", files_.appSupportDir.string()}});
}

bool DaemonHealth::checkStaleAndCleanup() {
  Logger::info(kComponent, "Checking for stale daemon");
  ensureAppSupportDirectory();

  // The caller holds the instance lock, so no other daemon runs: whatever the record says,
  // and whether or not it can be read, the files an earlier daemon left are stale. The
  // record is read only to log what it names.
  try {
    const std::optional<std::string> text = readFileIfPresent(files_.healthFilePath);
    if (!text) {
      Logger::info(kComponent, "No existing health.json, fresh start");
      return false;
    }
    logPreviousRecord(HealthData::fromJson(parseJson(*text)));
  } catch (const std::exception&) {
    Logger::warn(kComponent, "Unreadable health.json from an earlier daemon, cleaning up",
                 {{"error", describeException(std::current_exception())}});
  }
  cleanupStaleFiles();
  return true;
}

void DaemonHealth::logPreviousRecord(const HealthData& previous) const {
  Logger::info(kComponent, "Found previous health data",
               {{"daemonPid", previous.daemonPid},
                {"tinderboxPid", previous.tinderboxPid ? Json(*previous.tinderboxPid) : Json()},
                {"lastUpdate", Logger::iso8601Timestamp(dateFromUnixMilliseconds(previous.lastUpdate))}});
  // A live process under the recorded pid is not that daemon (after a reboot the pid is
  // someone else's); the check is logged for whoever reads the log, and decides nothing.
  Json liveness = {{"daemonPid", previous.daemonPid}, {"daemonAlive", isLiveProcess(previous.daemonPid)}};
  if (previous.tinderboxPid) {
    liveness["tinderboxPid"] = *previous.tinderboxPid;
    liveness["tinderboxAlive"] = isLiveProcess(*previous.tinderboxPid);
  }
  Logger::info(kComponent, "Process liveness check", liveness);
  Logger::warn(kComponent, "Stale daemon detected, cleaning up", {{"stalePid", previous.daemonPid}});
}

void DaemonHealth::cleanupStaleFiles() {
  struct Target {
    const std::filesystem::path* path;
    std::filesystem::file_type expected;
  };
  // Only what the daemon itself leaves is removed: a socket at the socket path, plain
  // files at the lock and health paths. Anything else there is someone's data.
  const Target targets[] = {{&files_.socketPath, std::filesystem::file_type::socket},
                            {&files_.lockFilePath, std::filesystem::file_type::regular},
                            {&files_.healthFilePath, std::filesystem::file_type::regular}};
  for (const auto& target : targets) {
    const std::string path = target.path->string();
    std::error_code error;
    const auto status = std::filesystem::symlink_status(*target.path, error);
    if (error || !std::filesystem::exists(status)) continue;
    if (status.type() != target.expected) {
      Logger::warn(kComponent, "Failed to remove stale file",
                   {{"path", path}, {"error", "not a file the daemon left behind; left in place"}});
      continue;
    }
    if (std::filesystem::remove(*target.path, error)) {
      Logger::info(kComponent, "Removed stale file", {{"path", path}});
    } else if (error) {
      Logger::warn(kComponent, "Failed to remove stale file", {{"path", path}, {"error", error.message()}});
    }
  }
}

}  // namespace qd
