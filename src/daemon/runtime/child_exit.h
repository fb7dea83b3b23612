#pragma once

// Awaiting a child's end on the io thread, through its pidfd, and the group stop sequence.

#include <chrono>
#include <functional>

#include <asio/awaitable.hpp>

#include "daemon/runtime/child_process.h"

namespace qd {

// Waits, without blocking the thread, until the child has ended or `limit` has passed;
// true when it has ended. Does not reap.
asio::awaitable<bool> waitForExitAsync(ChildProcess& child, std::chrono::steady_clock::duration limit);

struct StopOutcome {
  bool wasRunning = false;  // false: the child had ended already and got no signal
  bool killed = false;      // SIGKILL was needed
  ExitStatus status;
};

// Ends a child and its group: SIGTERM, up to `grace` for it to end, then `beforeKill()` and
// SIGKILL. Once the child has ended, whatever is left of its group gets SIGKILL too (a member
// may ignore SIGTERM); `killed` says only whether the child itself needed it. The child is reaped before this returns (after SIGKILL a child that still has
// not ended within 5 s is handed to a reaping thread and reported as killed by SIGKILL).
asio::awaitable<StopOutcome> stopProcessGroupAsync(ChildProcess& child, std::chrono::steady_clock::duration grace,
                                                   std::function<void()> beforeKill = {});

}  // namespace qd
