#pragma once

// The one-shot modes' work, apart from the process: each makes one connection to the
// daemon, sends one tool call and returns the exit status. Failures to connect or of the
// call are thrown for the entry point to report. The entry points in client_modes.h run
// these with the process's configuration, standard input and standard output.

#include <string>
#include <vector>

#include <asio/awaitable.hpp>

#include "daemon/cli/tinderbox_client.h"

namespace qd {

enum class TinderboxControl { restart, start, stop };

// --notify: the usage line without --agents, "Error: Invalid JSON data" for a --data that
// is missing or no JSON object (both on `outputFd`, status 1, no connection); else one
// "notify" call with the agents text unchanged and the object, status 0.
asio::awaitable<int> notifyOnce(TinderboxClientOptions daemon, std::vector<std::string> args, int outputFd);

// --sync-hook with the whole of standard input: blank or not UTF-8 logs a warning and
// returns 0 without connecting; otherwise the trimmed text goes unparsed to
// "sync_claude_hook" as "payloadJSON", whatever the result says.
asio::awaitable<int> syncHookOnce(TinderboxClientOptions daemon, std::string input);

// --restart-tinderbox, --start-tinderbox, --stop-tinderbox: one call of the daemon's
// Tinderbox control tool; an error result (a refused restart) is thrown as an Error with
// the result's text, like a failed call.
asio::awaitable<int> tinderboxControlOnce(TinderboxClientOptions daemon, TinderboxControl control);

}  // namespace qd
