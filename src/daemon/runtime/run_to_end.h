#pragma once

// Starts a program and awaits its end on the io thread: the pipes are drained while it
// runs, a child that outlives its time-out has its group stopped (SIGTERM, a grace, then
// SIGKILL) and every child is reaped. No thread blocks while the child runs.

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include <asio/awaitable.hpp>

#include "daemon/runtime/collect_output_async.h"

namespace qd {

struct RunToEndOptions {
  std::chrono::steady_clock::duration timeout = std::chrono::seconds(15);
  // Bytes kept of each stream; a chattier child is still drained, never blocked.
  std::size_t maxOutput = 16 * 1024 * 1024;
};

// Runs `executable` (a path; PATH is not searched) with `arguments`, no shell, standard
// input /dev/null, standard output and error piped. A program that cannot be started
// throws the child-process layer's ChildProcessError.
asio::awaitable<AsyncCollectedOutput> runToEnd(std::string executable, std::vector<std::string> arguments,
                                               RunToEndOptions options);

}  // namespace qd
