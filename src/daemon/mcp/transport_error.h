#pragma once

#include <string>

#include "daemon/utilities/error.h"

namespace qd {

// A transport's failure. Its description is for people: it reaches AI clients in error
// replies ("Operation 'echo' failed: Connection closed") and the logs, so it reads in words
// and names what failed ("Could not start /path/to/server: No such file or directory").
// The request queue tells time-outs apart by their text: a time-out's description holds
// "transport" and "timed out".
class TransportError : public Error {
 public:
  enum class Kind { connectionFailed, writeFailed, readFailed, processStartFailed, timeout, connectionClosed };

  static TransportError connectionFailed(std::string reason) { return {Kind::connectionFailed, std::move(reason)}; }
  static TransportError writeFailed(std::string text) { return {Kind::writeFailed, std::move(text)}; }
  static TransportError readFailed(std::string text) { return {Kind::readFailed, std::move(text)}; }
  static TransportError processStartFailed(std::string text) { return {Kind::processStartFailed, std::move(text)}; }
  static TransportError timeout(std::string detail) { return {Kind::timeout, std::move(detail)}; }
  static TransportError connectionClosed() { return {Kind::connectionClosed, ""}; }

  Kind kind() const { return kind_; }
  // The payload: the reason, the system's error text or the detail; "" for connectionClosed.
  const std::string& detail() const { return detail_; }

 private:
  TransportError(Kind kind, std::string detail);
  Kind kind_;
  std::string detail_;
};

}  // namespace qd
