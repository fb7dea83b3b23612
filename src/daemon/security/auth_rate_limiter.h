#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "daemon/utilities/clock.h"
#include "daemon/utilities/json.h"

namespace qd {

// Counts failed authentications per agent name and locks a name out for a while after
// too many failures within a window. In memory only; used on the daemon's thread only.
// Times come from the steady clock, so a change of the wall clock neither lifts nor
// extends a lockout.
class AuthRateLimiter {
 public:
  // What the daemon uses: 5 failures within 300 s lock a name out for 30 s.
  static constexpr std::int64_t daemonMaxAttempts = 5;
  static constexpr double daemonWindowSeconds = 300.0;
  static constexpr double daemonLockoutSeconds = 30.0;

  AuthRateLimiter(std::int64_t maxAttempts = daemonMaxAttempts, double windowSeconds = daemonWindowSeconds,
                  double lockoutSeconds = daemonLockoutSeconds, const Clock& clock = Clock::system());

  // Adds a failure now and forgets the name's failures that left the window.
  void recordFailure(const std::string& agentName);
  // Forgets the name entirely (after a successful authentication).
  void clearFailures(std::string_view agentName);
  // The seconds the name must still wait, or none when it may try now. The first check
  // after a lockout has passed forgets all of the name's failures.
  std::optional<double> checkRateLimit(std::string_view agentName);
  // Failures within the window; changes nothing.
  std::int64_t getFailureCount(std::string_view agentName) const;
  // Drops failures older than the window plus the lockout, and names left without any.
  void cleanup();
  // {"totalAgentsTracked", "agentFailureCounts", "lockedOutAgents", "maxAttempts",
  //  "windowSeconds", "lockoutSeconds"}
  Json getStatistics() const;

 private:
  using TimePoint = std::chrono::steady_clock::time_point;
  using Failures = std::deque<TimePoint>;

  TimePoint windowStart(TimePoint now) const;
  std::int64_t recentCount(const Failures& failures, TimePoint now) const;

  std::map<std::string, Failures, std::less<>> failedAttempts_;
  std::int64_t maxAttempts_;
  std::chrono::steady_clock::duration window_;
  std::chrono::steady_clock::duration lockout_;
  double windowSeconds_;
  double lockoutSeconds_;
  const Clock& clock_;
};

}  // namespace qd
