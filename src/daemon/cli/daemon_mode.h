#pragma once

#include <cstdint>
#include <filesystem>

namespace qd {

// --daemon: rotates the error log, makes sure the companion app runs, starts the daemon on
// this thread's io_context, waits for SIGTERM, SIGINT or SIGHUP (a later one changes
// nothing; SIGHUP stays ignored when it was ignored at start, as under nohup), shuts the
// daemon down and returns 0. A failed start is thrown.
int runDaemonMode();

// Moves a log larger than `thresholdBytes` to "<log>.1" (an older copy removed first) and
// reopens `reopenFd` (standard error) in append mode on a fresh private file (0600) at the
// log's path.
// Every failure is silent. True when the log was rotated.
bool rotateErrorLog(const std::filesystem::path& logPath, std::int64_t thresholdBytes, int reopenFd);

}  // namespace qd
