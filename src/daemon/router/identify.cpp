// The identify tool: an agent names itself, and proves the name with its secret when the
// name is registered. Successes and wrong secrets are written to auth.log.

#include <ctime>

#include "daemon/core/daemon_error.h"
#include "daemon/logging/log_file.h"
#include "daemon/router/router.h"
#include "daemon/router/router_internal.h"

namespace qd {
namespace {

// "2026-03-05T14:07:09Z": UTC, whole seconds.
std::string isoSecondsNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  ::gmtime_r(&now, &utc);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return buffer;
}

}  // namespace

std::filesystem::path TinderboxDaemon::authLogPath() const { return configuration_.logsDir() / "auth.log"; }

void TinderboxDaemon::logAuthAttempt(bool success, const std::string& message) const {
  const std::string line = "[" + isoSecondsNow() + "] [" + (success ? "INFO" : "WARN") + "] " + message + "\n";
  // One append of the whole line, to a file only the user may read (it names agents): lines
  // of concurrent identifications never interleave. A failed write is dropped: the
  // caller's answer does not depend on the log.
  (void)appendToLogFile(authLogPath(), line);
}

asio::awaitable<Json> TinderboxDaemon::handleIdentify(std::string clientId, Json arguments) {
  std::optional<std::string> name = router::stringMember(arguments, "agentName");
  if (!name) throw DaemonError::missingParameter("agentName");

  if (!agentSecretsStore_.getAgent(std::string_view(*name))) {
    notificationQueue_.identifyAgent(clientId, *name);
    logAuthAttempt(true, "Agent '" + *name + "' registered anonymously (no authentication required)");
    co_return router::textResult("Registered as " + *name + " (anonymous)");
  }

  std::optional<std::string> secret = router::stringMember(arguments, "secret");
  if (!secret) throw DaemonError::authenticationRequired(*name);
  if (std::optional<double> wait = authRateLimiter_.checkRateLimit(*name)) {
    throw DaemonError::rateLimited(*name, *wait);
  }

  const AuthResult result = agentSecretsStore_.authenticate(*name, *secret);
  switch (result.kind) {
    case AuthResult::Kind::success: {
      authRateLimiter_.clearFailures(*name);
      const std::string id = result.agentId ? result.agentId->uuidString() : std::string();
      notificationQueue_.identifyAgent(clientId, *name, id);
      logAuthAttempt(true, "Agent '" + *name + "' authenticated successfully (ID: " + id + ")");
      co_return router::textResult("Authenticated as " + *name);
    }
    case AuthResult::Kind::rateLimited:
      throw DaemonError::rateLimited(*name, result.retryAfter);
    case AuthResult::Kind::invalidSecret: {
      authRateLimiter_.recordFailure(*name);
      const std::int64_t failures = authRateLimiter_.getFailureCount(*name);
      logAuthAttempt(false, "Agent '" + *name + "' authentication failed (invalid secret). Failures: " +
                                std::to_string(failures) + "/5");
      throw DaemonError::authenticationFailed("Invalid secret for agent '" + *name + "'");
    }
    case AuthResult::Kind::agentNotFound:
      throw DaemonError::authenticationFailed("Agent '" + *name + "' not found");
    case AuthResult::Kind::disabled:
      throw DaemonError::authenticationFailed("Agent '" + *name + "' is disabled");
  }
  throw DaemonError::authenticationFailed("Agent '" + *name + "' not found");
}

}  // namespace qd
