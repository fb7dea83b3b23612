#include "daemon/runtime/child_exit.h"

#include <fcntl.h>

#include <csignal>
#include <memory>

#include <asio/posix/stream_descriptor.hpp>
#include <asio/this_coro.hpp>

#include "daemon/runtime/coroutine_helpers.h"

namespace qd {
namespace {

asio::awaitable<void> waitReadable(std::shared_ptr<asio::posix::stream_descriptor> descriptor) {
  co_await descriptor->async_wait(asio::posix::stream_descriptor::wait_read, asio::use_awaitable);
}

}  // namespace

asio::awaitable<bool> waitForExitAsync(ChildProcess& child, std::chrono::steady_clock::duration limit) {
  if (child.hasExited()) co_return true;
  if (child.pidfd() < 0) co_return child.waitForExit(std::chrono::duration_cast<std::chrono::milliseconds>(limit));
  auto executor = co_await asio::this_coro::executor;
  // A duplicate of the pidfd, so the reactor's registration ends with this wait.
  const int fd = ::fcntl(child.pidfd(), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) co_return child.waitForExit(std::chrono::duration_cast<std::chrono::milliseconds>(limit));
  auto descriptor = std::make_shared<asio::posix::stream_descriptor>(executor, fd);
  asio::awaitable<void> wait = waitReadable(descriptor);
  const bool ended = co_await withTimeout(std::move(wait), limit);
  co_return ended || child.hasExited();
}

asio::awaitable<StopOutcome> stopProcessGroupAsync(ChildProcess& child, std::chrono::steady_clock::duration grace,
                                                   std::function<void()> beforeKill) {
  StopOutcome outcome;
  if (child.hasExited()) {
    child.signalGroup(SIGKILL);  // what is left of its group
    outcome.status = child.reap();
    co_return outcome;
  }
  outcome.wasRunning = true;
  child.signalGroup(SIGTERM);
  if (!co_await waitForExitAsync(child, grace)) {
    if (beforeKill) beforeKill();
    outcome.killed = true;
    child.signalGroup(SIGKILL);
    if (!co_await waitForExitAsync(child, std::chrono::seconds(5))) {
      outcome.status = ExitStatus{true, SIGKILL};
      co_return outcome;  // the owner's destructor or reapInBackground reaps it
    }
  } else {
    // A member of the group that ignores SIGTERM would outlive its leader; until the leader
    // is reaped its pid still names the group, so the kill reaches only our own processes.
    child.signalGroup(SIGKILL);
  }
  outcome.status = child.reap();
  co_return outcome;
}

}  // namespace qd
