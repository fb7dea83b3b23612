#include "daemon/mcp/transport_error.h"

namespace qd {
namespace {

std::string render(TransportError::Kind kind, const std::string& detail) {
  switch (kind) {
    case TransportError::Kind::connectionFailed: return detail;  // "Failed to connect to <path>: ..."
    case TransportError::Kind::writeFailed: return "Could not write to the connection: " + detail;
    case TransportError::Kind::readFailed: return "Could not read from the connection: " + detail;
    case TransportError::Kind::processStartFailed: return detail;  // "Could not start <program>: ..."
    case TransportError::Kind::timeout: return "The transport timed out: " + detail;
    case TransportError::Kind::connectionClosed: return "Connection closed";
  }
  return detail;
}

}  // namespace

TransportError::TransportError(Kind kind, std::string detail)
    : Error(render(kind, detail)), kind_(kind), detail_(std::move(detail)) {}

}  // namespace qd
