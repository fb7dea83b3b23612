#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>

#include "daemon/logging/log_throttle.h"
#include "daemon/utilities/clock.h"
#include "daemon/utilities/error.h"

namespace qd {

class Configuration;

class RateLimitExceededError : public Error {
 public:
  enum class Kind { exceeded };
  // "Rate limit exceeded for client c1: 300 requests in 60s window"
  RateLimitExceededError(std::string clientID, std::int64_t requestCount, std::int64_t windowSeconds);
  Kind kind() const { return Kind::exceeded; }
  const std::string& clientID() const { return clientID_; }
  std::int64_t requestCount() const { return requestCount_; }
  std::int64_t windowSeconds() const { return windowSeconds_; }

 private:
  std::string clientID_;
  std::int64_t requestCount_;
  std::int64_t windowSeconds_;
};

// Limits the requests of each client within a sliding window. The socket server keeps one
// for its clients, each client a process with all its connections, and checks it before
// reading each message. In memory only; used on the daemon's thread only. Times come from
// the steady clock.
class RateLimiter {
 public:
  static constexpr double cleanupIntervalSeconds = 300.0;

  // The configured request count (TINDERBOX_RATE_LIMIT_REQUESTS, 300 by default) per
  // rateLimitWindow (60 s).
  explicit RateLimiter(const Configuration& configuration, const Clock& clock = Clock::system());
  RateLimiter();  // Configuration::shared()
  RateLimiter(std::int64_t maxRequests, std::int64_t windowMs, const Clock& clock = Clock::system());

  // True when the request is accepted and counted. A refused request is not counted and
  // logs a "Rate limit exceeded" warning, at most one a second per client, each with the
  // number of refusals it left out since the last ("omitted").
  bool checkRateLimit(const std::string& clientID);
  // Throws RateLimitExceededError on refusal.
  void enforceRateLimit(const std::string& clientID);
  // Accepted requests within the window; changes nothing.
  std::int64_t requestCount(std::string_view clientID) const;
  std::int64_t clientCount() const { return static_cast<std::int64_t>(clients_.size()); }
  void removeClient(std::string_view clientID);
  void reset() { clients_.clear(); }

 private:
  using TimePoint = std::chrono::steady_clock::time_point;
  struct ClientWindow {
    explicit ClientWindow(const Clock& clock) : refusalLog(clock, std::chrono::seconds(1)) {}
    std::deque<TimePoint> timestamps;  // oldest first
    LogThrottle refusalLog;
  };

  std::int64_t wholeWindowSeconds() const { return static_cast<std::int64_t>(windowSeconds_); }
  void cleanupStaleClients(TimePoint before);

  std::int64_t maxRequests_;
  double windowSeconds_;
  std::chrono::steady_clock::duration window_;
  std::map<std::string, ClientWindow, std::less<>> clients_;
  const Clock& clock_;
  TimePoint lastCleanup_;
};

}  // namespace qd
