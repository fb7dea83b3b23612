#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <asio/detached.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>

#include "daemon/runtime/async_mutex.h"
#include "daemon/runtime/blocking_pool.h"
#include "daemon/runtime/coroutine_helpers.h"
#include "daemon/runtime/io_thread.h"
#include "daemon/runtime/one_shot.h"
#include "support/test_io.h"
#include "support/stderr_capture.h"

namespace qd {
namespace {

using namespace std::chrono_literals;
using test::runAwaitable;

struct Probe {
  bool started = false;
  bool ended = false;
  bool cancelled = false;
};

asio::awaitable<int> sleepThenReturn(std::shared_ptr<Probe> probe, std::chrono::milliseconds delay, int value) {
  probe->started = true;
  asio::steady_timer timer(co_await asio::this_coro::executor, delay);
  try {
    co_await timer.async_wait(asio::use_awaitable);
  } catch (const std::system_error&) {
    probe->cancelled = true;
    probe->ended = true;
    throw;
  }
  probe->ended = true;
  co_return value;
}

asio::awaitable<int> failSoon() {
  asio::steady_timer timer(co_await asio::this_coro::executor, 1ms);
  co_await timer.async_wait(asio::use_awaitable);
  throw std::runtime_error("boom");
}

TEST(WithTimeout, ReturnsTheValueWhenTheOperationWins) {
  asio::io_context io;
  auto probe = std::make_shared<Probe>();
  auto result = runAwaitable(io, withTimeout(sleepThenReturn(probe, 1ms, 7), 60s));
  EXPECT_EQ(result, 7);
}

TEST(WithTimeout, CancelsTheLoserAndWaitsForItsEnd) {
  asio::io_context io;
  auto probe = std::make_shared<Probe>();
  auto result = runAwaitable(io, withTimeout(sleepThenReturn(probe, 3600s, 7), 10ms));
  EXPECT_FALSE(result.has_value());
  // The loser has already run its cancellation path when the race returns.
  EXPECT_TRUE(probe->ended);
  EXPECT_TRUE(probe->cancelled);
}

TEST(WithTimeout, RethrowsTheOperationsErrorWithoutWaitingForTheTimer) {
  asio::io_context io;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(runAwaitable(io, withTimeout(failSoon(), 3600s)), std::runtime_error);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 60s);
}

TEST(OneShot, SettlesOnceWhicheverSideComesFirst) {
  asio::io_context io;
  auto early = std::make_shared<OneShot<std::string>>(io.get_executor());
  EXPECT_TRUE(early->resume("first"));
  EXPECT_FALSE(early->resume("second"));
  EXPECT_FALSE(early->fail(std::make_exception_ptr(std::runtime_error("late"))));
  EXPECT_EQ(runAwaitable(io, early->wait()), "first");

  auto late = std::make_shared<OneShot<std::string>>(io.get_executor());
  asio::post(io, [late] { late->fail(std::make_exception_ptr(std::runtime_error("failed"))); });
  EXPECT_THROW(runAwaitable(io, late->wait()), std::runtime_error);
}

asio::awaitable<std::string> waitOn(std::shared_ptr<OneShot<std::string>> shot) { co_return co_await shot->wait(); }

TEST(OneShot, AWaiterThatLosesARaceEndsAndLeavesTheHandleUnsettled) {
  asio::io_context io;
  auto shot = std::make_shared<OneShot<std::string>>(io.get_executor());
  auto result = runAwaitable(io, withTimeout(waitOn(shot), 5ms));
  EXPECT_FALSE(result.has_value());
  EXPECT_FALSE(shot->isSettled());
  EXPECT_TRUE(shot->resume("nobody listens"));  // harmless
}

struct Counter {
  int runs = 0;
};

asio::awaitable<void> bump(std::shared_ptr<Counter> counter) {
  ++counter->runs;
  co_return;
}

TEST(StartWeakTask, RunsOnlyWhileTheObjectExists) {
  asio::io_context io;
  auto alive = std::make_shared<Counter>();
  auto gone = std::make_shared<Counter>();
  std::weak_ptr<Counter> goneWeak = gone;
  startWeakTask(io.get_executor(), std::weak_ptr<Counter>(alive), &bump, "Test", "bump");
  startWeakTask(io.get_executor(), goneWeak, &bump, "Test", "bump");
  gone.reset();
  io.run();
  EXPECT_EQ(alive->runs, 1);
  EXPECT_TRUE(goneWeak.expired());
}

asio::awaitable<std::thread::id> blockingThreadId(BlockingPool& pool) {
  co_return co_await runBlocking(pool, [] { return std::this_thread::get_id(); });
}

asio::awaitable<void> blockingFailure(BlockingPool& pool) {
  co_await runBlocking(pool, []() -> void { throw std::runtime_error("blocked and failed"); });
}

asio::awaitable<std::thread::id> resumedOn(BlockingPool& pool) {
  co_await runBlocking(pool, [] {});
  co_return std::this_thread::get_id();
}

TEST(RunBlocking, RunsOnThePoolAndResumesOnTheCallersThread) {
  asio::io_context io;
  BlockingPool pool(2);
  EXPECT_NE(runAwaitable(io, blockingThreadId(pool)), std::this_thread::get_id());
  EXPECT_EQ(runAwaitable(io, resumedOn(pool)), std::this_thread::get_id());
  EXPECT_THROW(runAwaitable(io, blockingFailure(pool)), std::runtime_error);
}

asio::awaitable<void> holdLock(AsyncMutex& mutex, std::vector<int>& order, int id) {
  auto guard = co_await mutex.lock();
  order.push_back(id);
  asio::steady_timer timer(co_await asio::this_coro::executor, 2ms);
  co_await timer.async_wait(asio::use_awaitable);
  order.push_back(-id);
}

TEST(AsyncMutex, GrantsInArrivalOrderWithoutInterleaving) {
  asio::io_context io;
  AsyncMutex mutex(io.get_executor());
  std::vector<int> order;
  for (int id = 1; id <= 3; ++id) asio::co_spawn(io, holdLock(mutex, order, id), asio::detached);
  io.run();
  EXPECT_EQ(order, (std::vector<int>{1, -1, 2, -2, 3, -3}));
  EXPECT_FALSE(mutex.isLocked());
}

}  // namespace
}  // namespace qd

namespace qd {
namespace {

using namespace std::chrono_literals;

asio::awaitable<std::thread::id> threadOfTask() { co_return std::this_thread::get_id(); }

asio::awaitable<void> failingTask() {
  throw std::runtime_error("task broke");
  co_return;
}

TEST(IoThread, RunsTasksOnItsOwnThreadAndLogsTheirFailures) {
  test::StderrCapture stderrCapture;
  IoThread io;
  std::promise<std::thread::id> ran;
  asio::co_spawn(io.executor(), threadOfTask(), [&](std::exception_ptr, std::thread::id id) { ran.set_value(id); });
  const auto id = ran.get_future().get();
  EXPECT_NE(id, std::this_thread::get_id());

  startTask(io.executor(), failingTask(), "Test", "failing");
  const std::string expected = R"("message":"Task failed","metadata":{"task":"failing","error":"task broke"})";
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (stderrCapture.text().find(expected) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
  io.stop();
  EXPECT_NE(stderrCapture.text().find(expected), std::string::npos) << stderrCapture.text();
}

}  // namespace
}  // namespace qd
