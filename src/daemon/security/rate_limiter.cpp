#include "daemon/security/rate_limiter.h"

#include <algorithm>

#include "daemon/config/configuration.h"
#include "daemon/logging/logger.h"

namespace qd {

RateLimitExceededError::RateLimitExceededError(std::string clientID, std::int64_t requestCount,
                                               std::int64_t windowSeconds)
    : Error("Rate limit exceeded for client " + clientID + ": " + std::to_string(requestCount) + " requests in " +
            std::to_string(windowSeconds) + "s window"),
      clientID_(std::move(clientID)),
      requestCount_(requestCount),
      windowSeconds_(windowSeconds) {}

RateLimiter::RateLimiter(const Configuration& configuration, const Clock& clock)
    : RateLimiter(configuration.rateLimitRequests(), Configuration::rateLimitWindow, clock) {}

RateLimiter::RateLimiter() : RateLimiter(Configuration::shared()) {}

RateLimiter::RateLimiter(std::int64_t maxRequests, std::int64_t windowMs, const Clock& clock)
    : maxRequests_(maxRequests),
      windowSeconds_(static_cast<double>(windowMs) / 1000.0),
      window_(std::chrono::milliseconds(windowMs)),
      clock_(clock),
      lastCleanup_(clock.now()) {}

bool RateLimiter::checkRateLimit(const std::string& clientID) {
  const TimePoint now = clock_.now();
  const TimePoint windowStart = now - window_;
  ClientWindow& client = clients_.try_emplace(clientID, clock_).first->second;
  auto& times = client.timestamps;
  // A time equal to the window start still counts.
  while (!times.empty() && times.front() < windowStart) times.pop_front();
  const auto count = static_cast<std::int64_t>(times.size());
  if (count >= maxRequests_) {
    // A client refused in a loop (one that connects again each time) leaves a line a second.
    if (std::optional<std::int64_t> omitted = client.refusalLog.admit()) {
      Logger::warn("Security", "Rate limit exceeded",
                   {{"clientID", clientID}, {"requests", count}, {"limit", maxRequests_},
                    {"windowSeconds", wholeWindowSeconds()}, {"omitted", *omitted}});
    }
    return false;
  }
  times.push_back(now);
  if (now - lastCleanup_ > std::chrono::duration<double>(cleanupIntervalSeconds)) {
    cleanupStaleClients(windowStart);
    lastCleanup_ = now;
  }
  return true;
}

void RateLimiter::enforceRateLimit(const std::string& clientID) {
  if (!checkRateLimit(clientID)) throw RateLimitExceededError(clientID, maxRequests_, wholeWindowSeconds());
}

std::int64_t RateLimiter::requestCount(std::string_view clientID) const {
  auto it = clients_.find(clientID);
  if (it == clients_.end()) return 0;
  const TimePoint windowStart = clock_.now() - window_;
  const auto& times = it->second.timestamps;
  return static_cast<std::int64_t>(times.end() - std::lower_bound(times.begin(), times.end(), windowStart));
}

void RateLimiter::removeClient(std::string_view clientID) {
  if (auto it = clients_.find(clientID); it != clients_.end()) clients_.erase(it);
}

void RateLimiter::cleanupStaleClients(TimePoint before) {
  std::erase_if(clients_, [before](const auto& entry) {
    const auto& times = entry.second.timestamps;
    return times.empty() || times.back() < before;
  });
}

}  // namespace qd
