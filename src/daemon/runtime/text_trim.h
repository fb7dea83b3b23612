#pragma once

#include <string>
#include <string_view>

namespace qd {

// The text with leading and trailing white space and line ends removed: the characters
// with the Unicode White_Space property (ASCII blanks and line ends, U+0085, U+00A0,
// U+1680, U+2000-U+200A, U+2028, U+2029, U+202F, U+205F, U+3000). The one trim for
// operation names, ids, arguments and program output; an ill-formed UTF-8 sequence at an
// end stops it.
std::string trimWhitespaceAndNewlines(std::string_view text);

}  // namespace qd
