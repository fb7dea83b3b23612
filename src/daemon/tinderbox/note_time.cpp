#include "daemon/tinderbox/note_time.h"

#include <chrono>
#include <cstdio>

namespace qd {

std::string iso8601Seconds(std::int64_t unixMilliseconds) {
  using namespace std::chrono;
  const sys_time<milliseconds> t{milliseconds(unixMilliseconds)};
  const auto day = floor<days>(t);
  const year_month_day date{day};
  const hh_mm_ss<seconds> time{floor<seconds>(t - day)};
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

}  // namespace qd
