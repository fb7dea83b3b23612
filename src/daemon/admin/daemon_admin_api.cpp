#include "daemon/admin/daemon_admin_api.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "daemon/admin/admin_protocol.h"
#include "daemon/config/configuration.h"
#include "daemon/runtime/unique_fd.h"

namespace qd {

DaemonAdminAPIError DaemonAdminAPIError::invalidResponse() {
  return {Code::invalidResponse, "Invalid daemon admin response JSON"};
}
DaemonAdminAPIError DaemonAdminAPIError::setupFailed(const std::string& underlyingError) {
  return {Code::setupFailed, "Failed to create daemon admin XPC proxy", underlyingError};
}
DaemonAdminAPIError DaemonAdminAPIError::timedOut() {
  return {Code::timedOut, "Timed out waiting for daemon admin response"};
}
DaemonAdminAPIError DaemonAdminAPIError::daemonError(const std::string& text) { return {Code::daemonError, text}; }
DaemonAdminAPIError DaemonAdminAPIError::emptyResponse() {
  return {Code::emptyResponse, "Daemon admin returned empty response"};
}
DaemonAdminAPIError DaemonAdminAPIError::connectionRejected(const std::string& underlyingError, Cause cause) {
  return {Code::connectionRejected, "XPC connection to daemon was rejected", underlyingError, cause};
}

namespace DaemonAdminAPI {
namespace {

using Clock = std::chrono::steady_clock;

// A reply larger than this is not an admin answer; the connection is given up.
constexpr std::size_t maxReplyBytes = 64u << 20;

std::string systemText(int error) { return std::strerror(error); }

// The daemon accepted the connection and then ended it without a reply.
DaemonAdminAPIError closed(const std::string& why) {
  return DaemonAdminAPIError::connectionRejected(why, DaemonAdminAPIError::Cause::closedWithoutReply);
}

// Waits until the descriptor is ready for `events` or the deadline passes (false).
bool waitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(std::min<std::int64_t>(left.count(), 60000)));
    if (ready > 0) return true;  // errors and hang-ups show in the next read or write
    if (ready < 0 && errno != EINTR) throw closed(systemText(errno));
  }
}

UniqueFd connectTo(const std::string& socketPath) {
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd) throw DaemonAdminAPIError::setupFailed(systemText(errno));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path || socketPath.find('\0') != std::string::npos) {
    throw DaemonAdminAPIError::setupFailed(systemText(EINVAL));
  }
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  // A Unix socket connects at once or fails; EAGAIN means the daemon's backlog is full.
  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    throw DaemonAdminAPIError::connectionRejected(systemText(errno), DaemonAdminAPIError::Cause::connectFailed);
  }
  return fd;
}

void sendLine(int fd, const std::string& line, Clock::time_point deadline) {
  std::size_t sent = 0;
  while (sent < line.size()) {
    const ssize_t n = ::send(fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!waitFor(fd, POLLOUT, deadline)) throw DaemonAdminAPIError::timedOut();
      continue;
    }
    throw closed(systemText(errno));
  }
}

// The reply line for `id`; lines for other ids are skipped.
std::string receiveReply(int fd, std::int64_t id, Clock::time_point deadline) {
  std::string buffer;
  char chunk[65536];
  for (;;) {
    for (std::size_t end; (end = buffer.find('\n')) != std::string::npos;) {
      std::string line = buffer.substr(0, end);
      buffer.erase(0, end + 1);
      if (DaemonAdminXPCProtocol::parseReply(line).id == id) return line;
    }
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n > 0) {
      buffer.append(chunk, static_cast<std::size_t>(n));
      if (buffer.size() > maxReplyBytes) throw closed("Reply too large");
      continue;
    }
    if (n == 0) throw closed("Connection closed by the daemon");
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) throw closed(systemText(errno));
    if (!waitFor(fd, POLLIN, deadline)) throw DaemonAdminAPIError::timedOut();
  }
}

std::int64_t nextRequestId() {
  static std::atomic<std::int64_t> counter{0};
  return ++counter;
}

}  // namespace

std::string defaultSocketPath() {
  return DaemonAdminXPCProtocol::socketPathBeside(Configuration::shared().socketPath());
}

Json request(const std::string& method, const std::optional<Json>& params) {
  return request(defaultSocketPath(), method, params, replyTimeout);
}

Json request(const std::string& socketPath, const std::string& method, const std::optional<Json>& params,
             std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  const std::int64_t id = nextRequestId();
  UniqueFd fd = connectTo(socketPath);
  sendLine(fd.get(), DaemonAdminXPCProtocol::encodeRequest(id, method, params) + "\n", deadline);
  const DaemonAdminXPCProtocol::Reply reply = DaemonAdminXPCProtocol::parseReply(receiveReply(fd.get(), id, deadline));
  if (reply.error) throw DaemonAdminAPIError::daemonError(*reply.error);
  if (!reply.result) throw DaemonAdminAPIError::emptyResponse();
  if (!reply.result->is_object()) throw DaemonAdminAPIError::invalidResponse();
  return *reply.result;
}

}  // namespace DaemonAdminAPI
}  // namespace qd
