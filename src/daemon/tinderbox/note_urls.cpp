#include "daemon/tinderbox/note_urls.h"

#include <cctype>
#include <cstdint>

#include "daemon/runtime/text_trim.h"
#include "daemon/utilities/unicode_text.h"

namespace qd {

namespace {

bool isUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

std::string percentEncoded(std::string_view text, std::string_view alsoKept) {
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (isUnreserved(c) || alsoKept.find(ch) != std::string_view::npos) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(digits[c >> 4]);
      out.push_back(digits[c & 0x0F]);
    }
  }
  return out;
}

bool isRefusedCodePoint(std::uint32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || (c >= 0xFDD0 && c <= 0xFDEF) ||
         (c & 0xFFFE) == 0xFFFE;
}

// Whether the UTF-8 text holds a refused code point (ill-formed text counts as one).
bool holdsRefusedCharacter(std::string_view text) {
  if (!unicode::isValidUtf8(text)) return true;
  for (std::size_t i = 0; i < text.size();) {
    const auto c0 = static_cast<unsigned char>(text[i]);
    std::uint32_t c = c0;
    std::size_t length = 1;
    if (c0 >= 0xF0) {
      length = 4;
      c = c0 & 0x07u;
    } else if (c0 >= 0xE0) {
      length = 3;
      c = c0 & 0x0Fu;
    } else if (c0 >= 0xC0) {
      length = 2;
      c = c0 & 0x1Fu;
    }
    for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
    if (isRefusedCodePoint(c)) return true;
    i += length;
  }
  return false;
}

}  // namespace

std::string normalizeTinderboxPath(std::string_view path, bool preserveRoot) {
  const std::string trimmed = trimWhitespaceAndNewlines(path);
  if (trimmed.empty()) return "";
  const std::size_t first = trimmed.find_first_not_of('/');
  if (first == std::string::npos) return preserveRoot ? "/" : "";
  return (preserveRoot ? "/" : "") + trimmed.substr(first);
}

std::string percentEncodedPath(std::string_view text) { return percentEncoded(text, "!$&'()*+,;=:@/"); }

std::string percentEncodedQueryValue(std::string_view text) { return percentEncoded(text, "!$'()*,;:@/?"); }

std::string noteURL(std::string_view document, std::string_view pathPart, const std::optional<std::string>& view,
                    const std::optional<std::string>& select) {
  std::string url = "tinderbox://" + percentEncodedPath(document) + "/" + percentEncodedPath(pathPart);
  std::string query;
  if (view && !view->empty()) query = "view=" + percentEncodedQueryValue(*view);
  if (select && !select->empty()) query += (query.empty() ? "" : "&") + ("select=" + percentEncodedQueryValue(*select));
  if (!query.empty()) url += "?" + query;
  return url;
}

// Whether the text is URI text (RFC 3986): unreserved and reserved characters only, each
// "%" followed by two hexadecimal digits, at most one "#".
bool isURIText(std::string_view text) {
  std::size_t fragments = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '%') {
      if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
          !std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
        return false;
      }
      i += 2;
      continue;
    }
    if (c == '#') ++fragments;
    if (!isUnreserved(c) && std::string_view(":/?#[]@!$&'()*+,;=").find(static_cast<char>(c)) == std::string_view::npos) {
      return false;
    }
  }
  return fragments <= 1;
}

bool isOpenableTinderboxURL(std::string_view url) {
  if (!unicode::lowercased(url).starts_with("tinderbox://")) return false;
  if (holdsRefusedCharacter(url)) return false;
  return isURIText(url);
}

}  // namespace qd
