#include "daemon/core/daemon_error.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace qd {
namespace {

// Whole seconds, cut toward zero; clamped rather than overflowing, 0 for NaN.
std::int64_t wholeSeconds(double seconds) {
  if (std::isnan(seconds)) return 0;
  constexpr double lowest = static_cast<double>(std::numeric_limits<std::int64_t>::min());
  constexpr double highest = 9223372036854774784.0;  // the largest double below 2^63
  if (seconds <= lowest) return std::numeric_limits<std::int64_t>::min();
  if (seconds >= highest) return static_cast<std::int64_t>(highest);
  return static_cast<std::int64_t>(std::trunc(seconds));
}

}  // namespace

DaemonError DaemonError::missingParameter(const std::string& name) {
  return {Kind::missingParameter, name, "Missing required parameter: " + name};
}
DaemonError DaemonError::invalidParameter(const std::string& detail) {
  return {Kind::invalidParameter, detail, "Invalid parameter: " + detail};
}
DaemonError DaemonError::toolDisabled(const std::string& toolName) {
  return {Kind::toolDisabled, toolName, "Tool is disabled in settings: " + toolName};
}
DaemonError DaemonError::featureDisabled(const std::string& feature) {
  return {Kind::featureDisabled, feature, "Feature is disabled in settings: " + feature};
}
DaemonError DaemonError::openURLError(const std::string& detail) {
  return {Kind::openURLError, detail, "Failed to open Tinderbox URL: " + detail};
}
DaemonError DaemonError::appleScriptError(const std::string& detail) {
  return {Kind::appleScriptError, detail, "AppleScript command failed: " + detail};
}
DaemonError DaemonError::authenticationRequired(const std::string& agentName) {
  return {Kind::authenticationRequired, agentName,
          "Agent '" + agentName + "' is registered and requires authentication. Provide 'secret' parameter."};
}
DaemonError DaemonError::authenticationFailed(const std::string& detail) {
  return {Kind::authenticationFailed, detail, "Authentication failed: " + detail};
}
DaemonError DaemonError::rateLimited(const std::string& agentName, double retryAfter) {
  return {Kind::rateLimited, agentName,
          "Agent '" + agentName + "' is rate limited. Too many failed attempts. Retry after " +
              std::to_string(wholeSeconds(retryAfter)) + " seconds.",
          retryAfter};
}
DaemonError DaemonError::notConnected() { return {Kind::notConnected, "", "Not connected to Tinderbox"}; }
DaemonError DaemonError::agentNotIdentified() {
  return {Kind::agentNotIdentified, "", "Agent not identified - call identify tool first"};
}
DaemonError DaemonError::agentNotRegistered(const std::string& agentName) {
  return {Kind::agentNotRegistered, agentName, "Agent not registered: " + agentName};
}
DaemonError DaemonError::broadcastDisabled() {
  return {Kind::broadcastDisabled, "", "Broadcast notifications are disabled in settings"};
}
DaemonError DaemonError::internalNavigationError() {
  return {Kind::internalNavigationError, "", "Failed to build navigation URL"};
}

}  // namespace qd
