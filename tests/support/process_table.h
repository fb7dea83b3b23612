#pragma once

// Reads the process table, to check that no child or grandchild outlives a test.

#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "support/eventually.h"

namespace qd::test {

// The text of a /proc file, or "" when it cannot be read. A process that ends while its file
// is read makes read() fail with ESRCH, which std::ifstream turns into an exception that its
// iterators do not catch.
inline std::string readProcFile(const std::string& path) {
  std::string text;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return text;
}

// A memory figure of /proc/<pid>/status in KiB ("VmRSS" resident now, "VmHWM" the most
// it has been resident); -1 when the process or the field is not there.
inline long memoryKiB(pid_t pid, const std::string& field) {
  std::istringstream status(readProcFile("/proc/" + std::to_string(pid) + "/status"));
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  }
  return -1;
}

// The pids of every process, zombies included, for which `keep(ppid, pgrp)` holds.
template <typename Keep>
std::vector<pid_t> processesWhere(Keep keep) {
  std::vector<pid_t> out;
  DIR* proc = ::opendir("/proc");
  if (!proc) return out;
  while (dirent* entry = ::readdir(proc)) {
    const std::string name = entry->d_name;
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string text = readProcFile("/proc/" + name + "/stat");
    const auto close = text.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(text.substr(close + 2));
    char state = 0;
    long ppid = 0, pgrp = 0;
    fields >> state >> ppid >> pgrp;
    if (keep(ppid, pgrp)) out.push_back(static_cast<pid_t>(std::stol(name)));
  }
  ::closedir(proc);
  return out;
}

// The pids of every process, zombies included, whose process group is `pgid`.
inline std::vector<pid_t> processesInGroup(pid_t pgid) {
  return processesWhere([pgid](long, long pgrp) { return pgrp == pgid; });
}

// The pids of the children of `parent`, zombies included.
inline std::vector<pid_t> childrenOf(pid_t parent) {
  return processesWhere([parent](long ppid, long) { return ppid == parent; });
}

// Makes this test program the reaper of orphaned grandchildren. Not every init reaps
// orphans (some container inits do not), so a test that kills a child's whole group
// reaps the grandchildren itself through groupEmptiesWithin.
inline void adoptOrphans() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }

// Polls until the group is empty, reaping every member that was handed to us.
inline bool groupEmptiesWithin(pid_t pgid, std::chrono::seconds limit) {
  return eventually(
      [pgid] {
        const auto members = processesInGroup(pgid);
        for (pid_t pid : members) ::waitpid(pid, nullptr, WNOHANG);
        return members.empty();
      },
      limit);
}

// A test program that kills process groups registers this once: it adopts orphaned
// grandchildren for the whole run and, at the end, waits for every one still left, so the
// suite leaves no zombie behind even under an init that does not reap.
class OrphanReaper : public testing::Environment {
 public:
  void SetUp() override { adoptOrphans(); }
  void TearDown() override {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      const pid_t r = ::waitpid(-1, nullptr, WNOHANG);
      if (r < 0 && errno == ECHILD) return;
      if (r == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
};

}  // namespace qd::test
