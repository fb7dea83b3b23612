#pragma once

#include <string>
#include <string_view>

#include "daemon/utilities/clock.h"

namespace qd {

// The note name of a tracked record's id: lower-cased; every user-perceived character that
// is not a letter (Alphabetic), a number (any Unicode numeric type) or "-" becomes "-";
// runs of "-" collapse to one and are trimmed from both ends; at most 60 characters, the
// ends trimmed again after the cut. May be empty ("---", "!!!").
std::string noteSlug(std::string_view text);

// "TASK-" + the UTC date as yyyyMMdd + "-" + noteSlug(title), cut to 60 characters with
// "-" trimmed from both ends. A title with no letter or number gives an id ending in "-".
std::string generateTaskId(std::string_view title, const Clock& clock);

}  // namespace qd
