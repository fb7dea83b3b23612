#pragma once

#include <filesystem>
#include <string_view>

namespace qd {

// Appends one line per logged tool call to tool-calls.log, a private log file (log_file.h:
// 0600, narrowed when wider). The file is only ever appended to, a whole line or nothing:
// never truncated below what it held, rotated or read. Every failure (folder not creatable,
// file not writable, disk full, a folder in the file's place) loses that one line silently,
// and the next append tries again from scratch. Called on the daemon's thread only; each
// append opens and closes the file, so nothing stays open between calls.
class ToolCallLogger {
 public:
  // The daemon passes Configuration::shared().appSupportDir() / "tool-calls.log".
  // Nothing is created or opened here.
  explicit ToolCallLogger(std::filesystem::path fileURL);

  const std::filesystem::path& fileURL() const { return fileURL_; }

  // Adds "\n" unless the text already ends with one, creates the folder (0700) when it is
  // missing, and appends the line whole or not at all.
  void append(std::string_view line) noexcept;

 private:
  std::filesystem::path fileURL_;
};

}  // namespace qd
