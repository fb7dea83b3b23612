#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qd {

// The newline framing of every transport: bytes in, complete lines out, each without its
// line feed and in order. Empty lines are skipped; nothing else is removed (a carriage
// return before the line feed stays). No length limit. A last line without a line feed is
// kept until more bytes come, and dropped with the splitter at the end of input. Once a
// long line has been handed out, the memory it took is given back.
class LineSplitter {
 public:
  // Memory the splitter keeps between lines; a longer line's buffer is released after it.
  static constexpr std::size_t kRetainedCapacity = 1 << 20;

  std::vector<std::string> append(std::string_view bytes);
  std::size_t pendingBytes() const { return buffer_.size(); }
  std::size_t retainedBytes() const { return buffer_.capacity(); }

 private:
  std::string buffer_;
};

}  // namespace qd
