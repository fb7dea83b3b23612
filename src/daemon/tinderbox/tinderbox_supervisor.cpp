#include "daemon/tinderbox/tinderbox_supervisor.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

#include <asio/steady_timer.hpp>
#include <asio/redirect_error.hpp>
#include <asio/use_awaitable.hpp>

#include "daemon/logging/logger.h"
#include "daemon/mcp/mcp_client.h"
#include "daemon/mcp/stdio_transport.h"
#include "daemon/runtime/coroutine_helpers.h"
#include "daemon/runtime/one_shot.h"
#include "daemon/runtime/text_trim.h"
#include "daemon/utilities/atomic_file.h"
#include "daemon/utilities/durations.h"
#include "daemon/utilities/process_alive.h"

namespace qd {
namespace {

constexpr const char* component = "Supervisor";
constexpr double maxStartLimitSeconds = 12.0;

// Read by people in error replies and logs. None says "timed out": the request queue
// would take that for the call's own time-out.
const char* describe(SupervisorError::Kind kind) {
  switch (kind) {
    case SupervisorError::Kind::clientNotInitialized: return "Tinderbox's MCP server is not connected";
    case SupervisorError::Kind::shuttingDown: return "The daemon is shutting down";
    case SupervisorError::Kind::restartRateLimitExceeded:
      return "Tinderbox's MCP server was restarted too often (at most 5 restarts in 5 minutes)";
    case SupervisorError::Kind::timeout: return "Tinderbox's MCP server did not start in time";
  }
  return "Tinderbox's MCP server did not start in time";
}

asio::awaitable<void> timerSleep(double seconds) {
  asio::steady_timer timer(co_await asio::this_coro::executor, timeoutFromSeconds(seconds));
  co_await timer.async_wait(asio::use_awaitable);
}

// A decimal 32-bit integer with an optional sign and nothing else around it.
std::optional<std::int32_t> parsePid(const std::string& text) {
  std::string_view digits = text;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  if (digits.empty() || digits.front() == '+') return std::nullopt;
  std::int32_t value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return value;
}

std::string oneDecimal(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

// Signal 0 also reaches a zombie: a process that has ended but is not reaped yet is dead.
bool orphanLives(pid_t pid) {
  if (!isProcessAlive(pid)) return false;
  std::optional<std::string> stat;
  try {
    stat = readFileIfPresent("/proc/" + std::to_string(pid) + "/stat");
  } catch (const std::exception&) {
    return true;
  }
  if (!stat) return false;
  const auto close = stat->rfind(')');
  return close == std::string::npos || close + 2 >= stat->size() || (*stat)[close + 2] != 'Z';
}

asio::awaitable<void> startAndInitialize(std::shared_ptr<MCPClient> client) {
  co_await client->start();
  co_await client->initialize(ClientCapabilities{});
}

asio::awaitable<ListToolsResult> listToolsOf(std::shared_ptr<MCPClient> client) {
  co_return co_await client->listTools();
}

std::filesystem::path resolved(const std::filesystem::path& path) {
  std::error_code ignored;
  std::filesystem::path out = std::filesystem::weakly_canonical(path, ignored);
  return out.empty() ? path : out;
}

}  // namespace

SupervisorError::SupervisorError(Kind kind) : Error(describe(kind)), kind_(kind) {}

SupervisorSettings SupervisorSettings::from(const Configuration& configuration) {
  SupervisorSettings settings;
  settings.executablePath = configuration.tinderboxMCPPath();
  settings.document = configuration.tinderboxDocument();
  settings.pidFilePath = configuration.pidFilePath();
  settings.requestTimeoutSeconds = static_cast<double>(configuration.requestTimeout()) / 1000.0;
  settings.connectionTimeoutSeconds = static_cast<double>(configuration.connectionTimeout()) / 1000.0;
  return settings;
}

bool processRunsServer(pid_t pid, const std::string& serverPath) {
  const std::filesystem::path wanted = resolved(serverPath);
  const std::string proc = "/proc/" + std::to_string(pid);
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink(proc + "/exe", ec);
  if (!ec && resolved(exe) == wanted) return true;
  std::optional<std::string> cmdline;
  try {
    cmdline = readFileIfPresent(proc + "/cmdline");
  } catch (const std::exception&) {
  }
  if (!cmdline) return false;
  const std::filesystem::path cwd = std::filesystem::read_symlink(proc + "/cwd", ec);
  std::size_t start = 0;
  for (int index = 0; index < 2 && start < cmdline->size(); ++index) {
    const std::size_t end = std::min(cmdline->find('\0', start), cmdline->size());
    std::filesystem::path argument = cmdline->substr(start, end - start);
    start = end + 1;
    if (argument.empty()) continue;
    if (argument.is_relative()) {
      if (ec) continue;
      argument = cwd / argument;
    }
    if (resolved(argument) == wanted) return true;
  }
  return false;
}

const std::vector<double>& TinderboxSupervisor::restartDelays() {
  static const std::vector<double> delays{1, 2, 4, 8, 16};
  return delays;
}

struct TinderboxSupervisor::SpawnInFlight {
  std::vector<std::shared_ptr<OneShot<std::shared_ptr<MCPClient>>>> waiters;
};

std::shared_ptr<TinderboxSupervisor> TinderboxSupervisor::create(asio::any_io_executor executor,
                                                                 SupervisorSettings settings) {
  return std::shared_ptr<TinderboxSupervisor>(new TinderboxSupervisor(std::move(executor), std::move(settings)));
}

TinderboxSupervisor::TinderboxSupervisor(asio::any_io_executor executor, SupervisorSettings settings)
    : executor_(std::move(executor)), settings_(std::move(settings)) {
  if (!settings_.sleep) settings_.sleep = timerSleep;
  if (!settings_.clock) settings_.clock = &Clock::system();
}

// A supervisor dropped without shutdown(): the transport's child is killed and reaped by
// its own destructor.
TinderboxSupervisor::~TinderboxSupervisor() = default;

asio::awaitable<std::shared_ptr<MCPClient>> TinderboxSupervisor::start() {
  Logger::info(component, "Starting Tinderbox supervisor");
  co_await cleanupOrphanedProcesses();
  co_await spawn();
  startHealthMonitoring();
  if (!client_) throw SupervisorError(SupervisorError::Kind::clientNotInitialized);
  co_return client_;
}

asio::awaitable<std::shared_ptr<MCPClient>> TinderboxSupervisor::startAndMonitor() {
  Logger::info(component, "Starting Tinderbox supervisor");
  co_await cleanupOrphanedProcesses();
  std::shared_ptr<MCPClient> client;
  try {
    client = co_await startAndGetClient();
  } catch (...) {
    Logger::error(component, "Failed to start Tinderbox", {{"error", describeException(std::current_exception())}});
  }
  if (!isShuttingDown_) startHealthMonitoring();
  co_return client;
}

asio::awaitable<void> TinderboxSupervisor::shutdown() {
  if (isShuttingDown_) co_return;
  isShuttingDown_ = true;
  Logger::info(component, "Shutting down Tinderbox supervisor");
  if (healthCheckTimer_) {
    healthCheckTimer_->cancel();
    healthCheckTimer_.reset();
  }
  co_await disconnectCurrentTinderbox();
  Logger::info(component, "Supervisor shutdown complete");
}

asio::awaitable<void> TinderboxSupervisor::restart(std::string reason) {
  co_await attemptRestart(std::move(reason), RefusedAttempt::recorded);
}

asio::awaitable<void> TinderboxSupervisor::attemptRestart(std::string reason, RefusedAttempt refused) {
  if (isShuttingDown_) throw SupervisorError(SupervisorError::Kind::shuttingDown);
  Logger::warn(component, "Restarting Tinderbox", {{"reason", reason}});
  recordRestartAttempt(std::move(reason), refused);
  // The health loop leaves the child alone until this restart ends.
  ++restartsUnderWay_;
  struct Done {
    int& count;
    ~Done() { --count; }
  } done{restartsUnderWay_};

  const auto& delays = restartDelays();
  const double delay = delays[std::min<std::size_t>(static_cast<std::size_t>(consecutiveFailures_), delays.size() - 1)];
  ++consecutiveFailures_;
  Logger::info(component, "Waiting " + oneDecimal(delay) + "s before restart",
               {{"consecutiveFailures", consecutiveFailures_}, {"delay", delay}});
  co_await backOff(delay);

  co_await disconnectCurrentTinderbox();
  co_await spawn();
  if (observer_.restarted) observer_.restarted();
}

asio::awaitable<void> TinderboxSupervisor::backOff(double seconds) { co_await settings_.sleep(seconds); }

void TinderboxSupervisor::recordRestartAttempt(std::string reason, RefusedAttempt refused) {
  const auto now = settings_.clock->wallNow();
  const auto windowStart = now - std::chrono::seconds(static_cast<int>(restartRateLimitWindow));
  std::erase_if(restartHistory_, [&](const RestartRecord& record) { return record.timestamp < windowStart; });
  // The attempt itself counts: the sixth inside the window is refused.
  const std::size_t attemptsInWindow = restartHistory_.size() + 1;
  const bool allowed = attemptsInWindow <= static_cast<std::size_t>(maxRestartsInWindow);
  if (allowed || refused == RefusedAttempt::recorded) {
    restartHistory_.push_back(RestartRecord{now, std::move(reason)});
    ++restartCount_;
  }
  if (allowed) return;
  Logger::error(component, "Restart rate limit exceeded",
                {{"restarts", attemptsInWindow},
                 {"window", std::to_string(static_cast<int>(restartRateLimitWindow)) + "s"}});
  throw SupervisorError(SupervisorError::Kind::restartRateLimitExceeded);
}

asio::awaitable<std::shared_ptr<MCPClient>> TinderboxSupervisor::startTinderbox() {
  if (isShuttingDown_) throw SupervisorError(SupervisorError::Kind::shuttingDown);
  if (client_ && transport_ && transport_->processIsRunning()) co_return client_;
  // A spawn already under way is joined, not preceded by a disconnect of nothing.
  if (!spawning_) co_await disconnectCurrentTinderbox();
  co_await spawn();
  if (!client_) throw SupervisorError(SupervisorError::Kind::clientNotInitialized);
  co_return client_;
}

asio::awaitable<void> TinderboxSupervisor::stopTinderbox() {
  if (isShuttingDown_) co_return;
  co_await disconnectCurrentTinderbox();
}

asio::awaitable<std::shared_ptr<MCPClient>> TinderboxSupervisor::startAndGetClient() {
  if (isShuttingDown_) co_return nullptr;
  if (client_) co_return client_;
  co_return co_await spawn();
}

asio::awaitable<std::shared_ptr<MCPClient>> TinderboxSupervisor::spawn() {
  if (spawning_) {
    auto waiter = std::make_shared<OneShot<std::shared_ptr<MCPClient>>>(executor_);
    spawning_->waiters.push_back(waiter);
    co_return co_await waiter->wait();
  }
  auto flight = std::make_shared<SpawnInFlight>();
  spawning_ = flight;
  std::shared_ptr<MCPClient> client;
  std::exception_ptr error;
  try {
    client = co_await spawnOnce();
  } catch (...) {
    error = std::current_exception();
  }
  spawning_.reset();
  for (auto& waiter : flight->waiters) {
    if (error) {
      waiter->fail(error);
    } else {
      waiter->resume(client);
    }
  }
  if (error) std::rethrow_exception(error);
  co_return client;
}

asio::awaitable<std::shared_ptr<MCPClient>> TinderboxSupervisor::spawnOnce() {
  Logger::info(component, "Spawning Tinderbox process",
               {{"path", settings_.executablePath}, {"document", settings_.document.value_or("(none)")}});
  std::vector<std::string> arguments;
  if (settings_.document) arguments.push_back(*settings_.document);
  auto transport = std::make_shared<StdioTransport>(executor_, settings_.executablePath, std::move(arguments),
                                                    std::nullopt, std::chrono::seconds(5), SIGTERM);
  std::shared_ptr<MCPClient> client =
      MCPClient::create(executor_, transport, Implementation{"tinderbox-supervisor", "0.1.0"},
                        settings_.requestTimeoutSeconds);
  const double limit = std::min(settings_.connectionTimeoutSeconds, maxStartLimitSeconds);

  // The race cancels a waiting "initialize" at the limit; either way a failed attempt's
  // child is stopped and reaped here, never left running.
  bool inTime = false;
  std::exception_ptr error;
  try {
    inTime = co_await withTimeout(startAndInitialize(client), timeoutFromSeconds(limit));
  } catch (...) {
    error = std::current_exception();
  }
  if (error) {
    co_await client->close();
    std::rethrow_exception(error);
  }
  if (!inTime) {
    co_await client->close();
    throw SupervisorError(SupervisorError::Kind::timeout);
  }
  if (isShuttingDown_) {
    co_await client->close();
    throw SupervisorError(SupervisorError::Kind::shuttingDown);
  }
  // Never two children: whatever is still held is closed before the new one takes its place.
  if (client_) co_await disconnectCurrentTinderbox();
  transport_ = transport;
  client_ = client;
  pid_ = transport->processPID();
  writePidFile();
  if (observer_.pidChanged) observer_.pidChanged(pid_);
  consecutiveFailures_ = 0;
  Logger::info(component, "Tinderbox process started successfully", {{"pid", pid_.value_or(0)}});
  co_return client;
}

asio::awaitable<void> TinderboxSupervisor::disconnectCurrentTinderbox() {
  // Taken out before the close waits, so nobody is handed a client that is closing.
  std::shared_ptr<MCPClient> client = std::move(client_);
  std::shared_ptr<StdioTransport> transport = std::move(transport_);
  client_.reset();
  transport_.reset();
  const bool hadPid = std::exchange(pid_, std::nullopt).has_value();
  if (hadPid && observer_.pidChanged) observer_.pidChanged(std::nullopt);
  if (client) {
    Logger::info(component, "Closing Tinderbox transport");
    co_await client->close();
  } else if (transport) {
    co_await transport->close();
  }
  removePidFile();
}

void TinderboxSupervisor::writePidFile() const {
  if (!pid_) return;
  try {
    writeFileAtomically(settings_.pidFilePath, std::to_string(*pid_), AtomicWriteOptions{}.withMode(0600));
    if (::chmod(settings_.pidFilePath.c_str(), 0600) != 0) {
      throw std::system_error(errno, std::generic_category(), "chmod " + settings_.pidFilePath);
    }
  } catch (...) {
    Logger::error(component, "Failed to write PID file", {{"error", describeException(std::current_exception())}});
  }
}

void TinderboxSupervisor::removePidFile() const {
  std::error_code ignored;
  std::filesystem::remove(settings_.pidFilePath, ignored);
}

asio::awaitable<void> TinderboxSupervisor::cleanupOrphanedProcesses() {
  Logger::info(component, "Checking for orphaned Tinderbox processes");
  std::optional<std::string> text;
  try {
    text = readFileIfPresent(settings_.pidFilePath);
  } catch (...) {
    Logger::error(component, "Error checking for orphaned processes",
                  {{"error", describeException(std::current_exception())}});
    removePidFile();
    co_return;
  }
  if (!text) {
    Logger::debug(component, "No PID file found, no orphaned processes");
    co_return;
  }
  const std::string trimmedText = trimWhitespaceAndNewlines(*text);
  const std::optional<std::int32_t> pid = parsePid(trimmedText);
  if (!pid || *pid < 1) {
    Logger::warn(component, "Invalid PID in file, removing", {{"pid", trimmedText}});
    removePidFile();
    co_return;
  }
  if (!orphanLives(*pid)) {
    Logger::info(component, "PID file exists but process is dead, cleaning up", {{"pid", *pid}});
    removePidFile();
    co_return;
  }
  // The pid may have been reused by an unrelated process since the file was written: only
  // a process that runs our server is signalled.
  if (!processRunsServer(*pid, settings_.executablePath)) {
    Logger::info(component, "PID file names a process that is not the Tinderbox server, leaving it",
                 {{"pid", *pid}});
    removePidFile();
    co_return;
  }
  Logger::warn(component, "Found orphaned Tinderbox process, terminating", {{"pid", *pid}});
  ::kill(*pid, SIGTERM);
  // Polled rather than slept whole: an orphan that ends at once does not hold the start.
  const auto deadline = std::chrono::steady_clock::now() + settings_.orphanGrace;
  asio::steady_timer timer(executor_);
  while (orphanLives(*pid) && std::chrono::steady_clock::now() < deadline) {
    timer.expires_after(std::chrono::milliseconds(50));
    std::error_code ec;
    co_await timer.async_wait(asio::redirect_error(asio::use_awaitable, ec));
    if (ec) {
      Logger::error(component, "Error checking for orphaned processes", {{"error", ec.message()}});
      removePidFile();
      co_return;
    }
  }
  if (orphanLives(*pid)) {
    Logger::warn(component, "Process didn't respond to SIGTERM, sending SIGKILL", {{"pid", *pid}});
    ::kill(*pid, SIGKILL);
  }
  removePidFile();
}

void TinderboxSupervisor::startHealthMonitoring() {
  // An earlier loop's pause is ended too, so only one loop runs.
  if (healthCheckTimer_) healthCheckTimer_->cancel();
  healthCheckTimer_ = std::make_shared<asio::steady_timer>(executor_);
  startTask(executor_, healthLoop(weak_from_this(), healthCheckTimer_, settings_.healthCheckInterval), component,
            "health loop");
}

asio::awaitable<void> TinderboxSupervisor::healthLoop(std::weak_ptr<TinderboxSupervisor> weak,
                                                     std::shared_ptr<asio::steady_timer> timer, double interval) {
  for (;;) {
    timer->expires_after(timeoutFromSeconds(interval));
    std::error_code ec;
    co_await timer->async_wait(asio::redirect_error(asio::use_awaitable, ec));
    std::shared_ptr<TinderboxSupervisor> self = weak.lock();
    if (!self || self->isShuttingDown_ || self->healthCheckTimer_ != timer) co_return;
    co_await self->performHealthCheck();
  }
}

bool TinderboxSupervisor::childIsAlive() const {
  if (!pid_) return false;
  // Our own child stays a zombie until the transport reaps it, and signal 0 reaches a
  // zombie: ask the transport, which watches the child's pidfd.
  if (transport_) return transport_->processIsRunning();
  return isProcessAlive(*pid_);
}

asio::awaitable<void> TinderboxSupervisor::performHealthCheck() {
  // A restart or start under way has the old child gone and the new one not yet up: judging
  // that moment would count a second restart against the limit for one failure.
  if (restartsUnderWay_ > 0 || spawning_) co_return;
  if (!childIsAlive()) {
    Logger::error(component, "Health check failed: Tinderbox process died");
    co_await restartAfterFailedCheck("Process died (health check)");
    co_return;
  }
  std::shared_ptr<MCPClient> client = client_;
  if (!client) co_return;
  std::string failure;
  try {
    if (co_await withTimeout(listToolsOf(client), timeoutFromSeconds(healthCheckTimeout))) {
      Logger::debug(component, "Health check passed");
      co_return;
    }
    failure = "timeout";
  } catch (...) {
    failure = describeException(std::current_exception());
  }
  Logger::warn(component, "Health check failed: MCP connection issue", {{"error", failure}});
  co_await restartAfterFailedCheck("MCP connection failed (health check)");
}

asio::awaitable<void> TinderboxSupervisor::restartAfterFailedCheck(std::string reason) {
  const std::shared_ptr<MCPClient> before = client_;
  bool failed = false;
  try {
    // The loop tries again every interval for as long as the child is down; were its
    // refusals recorded, they would keep the window full and the app down for good.
    co_await attemptRestart(std::move(reason), RefusedAttempt::dropped);
  } catch (...) {
    failed = true;
    Logger::error(component, "Failed to restart after health check failure",
                  {{"error", describeException(std::current_exception())}});
  }
  // A dead child refused a restart (the limit) keeps no client: calls then answer that
  // the note app is not connected instead of failing on a closed pipe.
  if (failed && !isShuttingDown_ && client_ && !childIsAlive()) co_await disconnectCurrentTinderbox();
  // The owner learns which client (or none) is current now; a refused restart that left
  // the same client changes nothing for it.
  if (onClientChanged_ && !isShuttingDown_ && client_ != before) {
    ClientChangedHandler handler = onClientChanged_;
    co_await handler(client_);
  }
}

}  // namespace qd
