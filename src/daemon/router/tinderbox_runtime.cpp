// The note app's runtime control (restart, open, quit), reached through tbx_doc's
// restart_tinderbox, open_tinderbox and quit_tinderbox and the one-shot modes.

#include "daemon/core/daemon_error.h"
#include "daemon/logging/logger.h"
#include "daemon/mcp/mcp_client.h"
#include "daemon/router/debug_text.h"
#include "daemon/router/router.h"
#include "daemon/router/router_internal.h"
#include "daemon/runtime/text_trim.h"
#include "daemon/tinderbox/tinderbox_supervisor.h"
#include "daemon/utilities/unix_time.h"

namespace qd {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

std::string pidText(const std::optional<pid_t>& pid) {
  return pid ? std::to_string(*pid) : std::string("<null>");
}

std::string nowText() { return std::to_string(unixMilliseconds(std::chrono::system_clock::now())); }

// A refusal is an error result, so the caller (an AI client, the command-line modes) can
// tell it from a restart, open or quit that was done.
Json denied(std::string text) { return CallToolResult::text(std::move(text), /*isError=*/true).toJson(); }

bool isSupervisorError(const std::exception_ptr& error, SupervisorError::Kind kind) {
  try {
    std::rethrow_exception(error);
  } catch (const SupervisorError& e) {
    return e.kind() == kind;
  } catch (...) {
    return false;
  }
}

}  // namespace

asio::awaitable<Json> TinderboxDaemon::handleTinderboxRuntime(Json arguments) {
  const std::optional<std::string> raw = router::stringMember(arguments, "operation");
  const std::string operation = raw ? trimWhitespaceAndNewlines(*raw) : std::string();
  if (operation == "restart_tinderbox") {
    std::string reason = router::stringMember(arguments, "reason").value_or("agent-triggered restart");
    co_return co_await handleRestartTinderbox(std::move(reason));
  }
  if (operation == "open_tinderbox") co_return co_await handleStartTinderbox();
  if (operation == "quit_tinderbox") co_return co_await handleStopTinderbox();
  throw DaemonError::invalidParameter("Unknown runtime operation: " + operation + ". " +
                                      "Supported operations: restart_tinderbox, open_tinderbox, quit_tinderbox");
}

// startTinderbox(), then the hand-over of its client; after a failure the hand-over of
// whatever the supervisor holds (none after a failed spawn), then the failure.
asio::awaitable<void> TinderboxDaemon::startAndBind(std::shared_ptr<TinderboxSupervisor> supervisor) {
  std::shared_ptr<MCPClient> client;
  std::exception_ptr error;
  try {
    client = co_await supervisor->startTinderbox();
  } catch (...) {
    error = std::current_exception();
    client = supervisor->getTinderboxClient();
  }
  co_await setTinderboxProviderClient(std::move(client));
  if (error) std::rethrow_exception(error);
}

asio::awaitable<Json> TinderboxDaemon::handleRestartTinderbox(std::string reason) {
  std::shared_ptr<TinderboxSupervisor> supervisor = supervisor_;
  if (!supervisor) {
    co_return denied("Restart denied: no Tinderbox supervisor active (Tinderbox connection is disabled)");
  }
  std::exception_ptr error;
  try {
    co_await supervisor->restart(reason);
  } catch (...) {
    error = std::current_exception();
  }
  if (error) {
    if (isSupervisorError(error, SupervisorError::Kind::restartRateLimitExceeded)) {
      co_return denied("Restart denied: rate limit exceeded (max 5 restarts per 5 minutes). Wait before retrying.");
    }
    if (isSupervisorError(error, SupervisorError::Kind::shuttingDown)) {
      co_return denied("Restart denied: daemon is shutting down");
    }
    // The old child is gone and no new one came up: nobody keeps the closed client, so
    // calls answer that the note app is not connected.
    std::shared_ptr<MCPClient> current = supervisor->getTinderboxClient();
    co_await setTinderboxProviderClient(std::move(current));
    std::rethrow_exception(error);
  }
  co_await startAndBind(supervisor);
  const std::optional<pid_t> pid = supervisor->getTinderboxPID();
  using namespace debug_text;
  co_return router::textResult(map(Entries{
      {"restarted", "true"},
      {"reason", debug_text::quoted(reason)},
      {"tinderboxConnected", boolean(pid.has_value())},
      {"tinderboxPid", pidText(pid)},
      {"totalRestarts", std::to_string(supervisor->getRestartCount())},
      {"timestamp", nowText()},
  }));
}

asio::awaitable<Json> TinderboxDaemon::handleStartTinderbox() {
  std::shared_ptr<TinderboxSupervisor> supervisor = supervisor_;
  if (!supervisor) {
    co_return denied("Start denied: no Tinderbox supervisor active (Tinderbox connection is disabled)");
  }
  const std::optional<pid_t> before = supervisor->getTinderboxPID();
  co_await startAndBind(supervisor);
  const std::optional<pid_t> after = supervisor->getTinderboxPID();
  using namespace debug_text;
  co_return router::textResult(map(Entries{
      {"started", "true"},
      {"alreadyRunning", boolean(before.has_value())},
      {"tinderboxConnected", boolean(after.has_value())},
      {"tinderboxPid", pidText(after)},
      {"timestamp", nowText()},
  }));
}

asio::awaitable<Json> TinderboxDaemon::handleStopTinderbox() {
  std::shared_ptr<TinderboxSupervisor> supervisor = supervisor_;
  if (!supervisor) {
    co_return denied("Stop denied: no Tinderbox supervisor active (Tinderbox connection is disabled)");
  }
  const std::optional<pid_t> before = supervisor->getTinderboxPID();
  co_await supervisor->stopTinderbox();
  std::shared_ptr<MCPClient> none;
  co_await setTinderboxProviderClient(std::move(none));
  using namespace debug_text;
  co_return router::textResult(map(Entries{
      {"stopped", "true"},
      {"wasRunning", boolean(before.has_value())},
      {"tinderboxConnected", "false"},
      {"tinderboxPid", "<null>"},
      {"timestamp", nowText()},
  }));
}

}  // namespace qd
