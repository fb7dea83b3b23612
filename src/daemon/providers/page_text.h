#pragma once

// A web page reduced to plain text for a model to read. Each step is one linear scan (a
// backtracking regular expression recurses per character and overflows the stack on a
// large page).

#include <cstddef>
#include <string>
#include <string_view>

namespace qd {

// The longest text kept, in user-perceived characters; a longer one is cut there and ends
// in "…".
inline constexpr std::size_t pageTextLimit = 12000;

// In this order: every "<script" ... "</script>" (shortest, case-sensitive) removed, an
// unclosed one left as it is; the same for "<style" ... "</style>"; every tag ("<", at
// least one character other than ">", ">") replaced by a blank; "&nbsp;" -> blank;
// "&amp;" -> "&" (no other entity decoded); every run of white space -> one blank; trimmed;
// cut to pageTextLimit characters, never inside one.
std::string strippedPageText(std::string_view html);

}  // namespace qd
