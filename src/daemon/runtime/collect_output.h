#pragma once

#include <chrono>
#include <string>

#include "daemon/runtime/child_process.h"

namespace qd {

struct CollectedOutput {
  bool timedOut = false;
  std::string standardOutput;
  std::string standardError;
};

// The synchronous way to run a child to its end: blocks the calling thread in poll(2) on
// the child's stdout and stderr pipes and its pidfd until the child ends or the deadline
// passes, reading both pipes all along, so a child that writes more than a pipe holds
// never stalls. After the end, what is left in the pipes is read without waiting for
// their other ends, which a grandchild may hold open. Does not reap or signal.
CollectedOutput collectUntilExit(ChildProcess& child, std::chrono::steady_clock::time_point deadline);

}  // namespace qd
