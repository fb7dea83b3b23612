#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "daemon/utilities/error.h"
#include "daemon/utilities/json.h"

namespace qd {

enum class HealthStatus { healthy, degraded, unhealthy };

std::string toString(HealthStatus status);  // "healthy", "degraded", "unhealthy"
std::optional<HealthStatus> healthStatusFromString(std::string_view raw);

// The daemon's health record, as health.json holds it and the tray application reads it.
struct HealthData {
  std::int64_t daemonPid = 0;
  std::optional<std::int64_t> tinderboxPid;
  HealthStatus status = HealthStatus::healthy;
  std::int64_t lastUpdate = 0;  // milliseconds since 1970
  std::int64_t uptime = 0;      // whole seconds
  std::int64_t tinderboxRestarts = 0;
  std::int64_t connectedClients = 0;
  bool tinderboxConnected = false;

  Json toJson() const;
  // Every key but tinderboxPid is required; a status outside the three fails.
  static HealthData fromJson(const Json& value);
  // The file form: pretty-printed, keys in ascending order.
  std::string fileText() const;

  bool operator==(const HealthData&) const = default;
};

class HealthError : public Error {
 public:
  enum class Kind { daemonAlreadyRunning };

  static HealthError daemonAlreadyRunning(std::int64_t pid, const std::string& appSupportDir);

  Kind kind() const { return kind_; }

 private:
  HealthError(Kind kind, std::string description) : Error(std::move(description)), kind_(kind) {}
  Kind kind_;
};

}  // namespace qd
