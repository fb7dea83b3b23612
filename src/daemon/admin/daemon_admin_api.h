#pragma once

// The tray application's client of the admin socket. Each call opens its own connection,
// sends one request, waits for its reply (at most `replyTimeout`, connecting and sending
// included) and closes the connection. Calls block their thread and share nothing, so
// they may run at the same time on several threads. The application never links the
// daemon actor: this and admin_protocol.h are all it needs.

#include <chrono>
#include <optional>
#include <string>

#include "daemon/utilities/error.h"
#include "daemon/utilities/json.h"

namespace qd {

class DaemonAdminAPIError : public Error {
 public:
  static constexpr const char* domain = "DaemonAdminAPI";

  enum class Code {
    invalidResponse = 11,    // "Invalid daemon admin response JSON": the result is not a JSON object
    setupFailed = 12,        // "Failed to create daemon admin XPC proxy": no socket could be made
    timedOut = 13,           // "Timed out waiting for daemon admin response"
    daemonError = 14,        // the daemon's error text itself
    emptyResponse = 15,      // "Daemon admin returned empty response": neither result nor error
    connectionRejected = 16  // "XPC connection to daemon was rejected"; underlyingError says why
  };

  // What ended a connectionRejected call. A refused connect (nothing listening, as while the
  // daemon starts) is no rejection by the daemon; only a connection it accepted and then
  // closed without a reply is how its peer check refuses.
  enum class Cause { none, connectFailed, closedWithoutReply };

  static DaemonAdminAPIError invalidResponse();
  static DaemonAdminAPIError setupFailed(const std::string& underlyingError);
  static DaemonAdminAPIError timedOut();
  static DaemonAdminAPIError daemonError(const std::string& text);
  static DaemonAdminAPIError emptyResponse();
  static DaemonAdminAPIError connectionRejected(const std::string& underlyingError, Cause cause);

  Code code() const { return code_; }
  Cause cause() const { return cause_; }
  // Why the socket could not be made or the connection failed (setupFailed and
  // connectionRejected): the system's text, or that the daemon closed the connection
  // without answering (as it does for a refused peer).
  const std::string& underlyingError() const { return underlyingError_; }

 private:
  DaemonAdminAPIError(Code code, std::string description, std::string underlyingError = {}, Cause cause = Cause::none)
      : Error(std::move(description)), code_(code), cause_(cause), underlyingError_(std::move(underlyingError)) {}
  Code code_;
  Cause cause_;
  std::string underlyingError_;
};

namespace DaemonAdminAPI {

inline constexpr std::chrono::milliseconds replyTimeout{8000};

// The admin socket of this user's daemon: "admin.sock" beside the daemon's socket.
std::string defaultSocketPath();

// Sends the method with its parameters (left out of the request when none: not an empty
// object) and answers the result object. Throws DaemonAdminAPIError as its codes say, and
// JsonParseError for a reply line that is not JSON. When the daemon answers both an error
// and a result, the error wins.
Json request(const std::string& method, const std::optional<Json>& params = std::nullopt);
Json request(const std::string& socketPath, const std::string& method, const std::optional<Json>& params,
             std::chrono::milliseconds timeout = replyTimeout);

}  // namespace DaemonAdminAPI

}  // namespace qd
