#include "daemon/utilities/unicode_text.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <optional>

namespace qd::unicode {

bool isValidUtf8(std::string_view bytes) {
  const auto* s = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const auto length = static_cast<std::int32_t>(bytes.size());
  std::int32_t i = 0;
  while (i < length) {
    UChar32 c;
    U8_NEXT(s, i, length, c);
    if (c < 0) return false;
  }
  return true;
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
  if (a == b) return true;
  if (!isValidUtf8(a) || !isValidUtf8(b)) return false;
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
  if (U_FAILURE(status)) return false;
  icu::UnicodeString left = nfc->normalize(icu::UnicodeString::fromUTF8(a), status);
  icu::UnicodeString right = nfc->normalize(icu::UnicodeString::fromUTF8(b), status);
  return U_SUCCESS(status) && left == right;
}

std::string normalizedNFC(std::string_view text) {
  if (!isValidUtf8(text)) return std::string(text);
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
  if (U_FAILURE(status)) return std::string(text);
  icu::UnicodeString normalized = nfc->normalize(icu::UnicodeString::fromUTF8(text), status);
  if (U_FAILURE(status)) return std::string(text);
  std::string out;
  normalized.toUTF8String(out);
  return out;
}

std::size_t whiteSpaceLengthAt(std::string_view text, std::size_t pos) {
  if (pos >= text.size()) return 0;
  const auto first = static_cast<unsigned char>(text[pos]);
  if (first < 0x80) return first == ' ' || (first >= 0x09 && first <= 0x0D) ? 1 : 0;  // ASCII, cheaply
  if (text.size() > INT32_MAX) return 0;  // beyond what ICU's indices reach
  const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
  const auto length = static_cast<std::int32_t>(text.size());
  std::int32_t i = static_cast<std::int32_t>(pos);
  UChar32 c;
  U8_NEXT(s, i, length, c);
  if (c < 0 || !u_hasBinaryProperty(c, UCHAR_WHITE_SPACE)) return 0;
  return static_cast<std::size_t>(i) - pos;
}

std::size_t whiteSpaceLengthBefore(std::string_view text, std::size_t end) {
  if (end == 0 || end > text.size() || end > INT32_MAX) return 0;
  const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
  std::int32_t i = static_cast<std::int32_t>(end);
  UChar32 c;
  U8_PREV(s, 0, i, c);
  if (c < 0 || !u_hasBinaryProperty(c, UCHAR_WHITE_SPACE)) return 0;
  return end - static_cast<std::size_t>(i);
}

}  // namespace qd::unicode

namespace qd::unicode {
namespace {

// Walks the grapheme boundaries of UTF-8 text in place, with byte offsets into the
// original bytes (ICU's UTF-8 text reader maps ill-formed bytes to U+FFFD without moving
// the offsets), so no copy or conversion can shift where a cut lands.
class GraphemeWalker {
 public:
  explicit GraphemeWalker(std::string_view text) {
    text_ = utext_openUTF8(nullptr, text.data(), static_cast<std::int64_t>(text.size()), &status_);
    if (U_FAILURE(status_)) return;
    breaker_.reset(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status_));
    if (U_FAILURE(status_)) return;
    breaker_->setText(text_, status_);
  }
  ~GraphemeWalker() {
    if (text_) utext_close(text_);
  }
  GraphemeWalker(const GraphemeWalker&) = delete;
  GraphemeWalker& operator=(const GraphemeWalker&) = delete;

  bool ok() const { return U_SUCCESS(status_) && breaker_; }

  // The last cluster boundary at or before the byte offset.
  std::optional<std::size_t> boundaryAtOrBefore(std::size_t offset) {
    if (breaker_->isBoundary(static_cast<std::int32_t>(offset))) return offset;
    const std::int32_t boundary = breaker_->preceding(static_cast<std::int32_t>(offset));
    if (boundary == icu::BreakIterator::DONE) return std::nullopt;
    return static_cast<std::size_t>(boundary);
  }

  // The byte offset after the next cluster, or nullopt at the end.
  std::optional<std::size_t> next() {
    const std::int32_t boundary = breaker_->next();
    if (boundary == icu::BreakIterator::DONE) return std::nullopt;
    return static_cast<std::size_t>(boundary);
  }

 private:
  UErrorCode status_ = U_ZERO_ERROR;
  UText* text_ = nullptr;
  std::unique_ptr<icu::BreakIterator> breaker_;
};

}  // namespace

std::size_t graphemeCount(std::string_view text) {
  if (text.empty()) return 0;
  GraphemeWalker walker(text);
  if (!walker.ok()) return text.size();
  std::size_t count = 0;
  while (walker.next()) ++count;
  return count;
}

std::string truncatedToGraphemes(std::string_view text, std::size_t maxCharacters) {
  // Every character takes at least one byte, so short text needs no walk.
  if (text.size() <= maxCharacters) return std::string(text);
  GraphemeWalker walker(text);
  if (!walker.ok()) {
    // Without break rules, at least never cut inside a UTF-8 sequence.
    std::size_t end = maxCharacters;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return std::string(text.substr(0, end));
  }
  std::size_t end = 0;
  for (std::size_t taken = 0; taken < maxCharacters; ++taken) {
    auto boundary = walker.next();
    if (!boundary) return std::string(text);
    end = *boundary;
  }
  return std::string(text.substr(0, end));
}

std::string truncatedToBytes(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  // Never inside a UTF-8 sequence, whatever the break rules say.
  std::size_t end = maxBytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  GraphemeWalker walker(text);
  if (walker.ok()) {
    if (const auto boundary = walker.boundaryAtOrBefore(end)) end = *boundary;
  }
  return std::string(text.substr(0, end));
}

std::string replacingInvalidUtf8(std::string_view bytes) {
  if (isValidUtf8(bytes)) return std::string(bytes);
  const auto* s = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const auto length = static_cast<std::int64_t>(bytes.size());
  std::string out;
  out.reserve(bytes.size() + 16);
  std::int64_t i = 0;
  while (i < length) {
    const std::int64_t start = i;
    // ICU's macros take 32-bit offsets: walk in windows so any length works.
    const std::int32_t window = static_cast<std::int32_t>(std::min<std::int64_t>(length - start, 1 << 30));
    std::int32_t j = 0;
    UChar32 c;
    U8_NEXT(s + start, j, window, c);
    if (c < 0) {
      out += "\xEF\xBF\xBD";
    } else {
      out.append(bytes.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(j)));
    }
    i = start + j;
  }
  return out;
}

}  // namespace qd::unicode

namespace qd::unicode {
namespace {

std::string asciiLowercased(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace

std::string lowercased(std::string_view text) {
  const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  // ICU strings hold at most INT32_MAX units; nothing real comes near that.
  if (ascii || text.size() > 0x3fffffff || !isValidUtf8(text)) return asciiLowercased(text);
  icu::UnicodeString unicodeText =
      icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  unicodeText.toLower(icu::Locale::getRoot());
  std::string out;
  unicodeText.toUTF8String(out);
  return out;
}

}  // namespace qd::unicode
