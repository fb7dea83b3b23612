#pragma once

// Helpers every actor uses to start tasks and to race an operation against a time-out.
//
// g++ 12 destroys some temporaries of a co_await expression twice: the captures of a lambda
// coroutine written inside it (`co_await co_spawn(ex, [x]() -> awaitable<T> {...}, ...)`),
// and a temporary with a destructor passed by value to the awaited coroutine
// (`co_await send(Message{...})`, `co_await request("ping")` for a std::string parameter).
// Start named functions or member coroutines that take their arguments by value, and pass
// them named values (`Message m{...}; co_await send(std::move(m));`). The sanitizer build
// catches a slip.

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/co_spawn.hpp>
#include <asio/experimental/deferred.hpp>
#include <asio/experimental/parallel_group.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

namespace qd {

// The text of an error for logs and replies: a qd::Error's fixed description, any other
// exception's what(), "Unknown error" for anything else.
std::string describeException(const std::exception_ptr& error);

// The completion handler of a started task: logs a failure (component, "Task failed",
// metadata "task" and "error") instead of letting it vanish or reach the io loop.
struct LogTaskFailure {
  std::string component;
  std::string task;
  void operator()(const std::exception_ptr& error) const;
  template <class T>
  void operator()(const std::exception_ptr& error, const T&) const {
    (*this)(error);
  }
};

// "Start a task": runs the coroutine on the executor, independent of the caller.
template <class T>
void startTask(const asio::any_io_executor& executor, asio::awaitable<T> task, std::string component,
               std::string name) {
  asio::co_spawn(executor, std::move(task), LogTaskFailure{std::move(component), std::move(name)});
}

namespace detail {
template <class Object, class Body>
asio::awaitable<void> runHoldingWeakly(std::weak_ptr<Object> weak, Body body) {
  // Holds the object only from the moment the task runs, and only if it still exists.
  if (std::shared_ptr<Object> self = weak.lock()) co_await body(std::move(self));
}
}  // namespace detail

// "Start a task holding X weakly": when the task runs and the object is gone it does
// nothing; otherwise `body(std::shared_ptr<Object>)` (a plain function or a non-capturing
// callable returning awaitable<void>) runs with the object held for the task's duration.
template <class Object, class Body>
void startWeakTask(const asio::any_io_executor& executor, std::weak_ptr<Object> weak, Body body,
                   std::string component, std::string name) {
  startTask(executor, detail::runHoldingWeakly<Object, Body>(std::move(weak), std::move(body)), std::move(component),
            std::move(name));
}

namespace detail {
template <class T>
asio::awaitable<std::optional<T>> asOptional(asio::awaitable<T> op) {
  co_return co_await std::move(op);
}
}  // namespace detail

// Races `op` against a steady timer. The first to finish wins and the other is cancelled;
// both have ended before this returns, so nothing of the loser outlives the race. Returns
// the value when `op` finished first (its exception is rethrown), nothing on time-out. An
// operation that ignores cancellation holds the race until it ends, and its value is then
// dropped. For awaitable<void> the result is true when `op` finished in time.
template <class T>
asio::awaitable<std::conditional_t<std::is_void_v<T>, bool, std::optional<T>>> withTimeout(
    asio::awaitable<T> op, std::chrono::steady_clock::duration limit) {
  auto executor = co_await asio::this_coro::executor;
  asio::steady_timer timer(executor, limit);
  if constexpr (std::is_void_v<T>) {
    auto [order, opError, timerError] =
        co_await asio::experimental::make_parallel_group(
            asio::co_spawn(executor, std::move(op), asio::experimental::deferred),
            timer.async_wait(asio::experimental::deferred))
            .async_wait(asio::experimental::wait_for_one(), asio::use_awaitable);
    (void)timerError;
    if (order[0] == 1) co_return false;
    if (opError) std::rethrow_exception(opError);
    co_return true;
  } else {
    auto [order, opError, value, timerError] =
        co_await asio::experimental::make_parallel_group(
            asio::co_spawn(executor, detail::asOptional(std::move(op)), asio::experimental::deferred),
            timer.async_wait(asio::experimental::deferred))
            .async_wait(asio::experimental::wait_for_one(), asio::use_awaitable);
    (void)timerError;
    if (order[0] == 1) co_return std::nullopt;
    if (opError) std::rethrow_exception(opError);
    co_return std::move(value);
  }
}

}  // namespace qd
