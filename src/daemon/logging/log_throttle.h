#pragma once

// Lets one log line of a kind through per interval and counts the events it holds back, so
// an event that any peer can cause in a loop leaves a line a second, not a line each time.

#include <chrono>
#include <cstdint>
#include <optional>

#include "daemon/utilities/clock.h"

namespace qd {

class LogThrottle {
 public:
  LogThrottle(const Clock& clock, std::chrono::steady_clock::duration interval) : clock_(clock), interval_(interval) {}

  // Counts one event. When it is to be logged: the number of events held back since the
  // last logged one (0 for the first); none when it is held back itself.
  std::optional<std::int64_t> admit();

 private:
  const Clock& clock_;
  const std::chrono::steady_clock::duration interval_;
  std::optional<std::chrono::steady_clock::time_point> lastLogged_;
  std::int64_t heldBack_ = 0;
};

}  // namespace qd
