#include "daemon/logging/tool_call_logger.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "daemon/utilities/atomic_file.h"
#include "daemon/utilities/descriptor_io.h"

namespace qd {
namespace {

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
      // O_APPEND: each line lands whole after whatever the file holds now.
      writeAllToDescriptor(fd, bytes);
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
