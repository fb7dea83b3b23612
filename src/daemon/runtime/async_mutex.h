#pragma once

#include <deque>
#include <memory>
#include <variant>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>

#include "daemon/runtime/one_shot.h"

namespace qd {

// Mutual exclusion between coroutines on the io thread, granted in arrival order. Used
// where one operation spans several awaits and must not interleave with another of its
// kind (two writes of one descriptor). Never for state shared between threads.
class AsyncMutex {
 public:
  class Guard {
   public:
    Guard() = default;
    explicit Guard(AsyncMutex* owner) : owner_(owner) {}
    Guard(Guard&& other) noexcept : owner_(std::exchange(other.owner_, nullptr)) {}
    Guard& operator=(Guard&& other) noexcept {
      if (this != &other) {
        release();
        owner_ = std::exchange(other.owner_, nullptr);
      }
      return *this;
    }
    ~Guard() { release(); }
    void release() {
      if (auto* owner = std::exchange(owner_, nullptr)) owner->unlock();
    }

   private:
    AsyncMutex* owner_ = nullptr;
  };

  explicit AsyncMutex(asio::any_io_executor executor) : executor_(std::move(executor)) {}
  AsyncMutex(const AsyncMutex&) = delete;
  AsyncMutex& operator=(const AsyncMutex&) = delete;

  // The mutex must outlive every guard and waiter.
  asio::awaitable<Guard> lock() {
    if (!locked_) {
      locked_ = true;
      co_return Guard(this);
    }
    auto turn = std::make_shared<OneShot<std::monostate>>(executor_);
    waiters_.push_back(turn);
    try {
      co_await turn->wait();
    } catch (...) {
      // Cancelled before its turn came: leave the queue without taking the lock.
      std::erase(waiters_, turn);
      throw;
    }
    co_return Guard(this);
  }

  bool isLocked() const { return locked_; }

 private:
  void unlock() {
    while (!waiters_.empty()) {
      auto next = std::move(waiters_.front());
      waiters_.pop_front();
      if (next->resume(std::monostate{})) return;  // ownership passes on; stays locked
    }
    locked_ = false;
  }

  asio::any_io_executor executor_;
  bool locked_ = false;
  std::deque<std::shared_ptr<OneShot<std::monostate>>> waiters_;
};

}  // namespace qd
