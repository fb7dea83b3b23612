#include "daemon/logging/tool_call_logger.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "daemon/utilities/atomic_file.h"

namespace qd {
namespace {

// One write(2) per attempt on an O_APPEND descriptor, so each line lands whole after
// whatever is in the file, even if the file was replaced or grown since the last append.
bool appendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

ToolCallLogger::ToolCallLogger(std::filesystem::path fileURL) : fileURL_(std::move(fileURL)) {}

void ToolCallLogger::append(std::string_view line) noexcept {
  try {
    std::string bytes(line);
    if (bytes.empty() || bytes.back() != '\n') bytes.push_back('\n');

    std::error_code ec;
    if (fileURL_.has_parent_path()) {
      std::filesystem::create_directories(fileURL_.parent_path(), ec);
      if (ec) return;
    }

    const int fd = ::open(fileURL_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd >= 0) {
      appendAll(fd, bytes);
      ::close(fd);
      return;
    }
    if (errno != ENOENT) return;
    writeFileAtomically(fileURL_, bytes);
  } catch (...) {
    // The line is lost; logging a tool call must never disturb the call itself.
  }
}

}  // namespace qd
