#include "daemon/health/health_data.h"

#include "daemon/utilities/json_codec.h"

namespace qd {

std::string toString(HealthStatus status) {
  switch (status) {
    case HealthStatus::healthy: return "healthy";
    case HealthStatus::degraded: return "degraded";
    case HealthStatus::unhealthy: return "unhealthy";
  }
  return "unhealthy";
}

std::optional<HealthStatus> healthStatusFromString(std::string_view raw) {
  if (raw == "healthy") return HealthStatus::healthy;
  if (raw == "degraded") return HealthStatus::degraded;
  if (raw == "unhealthy") return HealthStatus::unhealthy;
  return std::nullopt;
}

Json HealthData::toJson() const {
  Json out = {{"daemonPid", daemonPid}};
  codec::putOptional(out, "tinderboxPid", tinderboxPid);
  out["status"] = toString(status);
  out["lastUpdate"] = lastUpdate;
  out["uptime"] = uptime;
  out["tinderboxRestarts"] = tinderboxRestarts;
  out["connectedClients"] = connectedClients;
  out["tinderboxConnected"] = tinderboxConnected;
  return out;
}

HealthData HealthData::fromJson(const Json& value) {
  codec::expectObject(value, "a health record");
  HealthData data;
  data.daemonPid = codec::requiredInt(value, "daemonPid");
  data.tinderboxPid = codec::optionalInt(value, "tinderboxPid");
  const std::string rawStatus = codec::requiredString(value, "status");
  const auto status = healthStatusFromString(rawStatus);
  if (!status) {
    throw DecodingError(DecodingError::Kind::dataCorrupted, "Cannot read health status \"" + rawStatus + "\"");
  }
  data.status = *status;
  data.lastUpdate = codec::requiredInt(value, "lastUpdate");
  data.uptime = codec::requiredInt(value, "uptime");
  data.tinderboxRestarts = codec::requiredInt(value, "tinderboxRestarts");
  data.connectedClients = codec::requiredInt(value, "connectedClients");
  data.tinderboxConnected = codec::requiredBool(value, "tinderboxConnected");
  return data;
}

std::string HealthData::fileText() const {
  // nlohmann::json keeps object members in a std::map, so its dump has sorted keys.
  const nlohmann::json sorted = nlohmann::json::parse(dumpJson(toJson()));
  return sorted.dump(2) + "\n";
}

HealthError HealthError::daemonAlreadyRunning(std::int64_t pid, const std::string& appSupportDir) {
  return {Kind::daemonAlreadyRunning, "Daemon already running with PID " + std::to_string(pid) +
                                          ". Stop it first or remove stale files at " + appSupportDir};
}

}  // namespace qd
