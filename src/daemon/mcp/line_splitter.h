#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qd {

// The newline framing of every transport: bytes in, complete lines out, each without its
// line feed and in order. Empty lines are skipped; nothing else is removed (a carriage
// return before the line feed stays). No length limit. A last line without a line feed is
// kept until more bytes come, and dropped with the splitter at the end of input.
class LineSplitter {
 public:
  std::vector<std::string> append(std::string_view bytes);
  std::size_t pendingBytes() const { return buffer_.size(); }

 private:
  std::string buffer_;
};

}  // namespace qd
