#pragma once

// The programs the note-app operations run: osascript (scripts for the note app and for
// the menu clicks), the URL opener and the print spooler. Each is looked up on PATH at
// every run, so a missing one fails the call promptly, as a program that cannot be started
// does, naming it ("Could not start lpr: not found on PATH"). The runs never overlap one another
// (one queue, taken on the io thread) and none blocks the io thread while it runs.

#include <optional>
#include <string>
#include <vector>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>

#include "daemon/runtime/async_mutex.h"
#include "daemon/runtime/collect_output_async.h"
#include "platform/environment.h"

namespace qd {

class NoteAppCommands {
 public:
  // `environment`: where PATH is read; absent, the process environment at each run.
  explicit NoteAppCommands(asio::any_io_executor executor,
                           std::optional<platform::Environment> environment = std::nullopt);

  // Runs the lines as one script ("-e" per line). Returns standard output unchanged.
  // Time-out: appleScriptError "timed out after <whole seconds>s"; another exit:
  // appleScriptError with standard error, or "exit <status>" when that is empty.
  asio::awaitable<std::string> runAppleScript(std::vector<std::string> lines, double timeoutSeconds);

  // Opens the URL with the desktop's URL opener (xdg-open). Time-out: openURLError
  // "<url> (timed out)"; another exit: openURLError "<url>".
  asio::awaitable<void> openURL(std::string url, double timeoutSeconds);

  // Runs lpr with the arguments. Time-out: appleScriptError "lpr timed out after <n>s";
  // another exit: appleScriptError with lpr's standard error as it is, or
  // "lpr failed with exit <status>".
  asio::awaitable<void> print(std::vector<std::string> arguments, double timeoutSeconds);

  // Whether a program of that name is on PATH.
  bool isOnPath(const std::string& program) const;

  // The run of one program found on PATH, after the queue has been taken; its output as it
  // came. A program not found fails as one that cannot be started does.
  asio::awaitable<AsyncCollectedOutput> run(std::string program, std::vector<std::string> arguments,
                                            double timeoutSeconds);

 private:

  AsyncMutex queue_;
  std::optional<platform::Environment> environment_;
};

// "<whole seconds>" of a time-out, as the time-out errors name it.
std::string wholeSecondsText(double seconds);

}  // namespace qd
