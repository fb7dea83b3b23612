#include "daemon/security/rate_limiter.h"

#include <gtest/gtest.h>

#include "daemon/config/configuration.h"
#include "daemon/utilities/json.h"
#include "support/stderr_capture.h"

namespace qd {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(RateLimiter, SlidingWindowAdmitsAgainAsOldRequestsLeave) {
  ManualClock clock;
  test::StderrCapture capture;
  RateLimiter limiter(2, 1000, clock);
  EXPECT_EQ(limiter.requestCount("c1"), 0);
  EXPECT_TRUE(limiter.checkRateLimit("c1"));
  clock.advance(milliseconds(10));
  EXPECT_TRUE(limiter.checkRateLimit("c1"));
  EXPECT_FALSE(limiter.checkRateLimit("c1"));
  EXPECT_EQ(limiter.requestCount("c1"), 2);  // the refused one is not counted
  EXPECT_TRUE(limiter.checkRateLimit("c2"));  // clients are separate

  // Exactly one window after the first request it still counts; just after, it has left.
  clock.advance(milliseconds(990));
  EXPECT_FALSE(limiter.checkRateLimit("c1"));
  clock.advance(milliseconds(1));
  EXPECT_TRUE(limiter.checkRateLimit("c1"));
  EXPECT_FALSE(limiter.checkRateLimit("c1"));
}

// A client refused in a loop leaves one warning a second, counting the refusals it left
// out since the last; each client has its own second.
TEST(RateLimiter, RefusalsAreLoggedAtMostOnceASecondPerClientWithTheCountLeftOut) {
  ManualClock clock;
  test::StderrCapture capture;
  RateLimiter limiter(1, 60000, clock);
  EXPECT_TRUE(limiter.checkRateLimit("c1"));
  EXPECT_TRUE(limiter.checkRateLimit("c2"));
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(limiter.checkRateLimit("c1"));
  EXPECT_FALSE(limiter.checkRateLimit("c2"));
  clock.advance(milliseconds(999));
  EXPECT_FALSE(limiter.checkRateLimit("c1"));
  clock.advance(milliseconds(1));
  EXPECT_FALSE(limiter.checkRateLimit("c1"));

  std::vector<Json> logged;
  for (const std::string& text : capture.lines()) {
    const Json line = parseJson(text);
    EXPECT_EQ(line["component"], "Security");
    EXPECT_EQ(line["message"], "Rate limit exceeded");
    logged.push_back(line["metadata"]);
  }
  const auto metadata = [](const char* client, int omitted) {
    return Json{{"clientID", client}, {"requests", 1}, {"limit", 1}, {"windowSeconds", 60}, {"omitted", omitted}};
  };
  EXPECT_EQ(logged, (std::vector<Json>{metadata("c1", 0), metadata("c2", 0), metadata("c1", 4)}));
}

TEST(RateLimiter, EnforceThrowsWithTheConfiguredLimitInItsText) {
  ManualClock clock;
  test::StderrCapture capture;
  const Configuration defaults{platform::Environment{{"HOME", "/nonexistent"}}};
  RateLimiter limiter(defaults, clock);
  for (int i = 0; i < 300; ++i) limiter.enforceRateLimit("c1");
  try {
    limiter.enforceRateLimit("c1");
    FAIL() << "the 301st request within a minute was admitted";
  } catch (const RateLimitExceededError& e) {
    EXPECT_EQ(e.description(), "Rate limit exceeded for client c1: 300 requests in 60s window");
    EXPECT_EQ(e.requestCount(), 300);
    EXPECT_EQ(e.windowSeconds(), 60);
  }
  const Configuration tight{platform::Environment{{"HOME", "/nonexistent"}, {"TINDERBOX_RATE_LIMIT_REQUESTS", "3"}}};
  RateLimiter configured(tight, clock);
  for (int i = 0; i < 3; ++i) configured.enforceRateLimit("c1");
  EXPECT_THROW(configured.enforceRateLimit("c1"), RateLimitExceededError);
}

TEST(RateLimiter, StaleClientsAreForgottenAtTheNextCleanup) {
  ManualClock clock;
  RateLimiter limiter(5, 60000, clock);
  limiter.checkRateLimit("idle");
  limiter.checkRateLimit("busy");
  clock.advance(seconds(250));
  limiter.checkRateLimit("busy");
  EXPECT_EQ(limiter.clientCount(), 2);
  clock.advance(seconds(51));  // 301 s after construction: cleanup runs
  limiter.checkRateLimit("busy");
  EXPECT_EQ(limiter.clientCount(), 1);
  EXPECT_EQ(limiter.requestCount("idle"), 0);
  limiter.removeClient("busy");
  EXPECT_EQ(limiter.clientCount(), 0);
  limiter.checkRateLimit("a");
  limiter.reset();
  EXPECT_EQ(limiter.clientCount(), 0);
}

}  // namespace
}  // namespace qd
