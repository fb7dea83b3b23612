#include "daemon/mcp/line_splitter.h"

namespace qd {
namespace {

// Keeps the last keptTailBytes of what `tail` held followed by `piece`.
void keepTail(std::string& tail, std::string_view piece) {
  constexpr std::size_t keep = OversizedLine::keptTailBytes;
  if (piece.size() >= keep) {
    tail.assign(piece.substr(piece.size() - keep));
    return;
  }
  tail.append(piece);
  if (tail.size() > keep) tail.erase(0, tail.size() - keep);
}

}  // namespace

std::vector<std::string> LineSplitter::append(std::string_view bytes) {
  std::vector<std::string> lines;
  for (;;) {
    const std::size_t nl = bytes.find('\n');
    if (nl == std::string_view::npos) {
      extendLine(bytes);
      return lines;
    }
    extendLine(bytes.substr(0, nl));
    endLine(lines);
    bytes.remove_prefix(nl + 1);
  }
}

void LineSplitter::extendLine(std::string_view piece) {
  if (piece.empty()) return;
  if (dropping_) {
    dropped_.bytes += piece.size();
    keepTail(dropped_.tail, piece);
    return;
  }
  if (piece.size() <= maxLineBytes_ - buffer_.size()) {
    buffer_.append(piece);
    return;
  }
  // The line has just become too long: keep its ends and give the rest of it back. Checked
  // before the bytes are added, so the buffer never grows past the limit.
  dropping_ = true;
  dropped_ = OversizedLine{};
  dropped_.bytes = buffer_.size() + piece.size();
  dropped_.maxLineBytes = maxLineBytes_;
  dropped_.head = buffer_.substr(0, OversizedLine::keptHeadBytes);
  dropped_.head.append(piece.substr(0, OversizedLine::keptHeadBytes - dropped_.head.size()));
  oversized_.push_back(dropped_);
  keepTail(dropped_.tail, buffer_);
  keepTail(dropped_.tail, piece);
  std::string().swap(buffer_);
}

void LineSplitter::endLine(std::vector<std::string>& lines) {
  if (dropping_) {
    dropping_ = false;
    dropped_.ended = true;
    oversized_.push_back(std::exchange(dropped_, OversizedLine{}));
    return;
  }
  if (buffer_.empty()) return;  // an empty line
  // The line takes the buffer with it, so a long line's memory goes when it does.
  lines.push_back(std::exchange(buffer_, std::string()));
}

}  // namespace qd
