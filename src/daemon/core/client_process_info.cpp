#include "daemon/core/client_process_info.h"

#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <charconv>
#include <sstream>

#include "daemon/utilities/atomic_file.h"
#include "daemon/utilities/unicode_text.h"

namespace qd {
namespace {

std::optional<std::string> executablePathOf(pid_t pid) {
  const std::string link = "/proc/" + std::to_string(pid) + "/exe";
  std::array<char, 4096> buffer{};
  const ssize_t length = ::readlink(link.c_str(), buffer.data(), buffer.size());
  // A result that fills the buffer may have been cut short: better no path than a wrong one.
  if (length < 1 || static_cast<std::size_t>(length) >= buffer.size()) return std::nullopt;
  std::string path(buffer.data(), static_cast<std::size_t>(length));
  if (const auto nul = path.find('\0'); nul != std::string::npos) path.resize(nul);
  if (path.empty() || !unicode::isValidUtf8(path)) return std::nullopt;
  return path;
}

}  // namespace

std::optional<std::uint64_t> processStartTime(pid_t pid) {
  std::optional<std::string> stat;
  try {
    stat = readFileIfPresent("/proc/" + std::to_string(pid) + "/stat");
  } catch (const std::exception&) {
    return std::nullopt;
  }
  // The command name (field 2) may hold blanks and parentheses; the fields after it start
  // past the last ')', with the state as field 3.
  if (!stat) return std::nullopt;
  const auto close = stat->rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(stat->substr(close + 1));
  std::string field;
  for (int number = 3; number <= 22; ++number) {
    if (!(fields >> field)) return std::nullopt;
  }
  std::uint64_t ticks = 0;
  const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), ticks);
  if (error != std::errc() || end != field.data() + field.size()) return std::nullopt;
  return ticks;
}

std::optional<ClientProcessInfo> resolveClientProcessInfo(int clientFd) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (::getsockopt(clientFd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || size != sizeof credentials) {
    // One call gives ids and pid together on Linux, so a failure leaves nothing learned.
    return std::nullopt;
  }
  ClientProcessInfo info;
  info.effectiveUserID = credentials.uid;
  info.effectiveGroupID = credentials.gid;
  if (credentials.pid >= 1) {
    info.pid = credentials.pid;
    info.executablePath = executablePathOf(credentials.pid);
    info.startTime = processStartTime(credentials.pid);
  }
  return info;
}

}  // namespace qd
