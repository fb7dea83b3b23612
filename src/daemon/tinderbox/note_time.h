#pragma once

#include <cstdint>
#include <string>

namespace qd {

// "2026-12-09T10:24:26Z": the time in UTC with whole seconds (a fraction is dropped, so
// the second is the one the moment falls in), as note attributes and comment lines show it.
std::string iso8601Seconds(std::int64_t unixMilliseconds);

}  // namespace qd
