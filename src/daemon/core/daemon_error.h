#pragma once

#include <string>

#include "daemon/utilities/error.h"

namespace qd {

// The error of the daemon's own tools and dispatch. Its descriptions are what a client
// finally reads: the socket layer answers a failed call with them.
class DaemonError : public Error {
 public:
  enum class Kind {
    missingParameter,         // "Missing required parameter: <name>"
    invalidParameter,         // "Invalid parameter: <detail>"
    toolDisabled,             // "Tool is disabled in settings: <tool>"
    featureDisabled,          // "Feature is disabled in settings: <feature>"
    openURLError,             // "Failed to open Tinderbox URL: <detail>"
    appleScriptError,         // "AppleScript command failed: <detail>"
    authenticationRequired,   // "Agent '<name>' is registered and requires authentication. Provide 'secret' parameter."
    authenticationFailed,     // "Authentication failed: <detail>"
    rateLimited,              // "Agent '<name>' is rate limited. Too many failed attempts. Retry after <s> seconds."
    notConnected,             // "Not connected to Tinderbox"
    agentNotIdentified,       // "Agent not identified - call identify tool first"
    agentNotRegistered,       // "Agent not registered: <name>"
    broadcastDisabled,        // "Broadcast notifications are disabled in settings"
    internalNavigationError,  // "Failed to build navigation URL"
  };

  static DaemonError missingParameter(const std::string& name);
  static DaemonError invalidParameter(const std::string& detail);
  static DaemonError toolDisabled(const std::string& toolName);
  static DaemonError featureDisabled(const std::string& feature);
  static DaemonError openURLError(const std::string& detail);
  static DaemonError appleScriptError(const std::string& detail);
  static DaemonError authenticationRequired(const std::string& agentName);
  static DaemonError authenticationFailed(const std::string& detail);
  // The seconds are cut toward zero (29.9 reads 29); a value that is not a number reads 0.
  static DaemonError rateLimited(const std::string& agentName, double retryAfter);
  static DaemonError notConnected();
  static DaemonError agentNotIdentified();
  static DaemonError agentNotRegistered(const std::string& agentName);
  static DaemonError broadcastDisabled();
  static DaemonError internalNavigationError();

  Kind kind() const { return kind_; }
  // The case's text payload (parameter, tool, feature or agent name, or detail); empty for
  // the cases without one.
  const std::string& payload() const { return payload_; }
  // rateLimited only.
  double retryAfter() const { return retryAfter_; }

 private:
  DaemonError(Kind kind, std::string payload, std::string description, double retryAfter = 0)
      : Error(std::move(description)), kind_(kind), payload_(std::move(payload)), retryAfter_(retryAfter) {}

  Kind kind_;
  std::string payload_;
  double retryAfter_;
};

}  // namespace qd
