#pragma once

// One daemon per user. The daemon holds an exclusive advisory lock (flock) on its
// application folder itself for its whole life, taken before it looks at any file the
// previous daemon left. Two daemons started together cannot both pass the health-file
// check this way, and the second never touches the first's socket. The folder is locked
// rather than daemon.lock because other parties remove daemon.lock. A daemon killed with
// SIGKILL leaves the lock free: the kernel drops it with the descriptor.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>

#include "daemon/runtime/unique_fd.h"

namespace qd {

class InstanceLock {
 public:
  InstanceLock() = default;

  // Creates the folder when missing, opens it close-on-exec and locks it. When another
  // process holds the lock, throws HealthError::daemonAlreadyRunning with that process's
  // id: from /proc/locks, else (waiting up to `healthWait`) from a health file that names
  // a live process. Errors of the file system are thrown as std::filesystem_error.
  void acquire(const std::filesystem::path& folder, const std::filesystem::path& healthFile,
               std::chrono::milliseconds healthWait = std::chrono::milliseconds(5000));
  bool isHeld() const { return fd_.get() >= 0; }
  void release() { fd_.reset(); }

  // The process holding a FLOCK on that inode, read from /proc/locks text.
  static std::optional<pid_t> flockHolder(std::string_view procLocks, dev_t device, ino_t inode);

 private:
  UniqueFd fd_;
};

}  // namespace qd
