#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qd {

// A line longer than a splitter's limit, dropped as it comes. It is reported twice: when it
// goes over the limit (`ended` false: the head is known, the tail not yet) and when its
// line feed has come (`ended` true). Only its first and last bytes are kept, so its owner
// can still tell which request it was (a JSON-RPC "id" stands at one end or the other).
struct OversizedLine {
  static constexpr std::size_t keptHeadBytes = 4096;
  static constexpr std::size_t keptTailBytes = 256;

  std::string head;              // its first bytes, at most keptHeadBytes
  std::string tail;              // its last bytes, at most keptTailBytes, once it has ended
  std::size_t bytes = 0;         // its length so far, without the line feed
  std::size_t maxLineBytes = 0;  // the limit it went over
  bool ended = false;            // whether its line feed has come
};

// The newline framing of every transport: bytes in, complete lines out, each without its
// line feed and in order. Empty lines are skipped; nothing else is removed (a carriage
// return before the line feed stays). A last line without a line feed is kept until more
// bytes come, and dropped with the splitter at the end of input. Once a long line has been
// handed out, the memory it took is given back.
//
// With a limit, a line longer than `maxLineBytes` is not kept: from the byte that makes it
// too long up to its line feed everything is dropped as it comes, so the splitter never
// holds more than the limit. The line is reported when it goes over and again when it ends
// (takeOversized()). Without a limit lines may have any length.
class LineSplitter {
 public:
  static constexpr std::size_t unlimited = std::numeric_limits<std::size_t>::max();
  // The most memory the splitter keeps between lines: a line's buffer leaves with it.
  static constexpr std::size_t kRetainedCapacity = 1 << 20;

  explicit LineSplitter(std::size_t maxLineBytes = unlimited) : maxLineBytes_(maxLineBytes) {}

  std::vector<std::string> append(std::string_view bytes);
  // What became of lines over the limit since the last call, in order.
  std::vector<OversizedLine> takeOversized() { return std::exchange(oversized_, {}); }

  std::size_t pendingBytes() const { return buffer_.size(); }
  std::size_t retainedBytes() const { return buffer_.capacity(); }

 private:
  // Adds bytes of the current line (no line feed among them).
  void extendLine(std::string_view piece);
  // The current line has ended: hands it out, or reports it when it was over the limit.
  void endLine(std::vector<std::string>& lines);

  std::size_t maxLineBytes_;
  std::string buffer_;
  bool dropping_ = false;  // the current line is over the limit
  OversizedLine dropped_;  // what is known of it
  std::vector<OversizedLine> oversized_;
};

}  // namespace qd
