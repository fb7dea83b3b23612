#pragma once

#include <cstddef>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

#include <asio/associated_executor.hpp>
#include <asio/async_result.hpp>
#include <asio/awaitable.hpp>
#include <asio/execution/outstanding_work.hpp>
#include <asio/post.hpp>
#include <asio/prefer.hpp>
#include <asio/thread_pool.hpp>
#include <asio/use_awaitable.hpp>

namespace qd {

// A few threads for work that blocks (a process run under a lane lock, a large file write,
// a network fetch), so the io thread never does. Awaited through runBlocking.
class BlockingPool {
 public:
  explicit BlockingPool(std::size_t threads = 4) : pool_(threads) {}
  ~BlockingPool() { join(); }
  BlockingPool(const BlockingPool&) = delete;
  BlockingPool& operator=(const BlockingPool&) = delete;

  asio::thread_pool::executor_type executor() { return pool_.get_executor(); }
  // Waits for the work already queued, then ends the threads.
  void join() { pool_.join(); }

 private:
  asio::thread_pool pool_;
};

namespace detail {

// Runs `fn` on the pool and completes `handler` on the awaiting coroutine's own executor,
// with the exception or the value. The awaiting executor counts as busy meanwhile, so an
// io_context run by a test does not return while blocking work is still out.
template <class Result, class F>
struct BlockingInitiation {
  BlockingPool* pool;
  template <class Handler>
  void operator()(Handler handler, F fn) const {
    auto home = asio::prefer(asio::get_associated_executor(handler), asio::execution::outstanding_work.tracked);
    asio::post(pool->executor(), [handler = std::move(handler), fn = std::move(fn), home = std::move(home)]() mutable {
      std::exception_ptr error;
      std::optional<Result> value;
      try {
        if constexpr (std::is_void_v<std::invoke_result_t<F&>>) {
          fn();
          value.emplace();
        } else {
          value.emplace(fn());
        }
      } catch (...) {
        error = std::current_exception();
      }
      asio::post(home, [handler = std::move(handler), error, value = std::move(value)]() mutable {
        std::move(handler)(error, std::move(value));
      });
    });
  }
};

struct Unit {};

}  // namespace detail

// Awaits `fn()` run on the pool; its exception is rethrown in the awaiting coroutine. The
// work cannot be cancelled: a race against a time-out that loses still waits for it.
template <class F>
asio::awaitable<std::invoke_result_t<F&>> runBlocking(BlockingPool& pool, F fn) {
  using R = std::invoke_result_t<F&>;
  using Stored = std::conditional_t<std::is_void_v<R>, detail::Unit, R>;
  std::optional<Stored> result =
      co_await asio::async_initiate<const asio::use_awaitable_t<>&, void(std::exception_ptr, std::optional<Stored>)>(
          detail::BlockingInitiation<Stored, F>{&pool}, asio::use_awaitable, std::move(fn));
  if constexpr (!std::is_void_v<R>) co_return std::move(*result);
}

}  // namespace qd
