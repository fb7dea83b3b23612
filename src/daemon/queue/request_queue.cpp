#include "daemon/queue/request_queue.h"

#include <cmath>
#include <set>

#include <asio/post.hpp>

#include "daemon/logging/logger.h"
#include "daemon/runtime/coroutine_helpers.h"
#include "daemon/utilities/durations.h"

namespace qd {
namespace {

constexpr const char* kComponent = "Queue";

std::int64_t wholeMilliseconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

double fractionalMilliseconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

bool isReadOnlyOperation(std::string_view operation) {
  static const std::set<std::string_view> readOnlyTools{"get_notes", "get_value", "list_agents", "export_note",
                                                        "search"};
  return readOnlyTools.contains(operation);
}

std::shared_ptr<RequestQueue> RequestQueue::create(asio::any_io_executor executor, std::int64_t maxQueueLength,
                                                   std::int64_t requestTimeoutMs) {
  return std::shared_ptr<RequestQueue>(new RequestQueue(std::move(executor), maxQueueLength, requestTimeoutMs));
}

RequestQueue::RequestQueue(asio::any_io_executor executor, std::int64_t maxQueueLength, std::int64_t requestTimeoutMs)
    : executor_(std::move(executor)), maxQueueLength_(maxQueueLength), requestTimeoutMs_(requestTimeoutMs) {}

asio::awaitable<std::any> RequestQueue::enqueueErased(bool readOnly, std::optional<std::int64_t> timeoutMs,
                                                      ErasedOperation execute) {
  std::optional<std::int64_t> effectiveTimeout = timeoutMs.value_or(requestTimeoutMs_);
  if (*effectiveTimeout < 1) effectiveTimeout.reset();

  if (shuttingDown_) throw QueueError::shuttingDown();
  if (static_cast<std::int64_t>(queue_.size()) >= maxQueueLength_) throw QueueError::queueFull(maxQueueLength_);

  ++operationCounter_;
  auto continuation = std::make_shared<OneShot<std::any>>(executor_);
  QueuedRequest request{"req-" + std::to_string(operationCounter_), std::move(execute), continuation,
                        std::chrono::steady_clock::now(), readOnly, effectiveTimeout};
  const std::string id = request.id;
  queue_.push_back(std::move(request));
  if (Logger::isEnabled(LogLevel::debug)) {
    Logger::debug(kComponent, readOnly ? "Added read-only request" : "Added write request",
                  {{"requestId", id}, {"queueLength", queue_.size()}, {"readOnly", readOnly}});
  }
  startProcessing();

  // A caller cancelled here leaves the request queued; it runs and settles the handle anyway.
  co_return co_await continuation->wait();
}

void RequestQueue::startProcessing() {
  // The pass starts after the current turn, not inside it, so requests submitted together
  // are all waiting when it looks at the head and adjacent reads form one batch.
  asio::post(executor_, [executor = executor_, weak = weak_from_this()] {
    startWeakTask(executor, weak, &RequestQueue::runProcessQueue, kComponent, "processQueue");
  });
}

asio::awaitable<void> RequestQueue::runProcessQueue(std::shared_ptr<RequestQueue> self) {
  co_await self->processQueue();
}

asio::awaitable<void> RequestQueue::processQueue() {
  if (isProcessing_ || queue_.empty()) co_return;
  isProcessing_ = true;
  while (!queue_.empty()) {
    if (!queue_.front().readOnly) {
      if (activeReads_ > 0 || activeWrite_) break;
      QueuedRequest request = std::move(queue_.front());
      queue_.pop_front();
      co_await executeRequest(std::move(request), false);
    } else {
      if (activeWrite_) break;
      std::vector<QueuedRequest> batch;
      while (!queue_.empty() && queue_.front().readOnly) {
        batch.push_back(std::move(queue_.front()));
        queue_.pop_front();
      }
      co_await runBatch(std::move(batch));
    }
  }
  isProcessing_ = false;
  notifyDrainWaiters();
}

asio::awaitable<void> RequestQueue::runBatch(std::vector<QueuedRequest> batch) {
  // Every member runs in its own task; the pass goes on once the last of them has ended.
  auto remaining = std::make_shared<std::size_t>(batch.size());
  auto allDone = std::make_shared<OneShot<std::monostate>>(executor_);
  for (QueuedRequest& request : batch) {
    asio::co_spawn(executor_, executeRequest(std::move(request), true),
                   [remaining, allDone](const std::exception_ptr&) {
                     if (--*remaining == 0) allDone->resume(std::monostate{});
                   });
  }
  co_await allDone->wait();
}

asio::awaitable<void> RequestQueue::executeRequest(QueuedRequest request, bool isRead) {
  const auto waitTime = std::chrono::steady_clock::now() - request.enqueuedAt;
  if (Logger::isEnabled(LogLevel::info)) {
    Logger::info(kComponent, isRead ? "Processing read request" : "Processing write request",
                 {{"requestId", request.id},
                  {"waitTimeMs", wholeMilliseconds(waitTime)},
                  {"activeReads", activeReads_},
                  {"activeWrite", activeWrite_}});
  }
  if (isRead) {
    ++activeReads_;
  } else {
    activeWrite_ = true;
  }
  const auto start = std::chrono::steady_clock::now();

  std::any result;
  std::exception_ptr error;
  try {
    if (!request.timeoutMs) {
      result = co_await request.execute();
    } else {
      std::optional<std::any> finished =
          co_await withTimeout(request.execute(), timeoutFromMilliseconds(*request.timeoutMs));
      if (!finished) throw QueueError::requestTimedOut(request.id, *request.timeoutMs, TimeoutLayer::queue);
      result = std::move(*finished);
    }
  } catch (...) {
    error = std::current_exception();
  }

  if (!error) {
    const double durationMs = fractionalMilliseconds(std::chrono::steady_clock::now() - start);
    latencies_.append(durationMs);
    recentResults_.append(true);
    request.continuation->resume(std::move(result));
    if (Logger::isEnabled(LogLevel::info)) {
      Logger::info(kComponent, isRead ? "Completed read request" : "Completed write request",
                   {{"requestId", request.id}, {"durationMs", static_cast<std::int64_t>(durationMs)}});
    }
  } else {
    ++failedCounter_;
    recentResults_.append(false);
    const auto reported = enrichTimeoutError(error, request.id, request.timeoutMs.value_or(requestTimeoutMs_));
    request.continuation->fail(reported);
    Json metadata = {{"requestId", request.id}, {"error", describeException(reported)}};
    try {
      std::rethrow_exception(reported);
    } catch (const QueueError& e) {
      if (e.kind() == QueueError::Kind::requestTimedOut) {
        metadata["timeoutLayer"] = toString(e.layer());
        metadata["timeoutMs"] = e.timeoutMs();
      }
    } catch (...) {
    }
    Logger::error(kComponent, "Request failed", metadata);
  }
  endActiveOperationAndContinueIfNeeded(isRead);
}

void RequestQueue::endActiveOperationAndContinueIfNeeded(bool isRead) {
  if (isRead) {
    --activeReads_;
  } else {
    activeWrite_ = false;
  }
  if (!queue_.empty() && !isProcessing_) startProcessing();
}

bool RequestQueue::isIdle() const { return queue_.empty() && !isProcessing_ && activeReads_ == 0 && !activeWrite_; }

void RequestQueue::notifyDrainWaiters() {
  if (!isIdle()) return;
  for (auto& waiter : std::exchange(drainContinuations_, {})) waiter->resume(std::monostate{});
}

asio::awaitable<void> RequestQueue::drain(std::int64_t timeoutMs) {
  shuttingDown_ = true;
  Logger::info(kComponent, "Draining queue", {{"queueLength", queue_.size()}, {"timeoutMs", timeoutMs}});
  if (isIdle()) {
    Logger::info(kComponent, "Queue already empty");
    co_return;
  }
  auto waiter = std::make_shared<OneShot<std::monostate>>(executor_);
  drainContinuations_.push_back(waiter);
  co_await withTimeout(waiter->wait(), timeoutFromMilliseconds(timeoutMs));
  Logger::info(kComponent, "Queue drained", {{"remainingRequests", queue_.size()}});
}

QueueStatus RequestQueue::getStatus() const {
  QueueStatus status;
  status.queueLength = static_cast<std::int64_t>(queue_.size());
  status.processing = isProcessing_;
  status.totalProcessed = operationCounter_ - failedCounter_;
  status.totalFailed = failedCounter_;
  status.activeReads = activeReads_;
  status.activeWrite = activeWrite_;
  if (!latencies_.isEmpty()) {
    status.minLatencyMs = latencies_.min();
    status.maxLatencyMs = latencies_.max();
    status.avgLatencyMs = std::llround(*latencies_.average());  // halves away from zero
  }
  if (!recentResults_.isEmpty()) status.errorRate = recentResults_.failureRate();
  return status;
}

std::exception_ptr RequestQueue::enrichTimeoutError(const std::exception_ptr& error, const std::string& requestId,
                                                    std::int64_t timeoutMs) {
  try {
    std::rethrow_exception(error);
  } catch (const QueueError&) {
    return error;
  } catch (...) {
  }
  const std::string text = describeException(error);
  const auto contains = [&text](std::string_view s) { return text.find(s) != std::string::npos; };
  std::optional<TimeoutLayer> layer;
  if (contains("timed out")) {
    layer = (contains("transport") || contains("StdioTransport")) ? TimeoutLayer::transport : TimeoutLayer::subprocess;
  } else if (contains("TransportError") && contains("timeout")) {
    layer = TimeoutLayer::transport;
  }
  if (!layer) return error;
  return std::make_exception_ptr(QueueError::requestTimedOut(requestId, timeoutMs, *layer));
}

}  // namespace qd
