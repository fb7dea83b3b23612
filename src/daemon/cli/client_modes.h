#pragma once

#include <string>
#include <vector>

namespace qd {

// The modes that talk to a running daemon over its socket. `args` is the whole command
// line, program path first. Each returns the process's exit status; a failure that the
// entry point reports ("Error: " and its description) is thrown.
int runClientMode(const std::vector<std::string>& args);
int runNotifyMode(const std::vector<std::string>& args);
int runSyncHookMode();
int runRestartTinderboxMode();
int runStartTinderboxMode();
int runStopTinderboxMode();

}  // namespace qd
