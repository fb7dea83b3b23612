#pragma once

// The application's reading of the daemon's health record ("app_get_health"), and the
// decisions the health monitor takes from it: whether a process id names a live process,
// whether a record is fresh, whether the menu shows the start-up state.

#include <chrono>
#include <cstdint>
#include <optional>

#include "daemon/health/health_data.h"
#include "daemon/utilities/json.h"

namespace qd {

// The application's twin of HealthData. It decodes more leniently than the daemon's own
// reader: "tinderboxPid" and "tinderboxConnected" may be absent or null.
struct AppHealthData {
  std::int64_t daemonPid = 0;
  std::optional<std::int64_t> tinderboxPid;
  std::optional<bool> tinderboxConnected;
  HealthStatus status = HealthStatus::healthy;
  std::int64_t lastUpdate = 0;  // milliseconds since 1970
  std::int64_t uptime = 0;      // seconds
  std::int64_t tinderboxRestarts = 0;
  std::int64_t connectedClients = 0;

  // None when a required key is missing or of another kind, or the status is not one of
  // "healthy", "degraded", "unhealthy". Integers must be integers (not 1.0, not true).
  static std::optional<AppHealthData> fromJson(const Json& value);
  Json toJson() const;  // the optional keys only when present
  bool operator==(const AppHealthData&) const = default;
};

inline constexpr std::int64_t maxHealthStalenessMs = 15000;
inline constexpr std::chrono::milliseconds initialStartupGracePeriod{4000};

// A record is fresh when it is at most 15000 ms old; one dated in the future is fresh.
bool isHealthRecordFresh(std::int64_t lastUpdateMs, std::int64_t nowMs);

// Whether the id names a process we may signal. Only 1..INT32_MAX can: 0 and negative
// values address process groups in kill(2), and larger values are no process id at all.
bool isRecordedProcessAlive(std::int64_t pid);

// Whether the menu shows the start-up state.
bool shouldShowStartupState(bool daemonStartupInProgress, bool daemonAlive, bool daemonStartupFailed,
                            std::chrono::steady_clock::duration sinceLaunch);

}  // namespace qd
