#pragma once

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

  bool operator==(const ClientProcessInfo&) const = default;
};

// Asks the kernel who connected: SO_PEERCRED gives the peer's pid and effective user and
// group ids as they were at connect time, /proc/<pid>/exe its executable. A pid below 1
// counts as unknown (and so does the path then); a path that is not valid UTF-8, or that
// does not fit in 4,096 bytes, is absent. None when nothing at all was learned.
std::optional<ClientProcessInfo> resolveClientProcessInfo(int clientFd);

}  // namespace qd
