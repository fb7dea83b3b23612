#include "daemon/logging/tool_call_logger.h"

#include <string>

#include "daemon/logging/log_file.h"

namespace qd {

ToolCallLogger::ToolCallLogger(std::filesystem::path fileURL) : fileURL_(std::move(fileURL)) {}

void ToolCallLogger::append(std::string_view line) noexcept {
  try {
    std::string bytes(line);
    if (bytes.empty() || bytes.back() != '\n') bytes.push_back('\n');
    // A failed append is dropped: logging a tool call must never disturb the call itself.
    (void)appendToLogFile(fileURL_, bytes);
  } catch (...) {
    // The line is lost (no memory for its copy).
  }
}

}  // namespace qd
