#include "daemon/runtime/text_trim.h"

#include "daemon/utilities/unicode_text.h"

namespace qd {

std::string trimWhitespaceAndNewlines(std::string_view text) {
  while (std::size_t n = unicode::whiteSpaceLengthAt(text, 0)) text.remove_prefix(n);
  while (std::size_t n = unicode::whiteSpaceLengthBefore(text, text.size())) text.remove_suffix(n);
  return std::string(text);
}

}  // namespace qd
