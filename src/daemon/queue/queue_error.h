#pragma once

#include <cstdint>
#include <string>

#include "daemon/queue/timeout_layer.h"
#include "daemon/utilities/error.h"

namespace qd {

// The request queue's failures. The description is the text the caller's reply carries.
class QueueError : public Error {
 public:
  enum class Kind { queueFull, requestTimedOut, shuttingDown };

  // "Queue is full (max <maxLength> requests)"
  static QueueError queueFull(std::int64_t maxLength);
  // "Request <id> timed out after <timeoutMs>ms [layer: <layer>]"
  static QueueError requestTimedOut(std::string id, std::int64_t timeoutMs, TimeoutLayer layer);
  // "Queue is shutting down, cannot accept new requests"
  static QueueError shuttingDown();

  Kind kind() const { return kind_; }
  std::int64_t maxLength() const { return maxLength_; }  // queueFull
  const std::string& id() const { return id_; }           // requestTimedOut
  std::int64_t timeoutMs() const { return timeoutMs_; }  // requestTimedOut
  TimeoutLayer layer() const { return layer_; }           // requestTimedOut

  friend bool operator==(const QueueError& a, const QueueError& b) {
    return a.kind_ == b.kind_ && a.maxLength_ == b.maxLength_ && a.id_ == b.id_ && a.timeoutMs_ == b.timeoutMs_ &&
           a.layer_ == b.layer_;
  }

 private:
  QueueError(Kind kind, std::string description) : Error(std::move(description)), kind_(kind) {}

  Kind kind_;
  std::int64_t maxLength_ = 0;
  std::string id_;
  std::int64_t timeoutMs_ = 0;
  TimeoutLayer layer_ = TimeoutLayer::queue;
};

}  // namespace qd
