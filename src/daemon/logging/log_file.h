#pragma once

// The files the system logs to (tool-calls.log, auth.log, the daemon's error log and
// output): private to the user, and only ever appended to a whole record at a time. They
// hold message texts, note contents and agent names, so nobody else may read them.

#include <sys/types.h>

#include <filesystem>
#include <string_view>

namespace qd {

inline constexpr mode_t kLogFileMode = 0600;
inline constexpr mode_t kLogFolderMode = 0700;

// Creates `folder` with every missing parent, each new one with mode 0700 whatever the
// umask. Folders that exist are left as they are. False, with errno set, when one cannot be
// created or a file stands in a folder's place.
bool createLogFolder(const std::filesystem::path& folder);

// Opens a log file for appending, close-on-exec, never through a symbolic link at `path`.
// A missing file is created with mode 0600 (its folder must exist); an existing one that
// its group or others may use is narrowed to 0600. -1, with errno set, on failure.
int openLogFile(const std::filesystem::path& path);

// Narrows an open log file to 0600 when its group or others have any permission. A file
// of someone else's (fchmod refused) is left alone.
void narrowLogFileMode(int fd);

// Writes the record at the end of an open log file whole or not at all: when the file takes
// only part of it (a full disk, the file size limit), the file is cut back to its length
// before the record, so the next record never lands after a fragment. On a descriptor that
// is not a regular file (a pipe, a terminal) a fragment cannot be taken back. False, with
// errno set, when the record was not written whole.
bool appendLogRecord(int fd, std::string_view record);

// One record on the process's standard error (the daemon's error log), as appendLogRecord
// writes it. Records of concurrent callers take turns, so the part of a record that is cut
// back after a short write is always the caller's own. False, with errno set, when the
// record was not written whole.
bool appendToStandardError(std::string_view record);

// openLogFile after createLogFolder has made the file's folder.
int openLogFileCreatingFolder(const std::filesystem::path& path);

// The whole append of one record to the log file at `path`: the file opened as
// openLogFileCreatingFolder does, the record appended whole or not at all, the file closed.
bool appendToLogFile(const std::filesystem::path& path, std::string_view record);

}  // namespace qd
