#include "daemon/logging/log_throttle.h"

#include <utility>

namespace qd {

std::optional<std::int64_t> LogThrottle::admit() {
  const auto now = clock_.now();
  if (lastLogged_ && now - *lastLogged_ < interval_) {
    ++heldBack_;
    return std::nullopt;
  }
  lastLogged_ = now;
  return std::exchange(heldBack_, 0);
}

}  // namespace qd
