#include "daemon/router/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>

#include "daemon/health/health_data.h"
#include "daemon/utilities/json.h"
#include "daemon/utilities/process_alive.h"

namespace qd {
namespace {

std::string readWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::optional<pid_t> livePidFromHealthFile(const std::filesystem::path& healthFile) {
  try {
    HealthData data = HealthData::fromJson(parseJson(readWholeFile(healthFile)));
    if (data.daemonPid <= 0 || data.daemonPid > INT32_MAX) return std::nullopt;
    auto pid = static_cast<pid_t>(data.daemonPid);
    if (pid != ::getpid() && isProcessAlive(pid)) return pid;
  } catch (const std::exception&) {
    // Not written yet, or half of it: the caller polls again.
  }
  return std::nullopt;
}

}  // namespace

std::optional<pid_t> InstanceLock::flockHolder(std::string_view procLocks, dev_t device, ino_t inode) {
  // Lines look like "1: FLOCK  ADVISORY  WRITE 4711 08:01:1234567 0 EOF"; the device is
  // major:minor in hex, the inode in decimal. A waiting locker's line carries "->".
  std::istringstream lines{std::string(procLocks)};
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string ordinal, kind, advisory, mode, pidText, where;
    if (!(fields >> ordinal >> kind)) continue;
    if (kind == "->") continue;
    if (kind != "FLOCK") continue;
    if (!(fields >> advisory >> mode >> pidText >> where)) continue;
    unsigned major = 0, minor = 0;
    unsigned long long node = 0;
    if (std::sscanf(where.c_str(), "%x:%x:%llu", &major, &minor, &node) != 3) continue;
    if (node != inode || major != ::major(device) || minor != ::minor(device)) continue;
    try {
      long long pid = std::stoll(pidText);
      if (pid > 0 && pid <= INT32_MAX) return static_cast<pid_t>(pid);
    } catch (const std::exception&) {
    }
  }
  return std::nullopt;
}

void InstanceLock::acquire(const std::filesystem::path& folder, const std::filesystem::path& healthFile,
                           std::chrono::milliseconds healthWait) {
  std::filesystem::create_directories(folder);
  UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) throw std::filesystem::filesystem_error("open", folder, std::error_code(errno, std::generic_category()));
  int rc;
  do {
    rc = ::flock(fd.get(), LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) {
    fd_ = std::move(fd);
    return;
  }
  if (errno != EWOULDBLOCK) {
    throw std::filesystem::filesystem_error("flock", folder, std::error_code(errno, std::generic_category()));
  }

  struct stat info {};
  std::optional<pid_t> holder;
  if (::fstat(fd.get(), &info) == 0) holder = flockHolder(readWholeFile("/proc/locks"), info.st_dev, info.st_ino);
  // Without /proc/locks (another pid namespace, a hardened /proc) the other daemon names
  // itself in its health file within moments of taking the lock. This runs before the
  // daemon serves anything, so the short waits here hold nothing up.
  const auto deadline = std::chrono::steady_clock::now() + healthWait;
  while (!holder && std::chrono::steady_clock::now() < deadline) {
    holder = livePidFromHealthFile(healthFile);
    if (!holder) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  throw HealthError::daemonAlreadyRunning(holder.value_or(0), folder.string());
}

}  // namespace qd
