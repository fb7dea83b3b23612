#pragma once

// The one way the system replaces a file: readers see either the old file or the whole new
// one, never a torn write, and a crash leaves at most a stray temporary file beside it.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "daemon/utilities/error.h"

namespace qd {

class FileWriteError : public Error {
 public:
  // changed: the caller's stillCurrent check found the file changed since it was read.
  enum class Kind { createFolder, createTemporary, write, rename, keepCopy, changed };
  FileWriteError(Kind kind, std::string description, int code)
      : Error(std::move(description)), kind_(kind), code_(code) {}
  Kind kind() const { return kind_; }
  int code() const { return code_; }  // the errno value

 private:
  Kind kind_;
  int code_;
};

class FileReadError : public Error {
 public:
  enum class Kind { open, read };
  FileReadError(Kind kind, std::string description, int code)
      : Error(std::move(description)), kind_(kind), code_(code) {}
  Kind kind() const { return kind_; }
  int code() const { return code_; }  // the errno value

 private:
  Kind kind_;
  int code_;
};

// The whole content of a stored file, or nullopt when there is no file at `path` (so a
// store can tell "never written" from "cannot be read"). Throws FileReadError otherwise,
// e.g. for a folder in the file's place or a file without read permission.
std::optional<std::string> readFileIfPresent(const std::filesystem::path& path);

struct AtomicWriteOptions {
  // Exact permission bits for the file. They are set on the temporary file before its first
  // byte is written, so a secrets file is never readable by others, not even for a moment.
  // Without a mode a new file gets 0666 less the process umask, like any other new file.
  std::optional<mode_t> mode;
  // Create the file's folder, with every missing parent, first (default permissions).
  bool createFolder = false;
  // Asked once the new content is complete on disk, just before the rename, whether the file
  // at `path` is still the one the caller read (for files that other programs write too).
  // When it answers false nothing is replaced and FileWriteError (kind changed) is thrown,
  // so the caller can read the file again and redo its change. This narrows the window in
  // which another writer's change is lost to the rename itself; it does not lock the file.
  std::function<bool()> stillCurrent;

  AtomicWriteOptions& withMode(mode_t bits) {
    mode = bits;
    return *this;
  }
  AtomicWriteOptions& creatingFolder() {
    createFolder = true;
    return *this;
  }
};

// Writes `contents` to a new temporary file in the same folder (created exclusively and
// close-on-exec), flushes it to disk, renames it over `path` and flushes the folder.
// Throws FileWriteError; on failure the temporary file is removed and `path` is unchanged.
void writeFileAtomically(const std::filesystem::path& path, std::string_view contents,
                         const AtomicWriteOptions& options = {});

// Keeps the file at `path` beside it under a time-stamped name
// ("agent-secrets.json.unreadable-20260305T140709Z", with "-2", "-3", ... when that name is
// taken), so that a store that could not read the file does not destroy it with its next
// save. The file stays where it was as well (the copy is a hard link where the file system
// allows one). Returns the kept copy's path, or nullopt when nothing is at `path`.
// Throws FileWriteError (kind keepCopy) when no copy could be made.
std::optional<std::filesystem::path> keepUnreadableFile(const std::filesystem::path& path,
                                                        std::chrono::system_clock::time_point now);

}  // namespace qd
