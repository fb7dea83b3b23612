#include "daemon/queue/request_queue.h"

#include <gtest/gtest.h>

#include <limits>

#include <asio/bind_cancellation_slot.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <asio/redirect_error.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>

#include "daemon/mcp/transport_error.h"
#include "daemon/runtime/coroutine_helpers.h"
#include "support/test_io.h"

namespace qd {
namespace {

using std::chrono::milliseconds;

// Sleeps on the io thread. With `ignoreCancellation` the wait is detached from the
// coroutine's cancellation slot, like an operation that does not stop when told to.
asio::awaitable<void> pause(milliseconds d, bool ignoreCancellation = false) {
  asio::steady_timer timer(co_await asio::this_coro::executor, d);
  if (ignoreCancellation) {
    co_await timer.async_wait(asio::bind_cancellation_slot(asio::cancellation_slot(), asio::use_awaitable));
  } else {
    co_await timer.async_wait(asio::use_awaitable);
  }
}

class RequestQueueTest : public ::testing::Test {
 protected:
  struct Outcome {
    bool done = false;
    std::optional<int> value;
    std::string error;
  };

  // Submits an operation that records its start and end in `events` and answers `value`.
  std::shared_ptr<Outcome> submit(const std::string& name, bool readOnly, std::optional<std::int64_t> timeoutMs,
                                  milliseconds duration, int value = 0, bool ignoreCancellation = false) {
    auto outcome = std::make_shared<Outcome>();
    std::function<asio::awaitable<int>()> op = [this, name, duration, value, ignoreCancellation]() {
      return recordedOperation(this, name, duration, value, ignoreCancellation);
    };
    asio::co_spawn(io, awaitOutcome(queue, readOnly, timeoutMs, std::move(op), outcome), asio::detached);
    return outcome;
  }

  static asio::awaitable<int> recordedOperation(RequestQueueTest* self, std::string name, milliseconds duration,
                                                int value, bool ignoreCancellation) {
    self->events.push_back("start " + name);
    co_await pause(duration, ignoreCancellation);
    self->events.push_back("end " + name);
    if (value < 0) throw std::runtime_error("failed " + name);
    co_return value;
  }

  static asio::awaitable<void> awaitOutcome(std::shared_ptr<RequestQueue> queue, bool readOnly,
                                            std::optional<std::int64_t> timeoutMs,
                                            std::function<asio::awaitable<int>()> op, std::shared_ptr<Outcome> outcome) {
    try {
      outcome->value = co_await queue->enqueue<int>(readOnly, timeoutMs, std::move(op));
    } catch (...) {
      outcome->error = describeException(std::current_exception());
    }
    outcome->done = true;
  }

  void runUntil(const std::function<bool()>& condition) {
    test::runAwaitable(io, waitFor(condition));
  }

  static asio::awaitable<void> waitFor(std::function<bool()> condition) {
    while (!condition()) co_await pause(milliseconds(1));
  }

  std::size_t indexOf(const std::string& event) const {
    auto it = std::find(events.begin(), events.end(), event);
    EXPECT_NE(it, events.end()) << event;
    return static_cast<std::size_t>(it - events.begin());
  }

  asio::io_context io;
  std::shared_ptr<RequestQueue> queue = RequestQueue::create(io.get_executor(), 1000, 60000);
  std::vector<std::string> events;
};

TEST_F(RequestQueueTest, ReadsAtTheHeadRunTogetherAndWritesRunAlone) {
  auto a = submit("A", true, std::nullopt, milliseconds(30), 1);
  auto b = submit("B", true, std::nullopt, milliseconds(10), 2);
  auto c = submit("C", false, std::nullopt, milliseconds(10), 3);
  auto d = submit("D", true, std::nullopt, milliseconds(10), 4);
  runUntil([&] { return d->done; });

  EXPECT_LT(indexOf("start B"), indexOf("end A"));  // A and B overlap
  EXPECT_LT(indexOf("start A"), indexOf("end B"));
  EXPECT_GT(indexOf("start C"), indexOf("end A"));  // C waits for both reads
  EXPECT_GT(indexOf("start C"), indexOf("end B"));
  EXPECT_GT(indexOf("start D"), indexOf("end C"));  // D waits for C
  EXPECT_EQ(a->value, 1);
  EXPECT_EQ(d->value, 4);
  EXPECT_EQ(queue->getStatus().totalProcessed, 4);
}

TEST_F(RequestQueueTest, WriteFirstThenReadsTogether) {
  submit("W", false, std::nullopt, milliseconds(10));
  submit("R1", true, std::nullopt, milliseconds(20));
  submit("R2", true, std::nullopt, milliseconds(20));
  auto r3 = submit("R3", true, std::nullopt, milliseconds(20));
  runUntil([&] { return r3->done; });
  EXPECT_EQ(events[0], "start W");
  EXPECT_EQ(events[1], "end W");
  EXPECT_EQ(std::vector<std::string>(events.begin() + 2, events.begin() + 5),
            (std::vector<std::string>{"start R1", "start R2", "start R3"}));
}

TEST_F(RequestQueueTest, TimeoutAnswersOnlyOnceTheOperationHasStopped) {
  auto slow = submit("slow", false, 50, milliseconds(200), 7, /*ignoreCancellation=*/true);
  runUntil([&] { return slow->done; });
  EXPECT_EQ(slow->error, "Request req-1 timed out after 50ms [layer: queue]");
  EXPECT_EQ(events.back(), "end slow");  // the operation ended before its caller heard
  const auto status = queue->getStatus();
  EXPECT_EQ(status.totalFailed, 1);
  EXPECT_EQ(status.totalProcessed, 0);
  EXPECT_FALSE(status.minLatencyMs);  // failures record no latency
  EXPECT_EQ(status.errorRate, 1.0);
}

TEST_F(RequestQueueTest, TimeoutOfZeroMeansNoneAndAbsentMeansTheDefault) {
  queue = RequestQueue::create(io.get_executor(), 10, 20);
  auto none = submit("none", false, 0, milliseconds(80), 1);
  auto negative = submit("negative", false, -5, milliseconds(40), 2);
  auto fallback = submit("default", false, std::nullopt, milliseconds(500), 3);
  runUntil([&] { return fallback->done; });
  EXPECT_EQ(none->value, 1);
  EXPECT_EQ(negative->value, 2);
  EXPECT_EQ(fallback->error, "Request req-3 timed out after 20ms [layer: queue]");
}

TEST_F(RequestQueueTest, RefusalsUseNoIdAndExecutingRequestsDoNotCount) {
  queue = RequestQueue::create(io.get_executor(), 1, 60000);
  auto running = submit("running", false, std::nullopt, milliseconds(50));
  runUntil([&] { return !events.empty(); });  // now executing, no longer waiting
  auto waiting = submit("waiting", false, std::nullopt, milliseconds(1));
  auto refused = submit("refused", false, std::nullopt, milliseconds(1));
  runUntil([&] { return refused->done; });
  EXPECT_EQ(refused->error, "Queue is full (max 1 requests)");
  runUntil([&] { return waiting->done; });
  auto next = submit("next", true, 1, milliseconds(20));  // times out: its id shows the counter
  runUntil([&] { return next->done; });
  EXPECT_EQ(next->error, "Request req-3 timed out after 1ms [layer: queue]");
}

TEST_F(RequestQueueTest, StatisticsCoverTheLastHundredRequests) {
  EXPECT_EQ(queue->getStatus(), QueueStatus{});
  std::vector<std::shared_ptr<Outcome>> all;
  for (int i = 0; i < 50; ++i) all.push_back(submit("slow", true, std::nullopt, milliseconds(200)));
  for (int i = 0; i < 100; ++i) all.push_back(submit("fast", false, std::nullopt, milliseconds(0)));
  runUntil([&] { return all.back()->done; });
  auto status = queue->getStatus();
  EXPECT_EQ(status.totalProcessed, 150);
  ASSERT_TRUE(status.maxLatencyMs);
  EXPECT_LT(*status.maxLatencyMs, 200.0);  // the slow batch has left the window
  EXPECT_EQ(status.errorRate, 0.0);

  queue = RequestQueue::create(io.get_executor(), 10, 60000);
  for (int i = 0; i < 3; ++i) submit("ok", false, std::nullopt, milliseconds(0));
  auto failing = submit("bad", false, std::nullopt, milliseconds(0), -1);
  runUntil([&] { return failing->done; });
  EXPECT_EQ(failing->error, "failed bad");
  status = queue->getStatus();
  EXPECT_EQ(status.errorRate, 0.25);
  EXPECT_EQ(status.totalFailed, 1);
  EXPECT_EQ(status.totalProcessed, 3);
}

TEST_F(RequestQueueTest, HugeTimeoutsMeanAVeryLongWaitNotAnOverflow) {
  const std::int64_t huge = std::numeric_limits<std::int64_t>::max();
  auto call = submit("huge", false, huge, milliseconds(1), 4);
  runUntil([&] { return call->done; });
  EXPECT_EQ(call->value, 4);
  test::runAwaitable(io, queue->drain(huge));
}

TEST_F(RequestQueueTest, DrainOnAnIdleQueueRefusesLaterRequests) {
  test::runAwaitable(io, queue->drain(1000));
  auto refused = submit("late", false, std::nullopt, milliseconds(1));
  runUntil([&] { return refused->done; });
  EXPECT_EQ(refused->error, "Queue is shutting down, cannot accept new requests");
}

TEST_F(RequestQueueTest, DrainReturnsAtItsTimeoutAndTheRequestStillFinishes) {
  auto busy = submit("busy", false, std::nullopt, milliseconds(300), 9);
  runUntil([&] { return !events.empty(); });
  test::runAwaitable(io, queue->drain(30));
  EXPECT_FALSE(busy->done);
  runUntil([&] { return busy->done; });
  EXPECT_EQ(busy->value, 9);
}

TEST_F(RequestQueueTest, DrainWaitersAreReleasedWhenTheQueueBecomesIdle) {
  auto busy = submit("busy", false, std::nullopt, milliseconds(30), 1);
  runUntil([&] { return !events.empty(); });
  bool firstDone = false, secondDone = false;
  auto drainAndMark = [](std::shared_ptr<RequestQueue> q, bool* flag) -> asio::awaitable<void> {
    co_await q->drain(60000);
    *flag = true;
  };
  asio::co_spawn(io, drainAndMark(queue, &firstDone), asio::detached);
  asio::co_spawn(io, drainAndMark(queue, &secondDone), asio::detached);
  runUntil([&] { return firstDone && secondDone; });
  EXPECT_TRUE(busy->done);
}

TEST(RequestQueueErrors, TimeoutsReportedByLowerLayersNameTheirLayer) {
  struct Case {
    std::string text;
    std::optional<TimeoutLayer> layer;
  };
  const Case cases[] = {
      {"MCP request timed out: tools/call", TimeoutLayer::subprocess},
      {"Process timed out after 15 s", TimeoutLayer::subprocess},
      {"StdioTransport read timed out", TimeoutLayer::transport},
      {"write timed out on transport", TimeoutLayer::transport},
      {"TransportError.timeout", TimeoutLayer::transport},
      {TransportError::timeout("no answer").description(), TimeoutLayer::transport},
      {TransportError::connectionClosed().description(), std::nullopt},
      {"TransportError.closed", std::nullopt},
      {"Timed Out", std::nullopt},
  };
  for (const auto& c : cases) {
    const auto original = std::make_exception_ptr(std::runtime_error(c.text));
    const auto reported = RequestQueue::enrichTimeoutError(original, "req-7", 30000);
    if (!c.layer) {
      EXPECT_EQ(reported, original) << c.text;
      continue;
    }
    try {
      std::rethrow_exception(reported);
    } catch (const QueueError& e) {
      EXPECT_EQ(e.layer(), *c.layer) << c.text;
      EXPECT_EQ(e.id(), "req-7");
      EXPECT_EQ(e.timeoutMs(), 30000);
    } catch (...) {
      ADD_FAILURE() << c.text;
    }
  }
  const auto queueError = std::make_exception_ptr(QueueError::queueFull(3));
  EXPECT_EQ(RequestQueue::enrichTimeoutError(queueError, "req-1", 5), queueError);
}

TEST(RequestQueueErrors, ReadOnlyOperations) {
  for (const char* name : {"get_notes", "get_value", "list_agents", "export_note", "search"}) {
    EXPECT_TRUE(isReadOnlyOperation(name)) << name;
  }
  for (const char* name : {"create_note", "Search", "", "tools/list"}) EXPECT_FALSE(isReadOnlyOperation(name)) << name;
}

}  // namespace
}  // namespace qd
