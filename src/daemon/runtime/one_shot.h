#pragma once

#include <exception>
#include <optional>
#include <system_error>
#include <utility>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/error.hpp>
#include <asio/redirect_error.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>

namespace qd {

// A one-shot resumable handle: one coroutine waits in wait(), someone else settles it once
// with resume(value) or fail(error). Whatever settles it later finds it settled and does
// nothing, so a waiter is never resumed twice. Settling before the wait is fine: the wait
// then returns at once.
//
// Lives on the io thread: wait, resume and fail are called from the executor it was built
// with. Keep it in a shared_ptr held by both sides. A waiter whose coroutine is cancelled
// (a lost race) ends with asio::error::operation_aborted while the handle stays unsettled.
template <class T>
class OneShot {
 public:
  explicit OneShot(const asio::any_io_executor& executor)
      : timer_(executor, asio::steady_timer::time_point::max()) {}

  bool isSettled() const { return value_.has_value() || error_ != nullptr; }

  bool resume(T value) {
    if (isSettled()) return false;
    value_.emplace(std::move(value));
    timer_.cancel();
    return true;
  }

  bool fail(std::exception_ptr error) {
    if (isSettled()) return false;
    error_ = std::move(error);
    timer_.cancel();
    return true;
  }

  // Call once.
  asio::awaitable<T> wait() {
    if (!isSettled()) {
      // The timer never expires; settling cancels it, which is what wakes the waiter.
      std::error_code ignored;
      co_await timer_.async_wait(asio::redirect_error(asio::use_awaitable, ignored));
    }
    if (error_) std::rethrow_exception(error_);
    if (!value_) throw std::system_error(asio::error::operation_aborted);
    co_return std::move(*value_);
  }

 private:
  asio::steady_timer timer_;
  std::optional<T> value_;
  std::exception_ptr error_;
};

}  // namespace qd
