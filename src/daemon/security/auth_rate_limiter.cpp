#include "daemon/security/auth_rate_limiter.h"

#include <algorithm>

namespace qd {
namespace {

std::chrono::steady_clock::duration fromSeconds(double seconds) {
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
}

double toSeconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

AuthRateLimiter::AuthRateLimiter(std::int64_t maxAttempts, double windowSeconds, double lockoutSeconds,
                                 const Clock& clock)
    : maxAttempts_(maxAttempts),
      window_(fromSeconds(windowSeconds)),
      lockout_(fromSeconds(lockoutSeconds)),
      windowSeconds_(windowSeconds),
      lockoutSeconds_(lockoutSeconds),
      clock_(clock) {}

AuthRateLimiter::TimePoint AuthRateLimiter::windowStart(TimePoint now) const { return now - window_; }

// Failures are stored oldest first, so the recent ones are a suffix.
std::int64_t AuthRateLimiter::recentCount(const Failures& failures, TimePoint now) const {
  const TimePoint start = windowStart(now);
  auto firstRecent = std::upper_bound(failures.begin(), failures.end(), start);
  return static_cast<std::int64_t>(failures.end() - firstRecent);
}

void AuthRateLimiter::recordFailure(const std::string& agentName) {
  const TimePoint now = clock_.now();
  Failures& failures = failedAttempts_[agentName];
  failures.push_back(now);
  const TimePoint start = windowStart(now);
  while (!failures.empty() && failures.front() <= start) failures.pop_front();
}

void AuthRateLimiter::clearFailures(std::string_view agentName) {
  if (auto it = failedAttempts_.find(agentName); it != failedAttempts_.end()) failedAttempts_.erase(it);
}

std::optional<double> AuthRateLimiter::checkRateLimit(std::string_view agentName) {
  auto it = failedAttempts_.find(agentName);
  if (it == failedAttempts_.end()) return std::nullopt;
  const TimePoint now = clock_.now();
  const std::int64_t recent = recentCount(it->second, now);
  if (recent < maxAttempts_ || recent == 0) return std::nullopt;
  const TimePoint lockoutEnd = it->second.back() + lockout_;
  if (lockoutEnd > now) return toSeconds(lockoutEnd - now);
  failedAttempts_.erase(it);
  return std::nullopt;
}

std::int64_t AuthRateLimiter::getFailureCount(std::string_view agentName) const {
  auto it = failedAttempts_.find(agentName);
  return it == failedAttempts_.end() ? 0 : recentCount(it->second, clock_.now());
}

void AuthRateLimiter::cleanup() {
  const TimePoint cutoff = clock_.now() - window_ - lockout_;
  for (auto it = failedAttempts_.begin(); it != failedAttempts_.end();) {
    Failures& failures = it->second;
    while (!failures.empty() && failures.front() <= cutoff) failures.pop_front();
    it = failures.empty() ? failedAttempts_.erase(it) : std::next(it);
  }
}

Json AuthRateLimiter::getStatistics() const {
  const TimePoint now = clock_.now();
  Json counts = Json::object();
  Json locked = Json::array();
  for (const auto& [name, failures] : failedAttempts_) {
    const std::int64_t recent = recentCount(failures, now);
    counts[name] = recent;
    if (recent > 0 && recent >= maxAttempts_ && failures.back() + lockout_ > now) locked.push_back(name);
  }
  return Json{
      {"totalAgentsTracked", static_cast<std::int64_t>(failedAttempts_.size())},
      {"agentFailureCounts", std::move(counts)},
      {"lockedOutAgents", std::move(locked)},
      {"maxAttempts", maxAttempts_},
      {"windowSeconds", windowSeconds_},
      {"lockoutSeconds", lockoutSeconds_},
  };
}

}  // namespace qd
