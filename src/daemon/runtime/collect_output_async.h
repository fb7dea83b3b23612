#pragma once

// The io thread's way to run a child to its end: nothing blocks a thread while the child
// runs, so any number of children can be awaited side by side.

#include <chrono>
#include <cstddef>
#include <limits>
#include <memory>
#include <string>
#include <variant>

#include <asio/awaitable.hpp>

#include "daemon/runtime/child_process.h"
#include "daemon/runtime/one_shot.h"

namespace qd {

struct AsyncCollectOptions {
  std::chrono::steady_clock::duration timeout = std::chrono::seconds(60);
  // Between SIGTERM and SIGKILL when the group is stopped.
  std::chrono::steady_clock::duration grace = std::chrono::milliseconds(200);
  // Bytes kept of each stream; the rest is read and dropped, so the child never blocks on
  // a full pipe.
  std::size_t maxStandardOutput = std::numeric_limits<std::size_t>::max();
  std::size_t maxStandardError = std::numeric_limits<std::size_t>::max();
  // When the child ends by itself, SIGKILL whatever is left of its group before it is
  // reaped, so a helper it forked (one that ignores SIGTERM included) cannot outlive it.
  // Off by default: a program such as xdg-open may leave the application it started
  // running on purpose.
  bool killGroupAtExit = false;
};

struct AsyncCollectedOutput {
  enum class End {
    exited,    // the child ended by itself; `status` tells how
    timedOut,  // it ran past the time-out and its group was stopped
    stopped,   // its owner asked it to stop and its group was stopped
  };
  End end = End::exited;
  ExitStatus status;
  std::string standardOutput;
  std::string standardError;
  bool standardOutputCut = false;  // more was written than was kept
  bool standardErrorCut = false;
};

// Settled by the owner to end a run early (shutdown): the group is stopped as on time-out.
using StopRequest = OneShot<std::monostate>;

// Reads the child's stdout and stderr pipes while it runs, awaits its pidfd raced against
// the time-out (and the stop request, when one is given), stops the whole group on
// time-out or stop (SIGTERM, `grace`, SIGKILL) and reaps the child. Reading ends with the
// child: what is already in the pipes is taken without waiting for their other ends,
// which a grandchild may hold open. The child must have been spawned with piped stdout and
// stderr (a stream not piped reads as empty), and must outlive the call.
asio::awaitable<AsyncCollectedOutput> collectUntilExitAsync(ChildProcess& child, AsyncCollectOptions options,
                                                            std::shared_ptr<StopRequest> stop = nullptr);

}  // namespace qd
