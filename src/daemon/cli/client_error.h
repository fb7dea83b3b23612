#pragma once

#include <string>

#include "daemon/utilities/error.h"

namespace qd {

// A failure of the daemon socket client (TinderboxClient). The descriptions are the texts
// the command line prints after "Error: " and the bridge puts into error results.
class ClientError : public Error {
 public:
  enum class Kind {
    daemonError,          // "Daemon error: <the daemon's text>"
    notConnected,         // "Not connected to daemon"
    connectionFailed,     // "Failed to connect to daemon"
    connectionClosed,     // "Connection to daemon closed"
    timeout,              // "Request timed out"
    invalidUTF8,          // "Invalid UTF-8 in response"
    invalidResponse,      // "Invalid response from daemon"
    serializationFailed,  // "Failed to serialize request"
    noData,               // "No data received"
    requestTooLarge,      // "Request too large for the daemon (over 1 MiB)"
  };

  static ClientError daemonError(const std::string& text) { return {Kind::daemonError, "Daemon error: " + text}; }
  static ClientError notConnected() { return {Kind::notConnected, "Not connected to daemon"}; }
  static ClientError connectionFailed() { return {Kind::connectionFailed, "Failed to connect to daemon"}; }
  static ClientError connectionClosed() { return {Kind::connectionClosed, "Connection to daemon closed"}; }
  static ClientError timeout() { return {Kind::timeout, "Request timed out"}; }
  static ClientError invalidUTF8() { return {Kind::invalidUTF8, "Invalid UTF-8 in response"}; }
  static ClientError invalidResponse() { return {Kind::invalidResponse, "Invalid response from daemon"}; }
  static ClientError serializationFailed() { return {Kind::serializationFailed, "Failed to serialize request"}; }
  static ClientError noData() { return {Kind::noData, "No data received"}; }
  static ClientError requestTooLarge() {
    return {Kind::requestTooLarge, "Request too large for the daemon (over 1 MiB)"};
  }

  Kind kind() const { return kind_; }

 private:
  ClientError(Kind kind, std::string description) : Error(std::move(description)), kind_(kind) {}
  Kind kind_;
};

}  // namespace qd
