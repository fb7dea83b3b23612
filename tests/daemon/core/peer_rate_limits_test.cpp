#include "daemon/core/peer_rate_limits.h"

#include <gtest/gtest.h>

#include "support/stderr_capture.h"

namespace qd {
namespace {

using namespace std::chrono_literals;

bool admits(PeerRateLimits& limits, const std::string& peer) {
  try {
    limits.enforce(peer);
    return true;
  } catch (const RateLimitExceededError& e) {
    EXPECT_EQ(e.clientID(), peer);
    return false;
  }
}

// A process that connects again goes on with the budget it used; another process has its
// own; once the window has passed since its lines, the process is admitted again.
TEST(PeerRateLimits, AProcessKeepsItsBudgetAcrossItsConnections) {
  test::StderrCapture capture;
  ManualClock clock;
  PeerRateLimits limits(2, 60000, clock);
  limits.connectionOpened("process 10");
  EXPECT_TRUE(admits(limits, "process 10"));
  EXPECT_TRUE(admits(limits, "process 10"));
  EXPECT_FALSE(admits(limits, "process 10"));
  limits.connectionClosed("process 10");

  clock.advance(30s);
  limits.connectionOpened("process 10");
  limits.connectionOpened("process 10");  // two at once share it too
  EXPECT_FALSE(admits(limits, "process 10"));
  limits.connectionOpened("process 11");
  EXPECT_TRUE(admits(limits, "process 11"));

  clock.advance(30s + 1ms);
  EXPECT_TRUE(admits(limits, "process 10"));
}

// A pid is reused once its process has gone: a new process with the old pid has its own
// budget, while the process that used it keeps its used one.
TEST(PeerRateLimits, AProcessIsItsPidAndStartTimeSoARecycledPidStartsAfresh) {
  test::StderrCapture capture;
  ManualClock clock;
  PeerRateLimits limits(1, 60000, clock);
  const auto process = [](std::int32_t pid, std::uint64_t startTime) {
    ClientProcessInfo info;
    info.pid = pid;
    info.startTime = startTime;
    return PeerRateLimits::peerOf("client-1", info);
  };
  limits.connectionOpened(process(4242, 1000));
  EXPECT_TRUE(admits(limits, process(4242, 1000)));
  EXPECT_FALSE(admits(limits, process(4242, 1000)));
  limits.connectionClosed(process(4242, 1000));

  limits.connectionOpened(process(4242, 9000));
  EXPECT_TRUE(admits(limits, process(4242, 9000)));
  limits.connectionOpened(process(4242, 1000));
  EXPECT_FALSE(admits(limits, process(4242, 1000)));

  // Without a pid the connection counts on its own.
  EXPECT_EQ(PeerRateLimits::peerOf("client-7", ClientProcessInfo{}), "client-7");
  EXPECT_EQ(PeerRateLimits::peerOf("client-7", std::nullopt), "client-7");
}

// Many short-lived processes leave nothing behind: a process is forgotten once it has no
// connection and a window has passed since its last one closed; one still connected is
// kept however long ago its lines were.
TEST(PeerRateLimits, ForgetsAProcessOnceItHasNoConnectionAndAWindowHasPassedSinceItsLastClosed) {
  ManualClock clock;
  PeerRateLimits limits(5, 60000, clock);
  limits.connectionOpened("process 1");
  EXPECT_TRUE(admits(limits, "process 1"));
  for (int pid = 100; pid < 1100; ++pid) {
    const std::string peer = "process " + std::to_string(pid);
    limits.connectionOpened(peer);
    EXPECT_TRUE(admits(limits, peer));
    limits.connectionClosed(peer);
  }
  EXPECT_EQ(limits.peerCount(), 1001u);

  clock.advance(60s);  // exactly a window after they closed: still remembered
  limits.connectionOpened("process 2");
  EXPECT_EQ(limits.peerCount(), 1002u);

  clock.advance(PeerRateLimits::sweepInterval);
  limits.connectionClosed("process 2");
  EXPECT_EQ(limits.peerCount(), 2u);  // process 1, still connected, and process 2, closed just now

  clock.advance(10min);
  limits.connectionOpened("process 3");
  EXPECT_EQ(limits.peerCount(), 2u);  // process 1 and process 3
}

}  // namespace
}  // namespace qd
