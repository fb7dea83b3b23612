#pragma once

// Wall-clock times through ICU, always in the en_US_POSIX locale and the Gregorian
// calendar, so the text does not depend on the user's locale.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <unicode/timezone.h>

namespace qd::icutime {

using WallTime = std::chrono::system_clock::time_point;

// The zone when ICU knows the identifier (ICU's unknown zone is not known). The name is
// only looked up in ICU's own tables, never used as a path.
std::unique_ptr<icu::TimeZone> knownTimeZone(std::string_view identifier);

// The time written with an ICU pattern in the zone.
std::string format(WallTime time, const icu::TimeZone& zone, std::string_view pattern);

// "2026-02-23T09:30:00Z": ISO 8601 internet date-time in UTC, whole seconds.
std::string iso8601UTC(WallTime time);

// Reads the whole text with the pattern in the zone (strict, nothing left over).
std::optional<WallTime> parse(std::string_view text, const icu::TimeZone& zone, std::string_view pattern);

// `time` moved by whole calendar units in the local zone (days across a daylight-saving
// change keep the wall-clock hour). None when ICU cannot compute it.
enum class CalendarUnit { day, year };
std::optional<WallTime> addInLocalCalendar(WallTime time, CalendarUnit unit, int amount);

}  // namespace qd::icutime
