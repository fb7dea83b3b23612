#pragma once

// Runs one short-lived program to its end under a time-out and returns what it printed.
// Calls are grouped in lanes: one program at a time per lane (callers that drive the same
// application share its lane), different lanes side by side. From the io thread, await
// runAsync: it waits for the lane there and only then hands the blocking run to the pool,
// so a busy lane never holds a pool thread. run() blocks its calling thread for the whole
// run, the wait for the lane included.

#include <cstdint>
#include <string>
#include <vector>

#include <asio/awaitable.hpp>

#include "daemon/runtime/async_mutex.h"
#include "daemon/runtime/blocking_pool.h"
#include "daemon/utilities/error.h"

namespace qd {

// A failed run, with the caller's error domain, a code and a message. Its description
// reads like a platform domain error, `Error Domain=<domain> Code=<code> "<message>"`, so
// code that looks for "timed out" in an error's text finds it; message() is the bare text.
//
// Codes: 1 the program could not be launched; 2 it was still running at the time-out;
// otherwise the program's non-zero exit status (statuses 1 and 2 share the codes above,
// the messages tell them apart).
class ProcessRunnerError : public Error {
 public:
  ProcessRunnerError(std::string domain, std::int64_t code, std::string message);
  const std::string& domain() const { return domain_; }
  std::int64_t code() const { return code_; }
  const std::string& message() const { return message_; }

 private:
  std::string domain_;
  std::int64_t code_;
  std::string message_;
};

namespace ProcessRunner {

// Runs `executable` (an absolute path) with `arguments` (no shell) under the lane's lock.
// Standard input is /dev/null and the environment is the program's. Returns standard
// output as UTF-8 with leading and trailing white space removed, "" when it is not valid
// UTF-8. Errors (ProcessRunnerError, domain `errorDomain`):
//   code 1: `failureDescription` + ": " + the launch error's text
//   code 2: `failureDescription` + ": timed out after " + whole seconds + "s"; the child
//           and its group get SIGTERM, then SIGKILL 200 ms later. The error is thrown
//           right after the kill: a child that has not ended by then (one stuck in the
//           kernel) is reaped by a background thread, so it holds neither caller nor lane.
//   status: the trimmed standard error, or `failureDescription` when that is empty
std::string run(const std::string& executable, const std::vector<std::string>& arguments, const std::string& lane,
                double timeoutSeconds, const std::string& errorDomain, const std::string& failureDescription);

// The io-thread lock of a lane, for blocking work other than a program run that must take
// its turn with the lane's other users (a database query handed to the pool afterwards).
// The same queue runAsync waits in; the lane is free again when the guard goes.
asio::awaitable<AsyncMutex::Guard> lockLane(std::string lane);

// run() for a coroutine on the io thread: the lane is taken there, through an AsyncMutex
// per lane and io context (callers queue in arrival order and no thread waits), then the
// run goes to `pool`. Runs of other lanes and other blocking work are never held up by a
// busy lane. Cancelling the caller while it waits for the lane leaves the queue; once the
// run has started it goes to its end (or its time-out).
asio::awaitable<std::string> runAsync(BlockingPool& pool, std::string executable, std::vector<std::string> arguments,
                                      std::string lane, double timeoutSeconds, std::string errorDomain,
                                      std::string failureDescription);

}  // namespace ProcessRunner
}  // namespace qd
