#pragma once

#include <chrono>
#include <cstdint>

#include "daemon/utilities/durations.h"

namespace qd {

// Milliseconds since 1970-01-01T00:00:00Z, truncated toward zero (so 1.5 ms before 1970
// is -1, not -2).
constexpr std::int64_t unixMilliseconds(std::chrono::system_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

// A stamp beyond what the clock can hold (a crafted file) is clamped to its range.
constexpr std::chrono::system_clock::time_point dateFromUnixMilliseconds(std::int64_t ms) {
  return std::chrono::system_clock::time_point(saturatingFromMilliseconds<std::chrono::system_clock::duration>(ms));
}

}  // namespace qd
