#include "daemon/runtime/process_runner.h"

#include <chrono>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <memory>
#include <mutex>
#include <unordered_map>

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
    if (!child->waitForExit(std::chrono::milliseconds(200))) child->signalGroup(SIGKILL);
    child->reap();
    throw ProcessRunnerError(errorDomain, 2, failureDescription + ": timed out after " + wholeSeconds(timeoutSeconds) + "s");
  }

  const ExitStatus status = child->reap();
  if (status.success()) return decodeTrimmed(output.standardOutput);
  // A child ended by a signal has no exit status; report it as the platform does, by the
  // signal number.
  const std::string standardError = decodeTrimmed(output.standardError);
  throw ProcessRunnerError(errorDomain, status.code, standardError.empty() ? failureDescription : standardError);
}

}  // namespace ProcessRunner
}  // namespace qd
