#include "daemon/runtime/text_trim.h"

namespace qd {
namespace {

// The length of the white space character at `text`'s start, or 0.
std::size_t leadingSpace(std::string_view t) {
  if (t.empty()) return 0;
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(t[i]); };
  const unsigned char c = b(0);
  if (c == ' ' || (c >= 0x09 && c <= 0x0D)) return 1;
  if (t.size() >= 2 && c == 0xC2 && (b(1) == 0x85 || b(1) == 0xA0)) return 2;
  if (t.size() >= 3) {
    const unsigned c1 = b(1), c2 = b(2);
    if (c == 0xE1 && c1 == 0x9A && c2 == 0x80) return 3;                  // U+1680
    if (c == 0xE2 && c1 == 0x80 && (c2 <= 0x8A || c2 == 0xA8 || c2 == 0xA9 || c2 == 0xAF)) return 3;
    if (c == 0xE2 && c1 == 0x81 && c2 == 0x9F) return 3;                  // U+205F
    if (c == 0xE3 && c1 == 0x80 && c2 == 0x80) return 3;                  // U+3000
  }
  return 0;
}

// The length of the white space character that ends `text`, or 0.
std::size_t trailingSpace(std::string_view t) {
  for (std::size_t len = 1; len <= 3 && len <= t.size(); ++len) {
    if (leadingSpace(t.substr(t.size() - len)) == len) return len;
  }
  return 0;
}

}  // namespace

std::string trimWhitespaceAndNewlines(std::string_view text) {
  while (std::size_t n = leadingSpace(text)) text.remove_prefix(n);
  while (std::size_t n = trailingSpace(text)) text.remove_suffix(n);
  return std::string(text);
}

}  // namespace qd
