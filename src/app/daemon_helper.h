#pragma once

// One run of the daemon executable in a note-app control mode ("--start-tinderbox",
// "--stop-tinderbox", "--restart-tinderbox") and the one line a failed run shows. A run
// blocks its thread (never the GUI thread): both pipes are read while it runs, and it is
// stopped after the limit, well past the one-shot modes' own time-outs.

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/environment.h"

namespace qd {

inline constexpr std::chrono::seconds daemonHelperRunLimit{120};

struct DaemonHelperRun {
  int status = 1;
  // The trimmed standard error and standard output, the non-empty ones in that order,
  // joined with "\n"; the start error's text when the program could not start.
  std::string combinedOutput;
  bool timedOut = false;
};

DaemonHelperRun runDaemonHelperOnce(const std::filesystem::path& daemon, const std::string& argument,
                                    const platform::Environment& env,
                                    std::chrono::milliseconds limit = daemonHelperRunLimit);

// Whether a failed run's output says the daemon closed the connection (worth one retry).
bool isClosedConnectionOutput(const std::string& output);

// The last line beginning with "Error: ", else the last line not beginning with "{", else
// "Could not complete request (status N). Use Email Diagnostics from the menu to send logs.".
std::string sanitizedHelperErrorMessage(const std::string& output, int status);

// The message of a run stopped at the limit.
std::string helperTimedOutMessage(std::chrono::milliseconds limit);

}  // namespace qd
