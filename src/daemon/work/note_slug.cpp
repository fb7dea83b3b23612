#include "daemon/work/note_slug.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "daemon/utilities/unicode_text.h"

namespace qd {
namespace {

constexpr std::size_t kMaxSlugCharacters = 60;

bool isKeptScalar(UChar32 c) {
  if (c < 0) return false;  // an ill-formed byte
  if (c == '-') return true;
  return u_hasBinaryProperty(c, UCHAR_ALPHABETIC) || u_getIntPropertyValue(c, UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

// Letters and digits stay, every other character becomes one "-". ASCII text needs no
// break rules: each byte is a character of its own (CR LF is one, but both become "-"
// and the run collapses anyway).
std::string replaceOtherCharacters(const std::string& lower) {
  const bool ascii = std::all_of(lower.begin(), lower.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  std::string out;
  out.reserve(lower.size());
  if (ascii) {
    for (char c : lower) {
      const bool keep = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
      out += keep ? c : '-';
    }
    return out;
  }
  UErrorCode status = U_ZERO_ERROR;
  UText* text = utext_openUTF8(nullptr, lower.data(), static_cast<std::int64_t>(lower.size()), &status);
  std::unique_ptr<icu::BreakIterator> breaker(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  if (U_SUCCESS(status)) breaker->setText(text, status);
  if (U_FAILURE(status)) {
    if (text) utext_close(text);
    return std::string(lower.size(), '-');
  }
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(lower.data());
  const auto length = static_cast<std::int32_t>(lower.size());
  std::int32_t start = 0;
  for (std::int32_t end = breaker->next(); end != icu::BreakIterator::DONE; end = breaker->next()) {
    std::int32_t i = start;
    UChar32 first;
    U8_NEXT(bytes, i, length, first);
    if (isKeptScalar(first)) {
      out.append(lower, static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
    } else {
      out += '-';
    }
    start = end;
  }
  utext_close(text);
  return out;
}

std::string collapseHyphens(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '-' && !out.empty() && out.back() == '-') continue;
    out += c;
  }
  return out;
}

std::string trimHyphens(std::string_view text) {
  const auto first = text.find_first_not_of('-');
  if (first == std::string_view::npos) return "";
  const auto last = text.find_last_not_of('-');
  return std::string(text.substr(first, last - first + 1));
}

std::string cutAndTrim(std::string text) {
  if (unicode::graphemeCount(text) <= kMaxSlugCharacters) return text;
  return trimHyphens(unicode::truncatedToGraphemes(text, kMaxSlugCharacters));
}

}  // namespace

std::string noteSlug(std::string_view text) {
  return cutAndTrim(trimHyphens(collapseHyphens(replaceOtherCharacters(unicode::lowercased(text)))));
}

std::string generateTaskId(std::string_view title, const Clock& clock) {
  const auto day = std::chrono::floor<std::chrono::days>(clock.wallNow());
  const std::chrono::year_month_day date{day};
  char digits[32];
  std::snprintf(digits, sizeof digits, "%04d%02u%02u", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
  return cutAndTrim("TASK-" + std::string(digits) + "-" + noteSlug(title));
}

}  // namespace qd
