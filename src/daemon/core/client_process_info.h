#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace qd {

// The identity of the process at the other end of a client connection, learned once when
// the connection is accepted. Each part is absent when it could not be learned.
struct ClientProcessInfo {
  std::optional<std::int32_t> pid;
  std::optional<std::uint32_t> effectiveUserID;
  std::optional<std::uint32_t> effectiveGroupID;
  std::optional<std::string> executablePath;
  // When the process started, in clock ticks since boot (field 22 of /proc/<pid>/stat).
  // Pids are reused; with its start time a pid names one process.
  std::optional<std::uint64_t> startTime;

  bool operator==(const ClientProcessInfo&) const = default;
};

// Asks the kernel who connected: SO_PEERCRED gives the peer's pid and effective user and
// group ids as they were at connect time, /proc/<pid>/exe its executable and
// /proc/<pid>/stat its start time. A pid below 1 counts as unknown (and so do the path and
// start time then); a path that is not valid UTF-8, or that
// does not fit in 4,096 bytes, is absent. None when nothing at all was learned.
std::optional<ClientProcessInfo> resolveClientProcessInfo(int clientFd);

// Field 22 of /proc/<pid>/stat; none when the process is gone or the field unreadable.
std::optional<std::uint64_t> processStartTime(pid_t pid);

}  // namespace qd
