#include "daemon/queue/queue_error.h"

namespace qd {

QueueError QueueError::queueFull(std::int64_t maxLength) {
  QueueError e(Kind::queueFull, "Queue is full (max " + std::to_string(maxLength) + " requests)");
  e.maxLength_ = maxLength;
  return e;
}

QueueError QueueError::requestTimedOut(std::string id, std::int64_t timeoutMs, TimeoutLayer layer) {
  QueueError e(Kind::requestTimedOut, "Request " + id + " timed out after " + std::to_string(timeoutMs) +
                                          "ms [layer: " + toString(layer) + "]");
  e.id_ = std::move(id);
  e.timeoutMs_ = timeoutMs;
  e.layer_ = layer;
  return e;
}

QueueError QueueError::shuttingDown() {
  return QueueError(Kind::shuttingDown, "Queue is shutting down, cannot accept new requests");
}

}  // namespace qd
