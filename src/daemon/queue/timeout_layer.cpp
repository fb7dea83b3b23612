#include "daemon/queue/timeout_layer.h"

namespace qd {

std::string toString(TimeoutLayer layer) {
  switch (layer) {
    case TimeoutLayer::queue: return "queue";
    case TimeoutLayer::subprocess: return "subprocess";
    case TimeoutLayer::transport: return "transport";
  }
  return "queue";
}

std::optional<TimeoutLayer> timeoutLayerFromString(std::string_view raw) {
  if (raw == "queue") return TimeoutLayer::queue;
  if (raw == "subprocess") return TimeoutLayer::subprocess;
  if (raw == "transport") return TimeoutLayer::transport;
  return std::nullopt;
}

}  // namespace qd
