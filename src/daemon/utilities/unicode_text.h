#pragma once

#include <string>
#include <string_view>

namespace qd::unicode {

// Whether the bytes are well-formed UTF-8 (no overlongs, surrogates or truncated sequences).
bool isValidUtf8(std::string_view bytes);

// Equality under Unicode canonical equivalence: a precomposed "é" equals "e" followed by a
// combining acute accent. Text that is not valid UTF-8 is compared byte for byte.
bool canonicallyEqual(std::string_view a, std::string_view b);

// The NFC form, for hashing text that compares under canonical equivalence. Text that is
// not valid UTF-8 is returned unchanged.
std::string normalizedNFC(std::string_view text);

}  // namespace qd::unicode
