#include "daemon/core/client_process_info.h"

#include <sys/socket.h>
#include <unistd.h>

#include <array>

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
  }
  return info;
}

}  // namespace qd
