#pragma once

// The texts the health monitor shows: the one-line reduction of any message for an alert,
// the tail of a log file, the explanation of a start that did not hold, and the message of
// a failed service-manager command.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qd {

// Reduces a message to the one line a user is shown: the last line that begins with
// "Error: ", a fixed text for output that is mostly JSON log lines, else the last plain line.
std::string sanitizedUserMessage(const std::string& message);

// The last `lines` non-empty lines of a UTF-8 text file joined with "\n"; none when the
// file cannot be read or is not UTF-8. Lines end at LF, VT, FF, CR, CRLF, NEL, LS and PS.
std::optional<std::string> readLogTail(const std::filesystem::path& file, std::size_t lines);

// Why the daemon did not come up: the unit's executable (none: not in the unit) when it is
// missing, else the last 12 lines of the daemon's error log.
std::string daemonStartupFailureSummary(const std::optional<std::string>& installedExecutable,
                                        const std::filesystem::path& daemonErrorLog);

// "<program> exited with status N.\n\nCommand: <command line>" with the trimmed standard
// error and output after "\n\nDetails:\n" when there are any.
std::string serviceRunFailureMessage(const std::string& program, int status, const std::vector<std::string>& arguments,
                                     const std::string& standardError, const std::string& standardOutput);

}  // namespace qd
