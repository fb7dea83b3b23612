#include "daemon/utilities/durations.h"

#include <gtest/gtest.h>

#include <limits>

#include "daemon/utilities/unix_time.h"

namespace qd {
namespace {

using std::chrono::milliseconds;

TEST(Durations, TimeoutsSaturateInsteadOfOverflowing) {
  constexpr std::int64_t most = std::numeric_limits<std::int64_t>::max();
  EXPECT_EQ(timeoutFromMilliseconds(-1), std::chrono::steady_clock::duration::zero());
  EXPECT_EQ(timeoutFromMilliseconds(0), std::chrono::steady_clock::duration::zero());
  EXPECT_EQ(timeoutFromMilliseconds(1500), milliseconds(1500));
  EXPECT_EQ(timeoutFromMilliseconds(most), kLongestTimeout);
  EXPECT_EQ(timeoutFromSeconds(std::numeric_limits<double>::quiet_NaN()), std::chrono::steady_clock::duration::zero());
  EXPECT_EQ(timeoutFromSeconds(-3), std::chrono::steady_clock::duration::zero());
  EXPECT_EQ(timeoutFromSeconds(0.25), milliseconds(250));
  EXPECT_EQ(timeoutFromSeconds(std::numeric_limits<double>::infinity()), kLongestTimeout);
  EXPECT_EQ(timeoutFromSeconds(1e300), kLongestTimeout);
  // now() + the longest time-out is still a valid point of the clock.
  EXPECT_GT(std::chrono::steady_clock::now() + timeoutFromMilliseconds(most), std::chrono::steady_clock::now());
}

TEST(Durations, StampsFromFilesAreClampedToTheClocksRange) {
  EXPECT_EQ(unixMilliseconds(dateFromUnixMilliseconds(1700000000123)), 1700000000123);
  EXPECT_EQ(dateFromUnixMilliseconds(std::numeric_limits<std::int64_t>::max()).time_since_epoch().count() > 0, true);
  EXPECT_EQ(dateFromUnixMilliseconds(std::numeric_limits<std::int64_t>::min()).time_since_epoch().count() < 0, true);
}

}  // namespace
}  // namespace qd
