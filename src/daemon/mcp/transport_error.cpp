#include "daemon/mcp/transport_error.h"

#include "daemon/utilities/json.h"

namespace qd {
namespace {

std::string render(TransportError::Kind kind, const std::string& detail) {
  const std::string quoted = dumpJson(Json(detail));
  switch (kind) {
    case TransportError::Kind::connectionFailed: return "TransportError.connectionFailed(" + quoted + ")";
    case TransportError::Kind::writeFailed: return "TransportError.writeFailed(" + quoted + ")";
    case TransportError::Kind::readFailed: return "TransportError.readFailed(" + quoted + ")";
    case TransportError::Kind::processStartFailed: return "TransportError.processStartFailed(" + quoted + ")";
    case TransportError::Kind::timeout: return "TransportError.timeout(detail: " + quoted + ")";
    case TransportError::Kind::connectionClosed: return "TransportError.connectionClosed";
  }
  return "TransportError";
}

}  // namespace

TransportError::TransportError(Kind kind, std::string detail)
    : Error(render(kind, detail)), kind_(kind), detail_(std::move(detail)) {}

}  // namespace qd
