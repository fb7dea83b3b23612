// health_check, daemon_self_check and the daemon's overall status.

#include <filesystem>

#include "daemon/core/daemon_error.h"
#include "daemon/core/unix_socket_server.h"
#include "daemon/queue/request_queue.h"
#include "daemon/router/debug_text.h"
#include "daemon/router/router.h"
#include "daemon/router/router_internal.h"
#include "daemon/runtime/text_trim.h"
#include "daemon/tinderbox/tinderbox_supervisor.h"
#include "daemon/utilities/unix_time.h"

namespace qd {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

bool exists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(path, ignored);
}

}  // namespace

HealthStatus statusFrom(const QueueStatus& queue, bool hasSupervisor, bool hasTinderboxPid) {
  if (!hasSupervisor) return HealthStatus::unhealthy;
  // The bounds are strict: exactly 50 waiting, 5000 ms or 0.1 is still healthy.
  const bool degraded = !hasTinderboxPid || queue.queueLength > 50 ||
                        (queue.avgLatencyMs && *queue.avgLatencyMs > 5000) ||
                        (queue.errorRate && *queue.errorRate > 0.1);
  return degraded ? HealthStatus::degraded : HealthStatus::healthy;
}

std::string TinderboxDaemon::formatUptime(double seconds) {
  const auto t = static_cast<std::int64_t>(seconds > 0 ? seconds : 0);
  return std::to_string(t / 3600) + "h " + std::to_string((t % 3600) / 60) + "m " + std::to_string(t % 60) + "s";
}

bool TinderboxDaemon::hasTinderboxProcess() const { return supervisor_ && supervisor_->getTinderboxPID().has_value(); }

asio::awaitable<bool> TinderboxDaemon::isTinderboxConnected() { co_return hasTinderboxProcess(); }

asio::awaitable<HealthStatus> TinderboxDaemon::determineHealthStatus() {
  const QueueStatus queue = queue_->getStatus();
  const bool connected = hasSupervisor_ && co_await isTinderboxConnected();
  co_return statusFrom(queue, hasSupervisor_, connected);
}

asio::awaitable<Json> TinderboxDaemon::handleHealthCheck() {
  const HealthStatus status = co_await determineHealthStatus();
  const QueueStatus queue = queue_->getStatus();
  const auto uptimeMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now() - startTime_).count();
  const bool connected = hasSupervisor_ && co_await isTinderboxConnected();
  const std::int64_t clients = socketServer_ ? socketServer_->getClientCount() : 0;
  using namespace debug_text;
  const std::string queueText = map(Entries{
      {"queueLength", number(queue.queueLength)},
      {"processing", boolean(queue.processing)},
      {"totalProcessed", number(queue.totalProcessed)},
      {"totalFailed", number(queue.totalFailed)},
      {"activeReads", number(queue.activeReads)},
      {"activeWrite", boolean(queue.activeWrite)},
      {"minLatencyMs", optionalNumber(queue.minLatencyMs)},
      {"maxLatencyMs", optionalNumber(queue.maxLatencyMs)},
      {"avgLatencyMs", optionalNumber(queue.avgLatencyMs)},
      {"errorRate", optionalNumber(queue.errorRate)},
  });
  co_return router::textResult(map(Entries{
      {"status", quoted(toString(status))},
      {"uptimeMs", number(static_cast<std::int64_t>(uptimeMs))},
      {"uptime", quoted(formatUptime(static_cast<double>(uptimeMs) / 1000.0))},
      {"tinderboxConnected", boolean(connected)},
      {"connectedClients", number(clients)},
      {"queue", queueText},
      {"timestamp", number(unixMilliseconds(std::chrono::system_clock::now()))},
  }));
}

asio::awaitable<Json> TinderboxDaemon::handleDaemonSelfCheck(Json arguments) {
  std::string operation = "status";
  if (std::optional<std::string> given = router::stringMember(arguments, "operation")) {
    operation = trimWhitespaceAndNewlines(*given);
  }
  if (!operation.empty() && operation != "status") {
    throw DaemonError::invalidParameter("Unknown daemon_self_check operation: " + operation);
  }
  using namespace debug_text;
  const Entries paths{
      {"socketPath", quoted(configuration_.socketPath())},
      {"lockFilePath", quoted(configuration_.lockFilePath())},
      {"pidFilePath", quoted(configuration_.pidFilePath())},
      {"healthFilePath", quoted(configuration_.healthFilePath())},
  };
  const Entries files{
      {"socketExists", boolean(exists(configuration_.socketPath()))},
      {"lockExists", boolean(exists(configuration_.lockFilePath()))},
      {"pidExists", boolean(exists(configuration_.pidFilePath()))},
      {"healthExists", boolean(exists(configuration_.healthFilePath()))},
  };
  const bool connected = hasSupervisor_ && co_await isTinderboxConnected();
  const QueueStatus queue = queue_->getStatus();
  const Entries queueEntries{
      {"queueLength", number(queue.queueLength)},
      {"processing", boolean(queue.processing)},
      {"activeReads", number(queue.activeReads)},
      {"activeWrite", boolean(queue.activeWrite)},
  };
  co_return router::textResult(map(Entries{
      {"isRunning", boolean(isRunning_)},
      {"tinderboxConnected", boolean(connected)},
      {"paths", map(paths)},
      {"files", map(files)},
      {"queue", map(queueEntries)},
      {"timestamp", number(unixMilliseconds(std::chrono::system_clock::now()))},
  }));
}

}  // namespace qd
