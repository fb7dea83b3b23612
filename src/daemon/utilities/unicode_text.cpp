#include "daemon/utilities/unicode_text.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <cstdint>

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

}  // namespace qd::unicode
