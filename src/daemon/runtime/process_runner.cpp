#include "daemon/runtime/process_runner.h"

#include <chrono>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <memory>
#include <mutex>
#include <unordered_map>

#include <asio/execution/context.hpp>
#include <asio/execution_context.hpp>
#include <asio/query.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>

#include "daemon/runtime/async_mutex.h"
#include "daemon/runtime/child_process.h"
#include "daemon/runtime/collect_output.h"
#include "daemon/runtime/text_trim.h"
#include "daemon/utilities/durations.h"
#include "daemon/utilities/unicode_text.h"

namespace qd {

ProcessRunnerError::ProcessRunnerError(std::string domain, std::int64_t code, std::string message)
    : Error("Error Domain=" + domain + " Code=" + std::to_string(code) + " \"" + message + "\""),
      domain_(std::move(domain)),
      code_(code),
      message_(std::move(message)) {}

namespace {

// One lock per lane name, created on first use and kept for the life of the process. The
// registry's own lock is held only to find or create a lane's lock, never during a run.
class LaneLockRegistry {
 public:
  static LaneLockRegistry& shared() {
    static LaneLockRegistry* instance = new LaneLockRegistry();  // outlives every caller
    return *instance;
  }
  std::mutex& lock(const std::string& lane) {
    std::lock_guard guard(registryLock_);
    auto& slot = locks_[lane];
    if (!slot) slot = std::make_unique<std::mutex>();
    return *slot;
  }

 private:
  std::mutex registryLock_;
  std::unordered_map<std::string, std::unique_ptr<std::mutex>> locks_;
};

// The io-thread side of the lanes: one AsyncMutex per lane name for each io context,
// created on first use and kept as long as the context. A service of the context, so
// the mutexes never outlive the executor they resume waiters on.
class AsyncLaneLocks : public asio::execution_context::service {
 public:
  using key_type = AsyncLaneLocks;
  static asio::execution_context::id id;

  explicit AsyncLaneLocks(asio::execution_context& context) : service(context) {}

  AsyncMutex& lock(const std::string& lane, const asio::any_io_executor& executor) {
    auto& slot = locks_[lane];
    if (!slot) slot = std::make_unique<AsyncMutex>(executor);
    return *slot;
  }

 private:
  void shutdown() override {}

  std::unordered_map<std::string, std::unique_ptr<AsyncMutex>> locks_;
};

asio::execution_context::id AsyncLaneLocks::id;

std::string decodeTrimmed(const std::string& bytes) {
  if (!unicode::isValidUtf8(bytes)) return "";
  return trimWhitespaceAndNewlines(bytes);
}

std::string wholeSeconds(double seconds) {
  if (!std::isfinite(seconds)) return seconds > 0 ? "inf" : "0";
  return std::to_string(static_cast<long long>(std::trunc(std::clamp(seconds, -9.0e18, 9.0e18))));
}

}  // namespace

namespace ProcessRunner {

std::string run(const std::string& executable, const std::vector<std::string>& arguments, const std::string& lane,
                double timeoutSeconds, const std::string& errorDomain, const std::string& failureDescription) {
  std::lock_guard laneLock(LaneLockRegistry::shared().lock(lane));

  SpawnOptions options;
  options.executable = executable;
  options.arguments = arguments;
  // The program's own standard input may be a protocol stream (client mode): a script
  // that reads its input must not consume it.
  options.stdinMode = StdioMode::null;
  std::unique_ptr<ChildProcess> child;
  try {
    child = ChildProcess::spawn(options);
  } catch (const ChildProcessError& e) {
    throw ProcessRunnerError(errorDomain, 1, failureDescription + ": " + e.description());
  }

  const auto deadline = std::chrono::steady_clock::now() + timeoutFromSeconds(timeoutSeconds);
  CollectedOutput output = collectUntilExit(*child, deadline);
  if (output.timedOut) {
    child->signalGroup(SIGTERM);
    // SIGKILL whether or not the child obeyed: a member of its group may not have; until the
    // child is reaped its pid still names the group.
    child->waitForExit(std::chrono::milliseconds(200));
    child->signalGroup(SIGKILL);
    // SIGKILL ends the child soon, but not always at once (it may be stuck in the kernel,
    // or held by a tracer): the caller must not wait for that.
    if (!child->reapIfExited()) reapInBackground(std::move(child));
    throw ProcessRunnerError(errorDomain, 2, failureDescription + ": timed out after " + wholeSeconds(timeoutSeconds) + "s");
  }

  const ExitStatus status = child->reap();
  if (status.success()) return decodeTrimmed(output.standardOutput);
  // A child ended by a signal has no exit status; report it as the platform does, by the
  // signal number.
  const std::string standardError = decodeTrimmed(output.standardError);
  throw ProcessRunnerError(errorDomain, status.code, standardError.empty() ? failureDescription : standardError);
}

asio::awaitable<AsyncMutex::Guard> lockLane(std::string lane) {
  const asio::any_io_executor executor = co_await asio::this_coro::executor;
  auto& context = asio::query(executor, asio::execution::context);
  // The waiters' timers must die before their service: a timer made first registers the
  // timer service before the lanes', so it is shut down and destroyed after them.
  { asio::steady_timer registerTimerService(executor); }
  AsyncMutex& laneLock = asio::use_service<AsyncLaneLocks>(context).lock(lane, executor);
  co_return co_await laneLock.lock();
}

asio::awaitable<std::string> runAsync(BlockingPool& pool, std::string executable, std::vector<std::string> arguments,
                                      std::string lane, double timeoutSeconds, std::string errorDomain,
                                      std::string failureDescription) {
  AsyncMutex::Guard guard = co_await lockLane(lane);
  // run() takes the lane's thread lock too, which is free here unless a blocking caller
  // outside this io context holds the lane: both kinds of callers stay serialised.
  auto work = [executable = std::move(executable), arguments = std::move(arguments), lane = std::move(lane),
               timeoutSeconds, errorDomain = std::move(errorDomain),
               failureDescription = std::move(failureDescription)] {
    return run(executable, arguments, lane, timeoutSeconds, errorDomain, failureDescription);
  };
  co_return co_await runBlocking(pool, std::move(work));
}

}  // namespace ProcessRunner
}  // namespace qd
