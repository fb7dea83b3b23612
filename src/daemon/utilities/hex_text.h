#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace qd {

// The value of one hexadecimal digit (either case), -1 for any other character.
int hexDigitValue(char c);

// Pairs of hexadecimal digits to bytes; an odd last digit is ignored, text shorter than two
// characters gives no bytes, and a pair that is not hexadecimal gives none.
std::optional<std::vector<std::uint8_t>> bytesFromHex(std::string_view text);

}  // namespace qd
