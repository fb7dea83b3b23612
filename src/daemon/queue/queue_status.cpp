#include "daemon/queue/queue_status.h"

#include "daemon/utilities/json_codec.h"

namespace qd {

Json QueueStatus::toJson() const {
  Json out = Json::object();
  out["queueLength"] = queueLength;
  out["processing"] = processing;
  out["totalProcessed"] = totalProcessed;
  out["totalFailed"] = totalFailed;
  out["activeReads"] = activeReads;
  out["activeWrite"] = activeWrite;
  codec::putOptional(out, "minLatencyMs", minLatencyMs);
  codec::putOptional(out, "maxLatencyMs", maxLatencyMs);
  codec::putOptional(out, "avgLatencyMs", avgLatencyMs);
  codec::putOptional(out, "errorRate", errorRate);
  return out;
}

QueueStatus QueueStatus::fromJson(const Json& json) {
  const Json& o = codec::expectObject(json, "QueueStatus");
  QueueStatus status;
  status.queueLength = codec::requiredInt(o, "queueLength");
  status.processing = codec::requiredBool(o, "processing");
  status.totalProcessed = codec::requiredInt(o, "totalProcessed");
  status.totalFailed = codec::requiredInt(o, "totalFailed");
  status.activeReads = codec::requiredInt(o, "activeReads");
  status.activeWrite = codec::requiredBool(o, "activeWrite");
  status.minLatencyMs = codec::optionalDouble(o, "minLatencyMs");
  status.maxLatencyMs = codec::optionalDouble(o, "maxLatencyMs");
  status.avgLatencyMs = codec::optionalInt(o, "avgLatencyMs");
  status.errorRate = codec::optionalDouble(o, "errorRate");
  return status;
}

}  // namespace qd
