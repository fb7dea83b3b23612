#include <gtest/gtest.h>

#include "daemon/queue/queue_error.h"
#include "daemon/queue/queue_status.h"
#include "daemon/queue/timeout_layer.h"
#include "daemon/utilities/json_codec.h"

namespace qd {
namespace {

TEST(QueueError, DescriptionsAreTheFixedTexts) {
  EXPECT_EQ(QueueError::queueFull(1000).description(), "Queue is full (max 1000 requests)");
  const QueueError timedOut = QueueError::requestTimedOut("req-7", 30000, TimeoutLayer::transport);
  EXPECT_EQ(timedOut.description(), "Request req-7 timed out after 30000ms [layer: transport]");
  EXPECT_EQ(timedOut.kind(), QueueError::Kind::requestTimedOut);
  EXPECT_EQ(timedOut.layer(), TimeoutLayer::transport);
  EXPECT_EQ(QueueError::shuttingDown().description(), "Queue is shutting down, cannot accept new requests");

  EXPECT_EQ(timedOut, QueueError::requestTimedOut("req-7", 30000, TimeoutLayer::transport));
  EXPECT_FALSE(timedOut == QueueError::requestTimedOut("req-7", 30000, TimeoutLayer::queue));
}

TEST(TimeoutLayer, RawValuesAreExactAndCaseSensitive) {
  for (TimeoutLayer layer : {TimeoutLayer::queue, TimeoutLayer::subprocess, TimeoutLayer::transport}) {
    EXPECT_EQ(timeoutLayerFromString(toString(layer)), layer);
  }
  EXPECT_EQ(toString(TimeoutLayer::subprocess), "subprocess");
  EXPECT_FALSE(timeoutLayerFromString("Queue"));
  EXPECT_FALSE(timeoutLayerFromString(""));
}

TEST(QueueStatus, AbsentFiguresAreLeftOutAndRoundTrip) {
  QueueStatus status;
  status.queueLength = 2;
  status.activeReads = 1;
  const Json bare = status.toJson();
  std::vector<std::string> keys;
  for (const auto& [key, _] : bare.items()) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"queueLength", "processing", "totalProcessed", "totalFailed",
                                            "activeReads", "activeWrite"}));
  EXPECT_EQ(QueueStatus::fromJson(bare), status);

  status.minLatencyMs = 1.5;
  status.maxLatencyMs = 9.0;
  status.avgLatencyMs = 4;
  status.errorRate = 0.25;
  const Json full = status.toJson();
  EXPECT_EQ(full.size(), 10u);
  EXPECT_EQ(full["avgLatencyMs"], 4);
  EXPECT_EQ(QueueStatus::fromJson(full), status);

  // Null optional members read as absent; a missing required member is an error.
  Json withNull = bare;
  withNull["errorRate"] = nullptr;
  EXPECT_FALSE(QueueStatus::fromJson(withNull).errorRate);
  Json missing = bare;
  missing.erase("activeWrite");
  EXPECT_THROW(QueueStatus::fromJson(missing), DecodingError);
}

}  // namespace
}  // namespace qd
