#pragma once

// One holder at a time per key, granted in the order the turns were asked for: a map of
// AsyncMutex by key whose entry is made on first use and leaves the map once nobody holds
// or waits for it, so the map stays as small as the keys in use. Io thread only.

#include <map>
#include <memory>
#include <string>

#include <asio/awaitable.hpp>
#include <asio/this_coro.hpp>

#include "daemon/runtime/async_mutex.h"

namespace qd {

using KeyedLocks = std::map<std::string, std::shared_ptr<AsyncMutex>>;

class KeyedTurn {
 public:
  KeyedTurn(KeyedLocks& locks, std::string key) : locks_(locks), key_(std::move(key)) {}
  KeyedTurn(const KeyedTurn&) = delete;
  KeyedTurn& operator=(const KeyedTurn&) = delete;
  ~KeyedTurn() { release(); }

  // The lock is asked for before the first suspension, so turns follow the order of calls.
  asio::awaitable<void> take() {
    const asio::any_io_executor executor = co_await asio::this_coro::executor;
    auto& slot = locks_[key_];
    if (!slot) slot = std::make_shared<AsyncMutex>(executor);
    lock_ = slot;
    guard_ = co_await lock_->lock();
  }

  void release() {
    guard_.release();
    if (!lock_) return;
    auto it = locks_.find(key_);
    if (it != locks_.end() && it->second == lock_ && !lock_->isLocked()) locks_.erase(it);
    lock_.reset();
  }

 private:
  KeyedLocks& locks_;
  std::string key_;
  std::shared_ptr<AsyncMutex> lock_;
  AsyncMutex::Guard guard_;
};

}  // namespace qd
