#pragma once

#include <string>
#include <string_view>

namespace qd {

// The text as it goes between the double quotes of an AppleScript string literal:
// backslashes doubled first, then every double quote preceded by a backslash; nothing else
// changes (line breaks, tabs and non-ASCII pass as they are).
std::string scriptLiteralEscaped(std::string_view text);

}  // namespace qd
