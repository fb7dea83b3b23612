#include "daemon/cli/daemon_mode.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <exception>
#include <memory>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>
#include <asio/use_awaitable.hpp>

#include "daemon/cli/companion_app.h"
#include "daemon/config/configuration.h"
#include "daemon/logging/log_file.h"
#include "daemon/logging/logger.h"
#include "daemon/router/router.h"

namespace qd {
namespace {

constexpr std::string_view kComponent = "App";

bool startedWithSighupIgnored() {
  struct sigaction current {};
  return ::sigaction(SIGHUP, nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) == 0 &&
         current.sa_handler == SIG_IGN;
}

// Start, wait for the first termination signal, shut down. The signal set outlives this
// coroutine (the caller holds it), so a second signal during or after the shutdown is
// caught and changes nothing.
asio::awaitable<void> serveUntilSignal(std::shared_ptr<asio::signal_set> signals) {
  // Caught from before the start: the socket answers while the start goes on, and a
  // SIGTERM in that window must end in an orderly shutdown (the set keeps it until the
  // wait below), not in the default action that leaves the socket file behind.
  // SIGHUP too: a closed terminal or an ending session must not kill the daemon by the
  // default action, which leaves its files behind and its children running. A daemon
  // started with SIGHUP ignored (under nohup) was asked to outlive its terminal: catching
  // the signal would undo that, so it stays ignored.
  signals->add(SIGTERM);
  signals->add(SIGINT);
  if (!startedWithSighupIgnored()) signals->add(SIGHUP);
  auto executor = co_await asio::this_coro::executor;
  std::shared_ptr<TinderboxDaemon> daemon = TinderboxDaemon::create(executor, Configuration::shared());
  co_await daemon->start();
  Logger::info(kComponent, "Daemon running, waiting for termination signal");
  co_await signals->async_wait(asio::use_awaitable);
  Logger::info(kComponent, "Signal received, shutting down daemon");
  co_await daemon->shutdown();
  Logger::info(kComponent, "Daemon shutdown complete");
}

}  // namespace

bool rotateErrorLog(const std::filesystem::path& logPath, std::int64_t thresholdBytes, int reopenFd) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(logPath, error);
  if (error || size <= static_cast<std::uintmax_t>(thresholdBytes)) return false;
  std::filesystem::path backup = logPath;
  backup += ".1";
  std::filesystem::remove(backup, error);
  std::filesystem::rename(logPath, backup, error);
  const int fresh = openLogFile(logPath);
  if (fresh >= 0) {
    // dup2 clears close-on-exec on the target, as standard error should be.
    ::dup2(fresh, reopenFd);
    if (fresh != reopenFd) ::close(fresh);
  }
  Logger::info(kComponent, "Log rotated",
               Json{{"previousSizeBytes", static_cast<std::int64_t>(size)}, {"backup", backup.string()}});
  return true;
}

int runDaemonMode() {
  const Configuration& configuration = Configuration::shared();
  rotateErrorLog(configuration.daemonErrorLogPath(), Configuration::logRotationThresholdBytes, STDERR_FILENO);
  ensureCompanionAppRunning();
  Logger::info(kComponent, "Starting in daemon mode");

  // This thread is the daemon's io thread: every actor lives on this context.
  asio::io_context io(1);
  auto signals = std::make_shared<asio::signal_set>(io);
  std::exception_ptr failure;
  asio::co_spawn(io, serveUntilSignal(signals), [&io, &failure](std::exception_ptr error) {
    failure = error;
    // Whatever a stopped service left queued is not waited for.
    io.stop();
  });
  io.run();
  if (failure) std::rethrow_exception(failure);
  // Removing the set gives the signals their default action back; ignore them instead,
  // so a late signal cannot turn this orderly end into a kill.
  signals.reset();
  std::signal(SIGTERM, SIG_IGN);
  std::signal(SIGINT, SIG_IGN);
  std::signal(SIGHUP, SIG_IGN);
  return 0;
}

}  // namespace qd
