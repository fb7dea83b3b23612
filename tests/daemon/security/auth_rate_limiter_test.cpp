#include "daemon/security/auth_rate_limiter.h"

#include <gtest/gtest.h>

namespace qd {
namespace {

using std::chrono::seconds;

TEST(AuthRateLimiter, FiveFailuresLockOutForThirtySecondsThenAllIsForgotten) {
  ManualClock clock;
  AuthRateLimiter limiter(5, 300, 30, clock);
  for (int i = 0; i < 4; ++i) {
    limiter.recordFailure("alice");
    clock.advance(seconds(1));
  }
  EXPECT_EQ(limiter.checkRateLimit("alice"), std::nullopt);
  EXPECT_EQ(limiter.getFailureCount("alice"), 4);

  limiter.recordFailure("alice");
  clock.advance(std::chrono::milliseconds(1));
  auto wait = limiter.checkRateLimit("alice");
  ASSERT_TRUE(wait);
  EXPECT_GT(*wait, 29.9);
  EXPECT_LT(*wait, 30.0);
  EXPECT_EQ(limiter.checkRateLimit("bob"), std::nullopt);  // names are separate

  clock.advance(seconds(20));
  wait = limiter.checkRateLimit("alice");
  ASSERT_TRUE(wait);
  EXPECT_NEAR(*wait, 9.999, 1e-6);

  clock.advance(seconds(11));  // 31 s after the fifth failure
  EXPECT_EQ(limiter.checkRateLimit("alice"), std::nullopt);
  EXPECT_EQ(limiter.getFailureCount("alice"), 0);
  EXPECT_EQ(limiter.getStatistics()["totalAgentsTracked"], 0);
}

TEST(AuthRateLimiter, FailuresOutsideTheWindowDoNotCount) {
  ManualClock clock;
  AuthRateLimiter limiter(5, 300, 30, clock);
  limiter.recordFailure("alice");
  clock.advance(seconds(301));
  for (int i = 0; i < 4; ++i) limiter.recordFailure("alice");
  EXPECT_EQ(limiter.checkRateLimit("alice"), std::nullopt);
  EXPECT_EQ(limiter.getFailureCount("alice"), 4);

  limiter.clearFailures("nobody");
  EXPECT_EQ(limiter.getFailureCount("alice"), 4);
  limiter.clearFailures("alice");
  EXPECT_EQ(limiter.getFailureCount("alice"), 0);
}

TEST(AuthRateLimiter, StatisticsAndCleanup) {
  ManualClock clock;
  AuthRateLimiter limiter(2, 300, 30, clock);
  limiter.recordFailure("locked");
  limiter.recordFailure("locked");
  limiter.recordFailure("once");
  clock.advance(seconds(10));

  const Json stats = limiter.getStatistics();
  EXPECT_EQ(stats["totalAgentsTracked"], 2);
  EXPECT_EQ(stats["agentFailureCounts"], Json({{"locked", 2}, {"once", 1}}));
  EXPECT_EQ(stats["lockedOutAgents"], Json::array({"locked"}));
  EXPECT_EQ(stats["maxAttempts"], 2);
  EXPECT_EQ(stats["windowSeconds"], 300.0);
  EXPECT_EQ(stats["lockoutSeconds"], 30.0);

  clock.advance(seconds(300));  // failures out of the window, but not yet past window + lockout
  EXPECT_EQ(limiter.getStatistics()["agentFailureCounts"], Json({{"locked", 0}, {"once", 0}}));
  limiter.cleanup();
  EXPECT_EQ(limiter.getStatistics()["totalAgentsTracked"], 2);
  clock.advance(seconds(21));
  limiter.cleanup();
  EXPECT_EQ(limiter.getStatistics()["totalAgentsTracked"], 0);
}

}  // namespace
}  // namespace qd
