#include "daemon/mcp/line_splitter.h"

namespace qd {

std::vector<std::string> LineSplitter::append(std::string_view bytes) {
  std::vector<std::string> lines;
  // Only the new bytes can hold a line feed: the buffer held none before.
  std::size_t searchFrom = buffer_.size();
  buffer_.append(bytes);
  std::size_t start = 0;
  for (std::size_t nl; (nl = buffer_.find('\n', searchFrom)) != std::string::npos; searchFrom = start) {
    if (nl > start) lines.emplace_back(buffer_, start, nl - start);
    start = nl + 1;
  }
  buffer_.erase(0, start);
  if (buffer_.capacity() > kRetainedCapacity && buffer_.size() <= kRetainedCapacity / 2) {
    std::string(buffer_).swap(buffer_);  // a copy holds only what is left
  }
  return lines;
}

}  // namespace qd
