#pragma once

#include <cstdint>
#include <optional>

#include "daemon/utilities/json.h"

namespace qd {

// A snapshot of the request queue. The latency and error-rate figures are absent until
// the queue has kept samples; absent fields are left out of the JSON object.
struct QueueStatus {
  std::int64_t queueLength = 0;     // waiting, not started
  bool processing = false;          // a processing pass is running
  std::int64_t totalProcessed = 0;  // accepted minus failed
  std::int64_t totalFailed = 0;     // ended with an error, time-outs included
  std::int64_t activeReads = 0;
  bool activeWrite = false;
  std::optional<double> minLatencyMs;
  std::optional<double> maxLatencyMs;
  std::optional<std::int64_t> avgLatencyMs;  // rounded to the nearest millisecond
  std::optional<double> errorRate;           // 0.0 to 1.0

  Json toJson() const;
  // The six non-optional members are required; fails with DecodingError.
  static QueueStatus fromJson(const Json& json);

  friend bool operator==(const QueueStatus&, const QueueStatus&) = default;
};

}  // namespace qd
