#include "daemon/providers/icu_time.h"

#include <unicode/calendar.h>
#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/ucal.h>
#include <unicode/unistr.h>

#include <cmath>

namespace qd::icutime {
namespace {

UDate toUDate(WallTime time) {
  return static_cast<UDate>(std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count());
}

WallTime fromUDate(UDate date) {
  return WallTime(std::chrono::duration_cast<WallTime::duration>(
      std::chrono::milliseconds(static_cast<std::int64_t>(std::floor(date)))));
}

// A formatter for the pattern in the zone, en_US_POSIX, Gregorian; null when ICU refuses.
std::unique_ptr<icu::SimpleDateFormat> formatter(const icu::TimeZone& zone, std::string_view pattern) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Locale posix("en_US_POSIX");
  auto out = std::make_unique<icu::SimpleDateFormat>(
      icu::UnicodeString::fromUTF8(icu::StringPiece(pattern.data(), static_cast<int32_t>(pattern.size()))), posix,
      status);
  if (U_FAILURE(status)) return nullptr;
  auto calendar = std::make_unique<icu::GregorianCalendar>(zone, posix, status);
  if (U_FAILURE(status)) return nullptr;
  out->adoptCalendar(calendar.release());
  out->setTimeZone(zone);
  return out;
}

}  // namespace

std::unique_ptr<icu::TimeZone> knownTimeZone(std::string_view identifier) {
  if (identifier.empty()) return nullptr;
  std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(
      icu::UnicodeString::fromUTF8(icu::StringPiece(identifier.data(), static_cast<int32_t>(identifier.size())))));
  // An identifier ICU does not know gives its unknown zone, "Etc/Unknown".
  icu::UnicodeString id;
  if (!zone || zone->getID(id) == icu::UnicodeString(UCAL_UNKNOWN_ZONE_ID)) return nullptr;
  return zone;
}

std::string format(WallTime time, const icu::TimeZone& zone, std::string_view pattern) {
  auto f = formatter(zone, pattern);
  if (!f) return "";
  icu::UnicodeString text;
  f->format(toUDate(time), text);
  std::string out;
  text.toUTF8String(out);
  return out;
}

std::string iso8601UTC(WallTime time) {
  return format(time, *icu::TimeZone::getGMT(), "yyyy-MM-dd'T'HH:mm:ssXXX");
}

std::optional<WallTime> parse(std::string_view text, const icu::TimeZone& zone, std::string_view pattern) {
  auto f = formatter(zone, pattern);
  if (!f) return std::nullopt;
  f->setLenient(false);
  const icu::UnicodeString input =
      icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  icu::ParsePosition position(0);
  const UDate date = f->parse(input, position);
  if (position.getErrorIndex() >= 0 || position.getIndex() != input.length()) return std::nullopt;
  return fromUDate(date);
}

std::optional<WallTime> addInLocalCalendar(WallTime time, CalendarUnit unit, int amount) {
  UErrorCode status = U_ZERO_ERROR;
  icu::GregorianCalendar calendar(status);  // the default (local) zone
  if (U_FAILURE(status)) return std::nullopt;
  calendar.setTime(toUDate(time), status);
  calendar.add(unit == CalendarUnit::day ? UCAL_DATE : UCAL_YEAR, amount, status);
  const UDate moved = calendar.getTime(status);
  if (U_FAILURE(status)) return std::nullopt;
  return fromUDate(moved);
}

}  // namespace qd::icutime
