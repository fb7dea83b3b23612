#include "daemon/tinderbox/note_app_commands.h"

#include <chrono>
#include <cmath>

#include "daemon/core/daemon_error.h"
#include "daemon/runtime/child_process.h"
#include "daemon/runtime/run_to_end.h"
#include "daemon/utilities/unicode_text.h"
#include "platform/executable_search.h"

namespace qd {

namespace {

std::string exitText(const ExitStatus& status) { return std::to_string(status.code); }

}  // namespace

std::string wholeSecondsText(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) return "0";
  return std::to_string(static_cast<long long>(seconds));
}

NoteAppCommands::NoteAppCommands(asio::any_io_executor executor, std::optional<platform::Environment> environment)
    : queue_(std::move(executor)), environment_(std::move(environment)) {}

bool NoteAppCommands::isOnPath(const std::string& program) const {
  const platform::Environment environment = environment_ ? *environment_ : platform::Environment::current();
  return platform::findExecutableOnPath(program, environment).has_value();
}

asio::awaitable<AsyncCollectedOutput> NoteAppCommands::run(std::string program, std::vector<std::string> arguments,
                                                           double timeoutSeconds) {
  AsyncMutex::Guard guard = co_await queue_.lock();
  const platform::Environment environment = environment_ ? *environment_ : platform::Environment::current();
  const auto executable = platform::findExecutableOnPath(program, environment);
  if (!executable) throw ChildProcessError::notOnPath(program);
  RunToEndOptions options;
  const double bounded = std::isfinite(timeoutSeconds) && timeoutSeconds > 0 ? timeoutSeconds : 0;
  options.timeout = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(bounded));
  std::string path = executable->string();
  co_return co_await runToEnd(std::move(path), std::move(arguments), options);
}

asio::awaitable<std::string> NoteAppCommands::runAppleScript(std::vector<std::string> lines, double timeoutSeconds) {
  std::vector<std::string> arguments;
  for (std::string& line : lines) {
    arguments.push_back("-e");
    arguments.push_back(std::move(line));
  }
  std::string program = "osascript";
  AsyncCollectedOutput output = co_await run(std::move(program), std::move(arguments), timeoutSeconds);
  if (output.end != AsyncCollectedOutput::End::exited) {
    throw DaemonError::appleScriptError("timed out after " + wholeSecondsText(timeoutSeconds) + "s");
  }
  if (!output.status.success()) {
    const std::string errorText = unicode::isValidUtf8(output.standardError) ? output.standardError : std::string();
    throw DaemonError::appleScriptError(errorText.empty() ? "exit " + exitText(output.status) : errorText);
  }
  // Output that is not UTF-8 counts as empty text.
  co_return unicode::isValidUtf8(output.standardOutput) ? output.standardOutput : std::string();
}

asio::awaitable<void> NoteAppCommands::openURL(std::string url, double timeoutSeconds) {
  std::vector<std::string> arguments{url};
  std::string program = "xdg-open";
  AsyncCollectedOutput output = co_await run(std::move(program), std::move(arguments), timeoutSeconds);
  if (output.end != AsyncCollectedOutput::End::exited) throw DaemonError::openURLError(url + " (timed out)");
  if (!output.status.success()) throw DaemonError::openURLError(url);
}

asio::awaitable<void> NoteAppCommands::print(std::vector<std::string> arguments, double timeoutSeconds) {
  std::string program = "lpr";
  AsyncCollectedOutput output = co_await run(std::move(program), std::move(arguments), timeoutSeconds);
  if (output.end != AsyncCollectedOutput::End::exited) {
    throw DaemonError::appleScriptError("lpr timed out after " + wholeSecondsText(timeoutSeconds) + "s");
  }
  if (!output.status.success()) {
    throw DaemonError::appleScriptError(output.standardError.empty() ? "lpr failed with exit " + exitText(output.status)
                                                                     : output.standardError);
  }
}

}  // namespace qd
