#include "daemon/runtime/collect_output.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace qd {
namespace {

struct Source {
  UniqueFd fd;
  std::string* sink;
};

// Reads what is there now. False once the pipe has ended or failed.
bool drain(Source& source) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(source.fd.get(), buffer, sizeof buffer);
    if (n > 0) {
      source.sink->append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    source.fd.reset();
    return false;
  }
}

}  // namespace

CollectedOutput collectUntilExit(ChildProcess& child, std::chrono::steady_clock::time_point deadline) {
  CollectedOutput out;
  Source sources[2] = {{child.takeStdout(), &out.standardOutput}, {child.takeStderr(), &out.standardError}};
  for (auto& s : sources) {
    if (s.fd) ::fcntl(s.fd.get(), F_SETFL, ::fcntl(s.fd.get(), F_GETFL) | O_NONBLOCK);
  }

  for (;;) {
    pollfd fds[3];
    int count = 0;
    int index[2] = {-1, -1};
    for (int i = 0; i < 2; ++i) {
      if (sources[i].fd) {
        index[i] = count;
        fds[count++] = {sources[i].fd.get(), POLLIN, 0};
      }
    }
    const int pidIndex = count;
    if (child.pidfd() >= 0) fds[count++] = {child.pidfd(), POLLIN, 0};

    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 && !child.hasExited()) {
      out.timedOut = true;
      return out;
    }
    // Without a pidfd (not expected on Linux 5.3+) fall back to short waits.
    const int wait = child.pidfd() >= 0 ? static_cast<int>(std::max<long long>(0, left.count()) + 1)
                                        : static_cast<int>(std::min<long long>(50, std::max<long long>(0, left.count())));
    const int n = ::poll(fds, static_cast<nfds_t>(count), wait);
    if (n < 0 && errno != EINTR) {
      out.timedOut = !child.hasExited();
      return out;
    }
    for (int i = 0; i < 2; ++i) {
      if (index[i] >= 0 && (fds[index[i]].revents & (POLLIN | POLLHUP | POLLERR))) drain(sources[i]);
    }
    const bool exited = child.pidfd() >= 0 ? (count > pidIndex && (fds[pidIndex].revents & POLLIN)) : child.hasExited();
    if (exited) {
      for (auto& s : sources) {
        if (s.fd) drain(s);
      }
      return out;
    }
  }
}

}  // namespace qd
