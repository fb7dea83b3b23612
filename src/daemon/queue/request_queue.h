#pragma once

// The one queue every tool call runs through. Calls start in arrival order: the read-only
// calls at the head run side by side as one batch, a write runs alone, and nothing
// overtakes a write waiting at the head. Each call races its own time-out; its caller
// learns the outcome only once the operation has stopped, and a late result is dropped.
//
// Lives on the daemon's io thread like every actor: its state is touched only between
// awaits on that thread, so no mutex guards it. Owned through a shared_ptr, because the
// processing passes it starts hold it weakly.

#include <any>
#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>

#include "daemon/queue/circular_buffer.h"
#include "daemon/queue/queue_error.h"
#include "daemon/queue/queue_status.h"
#include "daemon/runtime/one_shot.h"

namespace qd {

// True for the five operation names that only read and may run beside each other:
// "get_notes", "get_value", "list_agents", "export_note", "search".
bool isReadOnlyOperation(std::string_view operation);

class RequestQueue : public std::enable_shared_from_this<RequestQueue> {
 public:
  static std::shared_ptr<RequestQueue> create(asio::any_io_executor executor, std::int64_t maxQueueLength,
                                              std::int64_t requestTimeoutMs);

  // Submits one call and waits for its end. An absent time-out means the queue's request
  // time-out; 0 or less means none. Fails with the operation's error, a QueueError time-out
  // (also when the operation's own error reports one), or a refusal: queueFull or
  // shuttingDown, which use no id.
  template <class T>
  asio::awaitable<T> enqueue(bool readOnly, std::optional<std::int64_t> timeoutMs,
                             std::function<asio::awaitable<T>()> execute) {
    // Named, not written inside the co_await expression (g++ 12 destroys such a closure twice).
    ErasedOperation erased = [execute = std::move(execute)]() { return boxed<T>(execute); };
    std::any box = co_await enqueueErased(readOnly, timeoutMs, std::move(erased));
    co_return std::any_cast<T>(std::move(box));
  }

  QueueStatus getStatus() const;

  // Refuses every later request and waits, at most `timeoutMs`, until the accepted ones
  // have finished. Requests still running afterwards go on and resume their callers.
  asio::awaitable<void> drain(std::int64_t timeoutMs);

  // The error a caller sees for a failed operation: QueueErrors unchanged; an error whose
  // text says "timed out" becomes a requestTimedOut of layer transport (when the text also
  // names "transport" or "StdioTransport") or subprocess; one naming "TransportError" and
  // "timeout" becomes a transport time-out; anything else is unchanged.
  static std::exception_ptr enrichTimeoutError(const std::exception_ptr& error, const std::string& requestId,
                                               std::int64_t timeoutMs);

 private:
  using ErasedOperation = std::function<asio::awaitable<std::any>()>;

  struct QueuedRequest {
    std::string id;
    ErasedOperation execute;
    std::shared_ptr<OneShot<std::any>> continuation;
    std::chrono::steady_clock::time_point enqueuedAt;
    bool readOnly = false;
    std::optional<std::int64_t> timeoutMs;
  };

  RequestQueue(asio::any_io_executor executor, std::int64_t maxQueueLength, std::int64_t requestTimeoutMs);

  template <class T>
  static asio::awaitable<std::any> boxed(std::function<asio::awaitable<T>()> execute) {
    co_return std::any(co_await execute());
  }

  asio::awaitable<std::any> enqueueErased(bool readOnly, std::optional<std::int64_t> timeoutMs,
                                          ErasedOperation execute);
  static asio::awaitable<void> runProcessQueue(std::shared_ptr<RequestQueue> self);
  void startProcessing();
  asio::awaitable<void> processQueue();
  asio::awaitable<void> executeRequest(QueuedRequest request, bool isRead);
  asio::awaitable<void> runBatch(std::vector<QueuedRequest> batch);
  void notifyDrainWaiters();
  void endActiveOperationAndContinueIfNeeded(bool isRead);
  bool isIdle() const;

  asio::any_io_executor executor_;
  std::deque<QueuedRequest> queue_;
  bool isProcessing_ = false;
  std::int64_t operationCounter_ = 0;
  std::int64_t failedCounter_ = 0;
  bool shuttingDown_ = false;
  std::int64_t activeReads_ = 0;
  bool activeWrite_ = false;
  CircularBuffer<double> latencies_{100};
  CircularBuffer<bool> recentResults_{100};
  std::vector<std::shared_ptr<OneShot<std::monostate>>> drainContinuations_;
  const std::int64_t maxQueueLength_;
  const std::int64_t requestTimeoutMs_;
};

}  // namespace qd
