#include "app/health_record.h"

#include <climits>

#include "daemon/utilities/process_alive.h"

namespace qd {
namespace {

std::optional<std::int64_t> integer(const Json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_number_integer()) return std::nullopt;
  if (it->is_number_unsigned()) {
    const auto value = it->get<std::uint64_t>();
    if (value > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
    return static_cast<std::int64_t>(value);
  }
  return it->get<std::int64_t>();
}

}  // namespace

std::optional<AppHealthData> AppHealthData::fromJson(const Json& value) {
  if (!value.is_object()) return std::nullopt;
  AppHealthData data;
  const auto daemonPid = integer(value, "daemonPid");
  const auto lastUpdate = integer(value, "lastUpdate");
  const auto uptime = integer(value, "uptime");
  const auto restarts = integer(value, "tinderboxRestarts");
  const auto clients = integer(value, "connectedClients");
  if (!daemonPid || !lastUpdate || !uptime || !restarts || !clients) return std::nullopt;
  const auto status = value.find("status");
  if (status == value.end() || !status->is_string()) return std::nullopt;
  const auto parsedStatus = healthStatusFromString(status->get<std::string>());
  if (!parsedStatus) return std::nullopt;
  if (const auto pid = value.find("tinderboxPid"); pid != value.end() && !pid->is_null()) {
    data.tinderboxPid = integer(value, "tinderboxPid");
    if (!data.tinderboxPid) return std::nullopt;
  }
  if (const auto connected = value.find("tinderboxConnected"); connected != value.end() && !connected->is_null()) {
    if (!connected->is_boolean()) return std::nullopt;
    data.tinderboxConnected = connected->get<bool>();
  }
  data.daemonPid = *daemonPid;
  data.status = *parsedStatus;
  data.lastUpdate = *lastUpdate;
  data.uptime = *uptime;
  data.tinderboxRestarts = *restarts;
  data.connectedClients = *clients;
  return data;
}

Json AppHealthData::toJson() const {
  Json out = Json::object();
  out["daemonPid"] = daemonPid;
  if (tinderboxPid) out["tinderboxPid"] = *tinderboxPid;
  if (tinderboxConnected) out["tinderboxConnected"] = *tinderboxConnected;
  out["status"] = toString(status);
  out["lastUpdate"] = lastUpdate;
  out["uptime"] = uptime;
  out["tinderboxRestarts"] = tinderboxRestarts;
  out["connectedClients"] = connectedClients;
  return out;
}

bool isHealthRecordFresh(std::int64_t lastUpdateMs, std::int64_t nowMs) {
  // Compared without computing the age, which overflows for a stamp far in the past; a
  // record dated in the future counts as fresh.
  return lastUpdateMs >= nowMs - maxHealthStalenessMs;
}

bool isRecordedProcessAlive(std::int64_t pid) {
  if (pid <= 0 || pid > INT32_MAX) return false;
  return isProcessAlive(static_cast<pid_t>(pid));
}

bool shouldShowStartupState(bool daemonStartupInProgress, bool daemonAlive, bool daemonStartupFailed,
                            std::chrono::steady_clock::duration sinceLaunch) {
  if (daemonStartupInProgress) return true;
  if (daemonAlive || daemonStartupFailed) return false;
  return sinceLaunch < initialStartupGracePeriod;
}

}  // namespace qd
