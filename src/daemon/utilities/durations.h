#pragma once

// The one step from a number of milliseconds or seconds, as configuration, peers and files
// give them, to a std::chrono duration. A plain conversion overflows (undefined behaviour)
// for large values, because the clocks count nanoseconds in 64 bits; these saturate.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>

namespace qd {

// The longest time-out anything waits: a century, far beyond any run and far from the
// end of the steady clock's range, so now() + it cannot overflow either.
inline constexpr std::chrono::steady_clock::duration kLongestTimeout = std::chrono::hours(24 * 365 * 100);

// A time-out in milliseconds: 0 or less is zero, anything beyond a century is a century.
constexpr std::chrono::steady_clock::duration timeoutFromMilliseconds(std::int64_t ms) {
  if (ms <= 0) return std::chrono::steady_clock::duration::zero();
  constexpr std::int64_t longestMs = std::chrono::duration_cast<std::chrono::milliseconds>(kLongestTimeout).count();
  return std::chrono::milliseconds(std::min(ms, longestMs));
}

// A time-out in seconds, fractions kept to the clock's tick: negative or NaN is zero,
// anything beyond a century (infinity included) is a century.
inline std::chrono::steady_clock::duration timeoutFromSeconds(double seconds) {
  if (!(seconds > 0)) return std::chrono::steady_clock::duration::zero();
  constexpr double longestSeconds = std::chrono::duration<double>(kLongestTimeout).count();
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(std::min(seconds, longestSeconds)));
}

// Milliseconds as `Duration`, clamped to what `Duration` can hold (for points in time
// read from files, which may hold anything).
template <class Duration>
constexpr Duration saturatingFromMilliseconds(std::int64_t ms) {
  constexpr std::int64_t most = std::chrono::duration_cast<std::chrono::milliseconds>(Duration::max()).count();
  constexpr std::int64_t least = std::chrono::duration_cast<std::chrono::milliseconds>(Duration::min()).count();
  return std::chrono::duration_cast<Duration>(std::chrono::milliseconds(std::clamp(ms, least, most)));
}

}  // namespace qd
