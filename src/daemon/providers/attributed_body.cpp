#include "daemon/providers/attributed_body.h"

#include <memory>

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include "daemon/runtime/text_trim.h"
#include "daemon/utilities/hex_text.h"
#include "daemon/utilities/unicode_text.h"

namespace qd::MessagesDatabase {
namespace {

constexpr const char* kNotReadable = "[Message content not readable]";
// Match-engine steps one pattern may take on one body. Real bodies match in far less; a
// body built to make a lazy pattern backtrack stops here (a crafted megabyte decodes in
// about 45 ms in all, see bench/messages_reader_bench).
constexpr std::int32_t kPatternTimeLimit = 50;
constexpr std::int32_t kMinimumCharacters = 6;

// The first capture of each, in order; a capture of at least six characters wins.
const char16_t* const kCapturePatterns[] = {
    uR"re(NSString">([^<]+)<)re",
    uR"re(NSString">([^<]+))re",
    uR"re(NSNumber">\d+<.*?NSString">([^<]+)<)re",
    uR"re(NSArray">.*?NSString">([^<]+)<)re",
    uR"re("string":\s*"([^"]+)")re",
    uR"re(text[^>]*>([^<]+)<)re",
    uR"re(message>([^<]+)<)re",
};

// The clean-up of the whole text when no capture wins: pattern and replacement, in order.
const std::pair<const char16_t*, const char16_t*> kCleanups[] = {
    {uR"re(streamtyped.*?NSString)re", u""},
    {uR"re(NSAttributedString.*?NSString)re", u""},
    {uR"re(NSDictionary.*?$)re", u""},
    {uR"re(\+[A-Za-z]+\s)re", u""},
    {uR"re([^\x20-\x7E])re", u" "},
    {uR"re(\s+)re", u" "},
};

std::unique_ptr<icu::RegexMatcher> matcher(const char16_t* pattern, const icu::UnicodeString& text) {
  UErrorCode status = U_ZERO_ERROR;
  auto result = std::make_unique<icu::RegexMatcher>(icu::UnicodeString(pattern), text, 0, status);
  if (U_FAILURE(status)) return nullptr;  // a pattern that does not compile is skipped
  result->setTimeLimit(kPatternTimeLimit, status);
  if (U_FAILURE(status)) return nullptr;
  return result;
}

std::string utf8(const icu::UnicodeString& text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

// The archive's bytes as text: UTF-8 when they are, else one character per byte (Latin-1),
// which reads every byte.
icu::UnicodeString archiveText(const std::vector<std::uint8_t>& bytes) {
  const std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (unicode::isValidUtf8(view)) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(view.data(), static_cast<std::int32_t>(view.size())));
  }
  icu::UnicodeString text;
  for (const std::uint8_t byte : bytes) text.append(static_cast<char16_t>(byte));
  return text;
}

std::optional<icu::UnicodeString> firstCapture(const char16_t* pattern, const icu::UnicodeString& text) {
  auto m = matcher(pattern, text);
  if (!m) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  // A time-out leaves a failure status: no match.
  if (!m->find(status) || U_FAILURE(status)) return std::nullopt;
  if (m->groupCount() < 1 || m->start(1, status) < 0 || U_FAILURE(status)) return std::nullopt;
  icu::UnicodeString capture = m->group(1, status);
  if (U_FAILURE(status)) return std::nullopt;
  return capture;
}

icu::UnicodeString replacedAll(const char16_t* pattern, const char16_t* replacement, const icu::UnicodeString& text) {
  auto m = matcher(pattern, text);
  if (!m) return text;
  // Not replaceAll: at the time limit it stops part way and still reports success, which
  // would leave the text half replaced. find(status) reports the limit.
  const icu::UnicodeString with(replacement);
  icu::UnicodeString result;
  UErrorCode status = U_ZERO_ERROR;
  while (m->find(status) && U_SUCCESS(status)) {
    m->appendReplacement(result, with, status);
    if (U_FAILURE(status)) break;
  }
  // Past the time limit the replacement counts as not matching: the text stays whole.
  if (U_FAILURE(status)) return text;
  m->appendTail(result);
  return result;
}

}  // namespace

std::string decodeAttributedBody(std::string_view hexText) {
  const auto bytes = bytesFromHex(hexText);
  if (!bytes) return kNotReadable;
  const icu::UnicodeString text = archiveText(*bytes);

  for (const char16_t* pattern : kCapturePatterns) {
    const auto capture = firstCapture(pattern, text);
    if (capture && capture->countChar32() >= kMinimumCharacters) return trimWhitespaceAndNewlines(utf8(*capture));
  }

  icu::UnicodeString cleaned = text;
  for (const auto& [pattern, replacement] : kCleanups) cleaned = replacedAll(pattern, replacement, cleaned);
  std::string cleanedText = trimWhitespaceAndNewlines(utf8(cleaned));
  const std::int32_t characters = icu::UnicodeString::fromUTF8(cleanedText).countChar32();
  if (characters >= kMinimumCharacters) return cleanedText;
  return kNotReadable;
}

}  // namespace qd::MessagesDatabase
