#pragma once

#include <cstddef>
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

// The number of user-perceived characters (extended grapheme clusters): "e" plus a
// combining accent is one, a flag made of two regional indicators is one. An ill-formed
// UTF-8 sequence counts as one character of its own.
std::size_t graphemeCount(std::string_view text);

// The first `maxCharacters` user-perceived characters of the text, cut on a cluster
// boundary, so neither a UTF-8 sequence nor a cluster is split. Text that is already short
// enough comes back unchanged, byte for byte.
std::string truncatedToGraphemes(std::string_view text, std::size_t maxCharacters);

// The text with every ill-formed UTF-8 sequence (each maximal subpart) replaced by U+FFFD.
std::string replacingInvalidUtf8(std::string_view bytes);

// The longest prefix of valid UTF-8 text that is at most `maxBytes` long and ends on a
// user-perceived character boundary. Text that fits comes back unchanged.
std::string truncatedToBytes(std::string_view text, std::size_t maxBytes);

// The length in bytes of the white space character (the Unicode White_Space property:
// ASCII blanks and line ends, U+0085, U+00A0, U+1680, U+2000-U+200A, U+2028, U+2029,
// U+202F, U+205F, U+3000) that starts at byte `pos`, or that ends just before byte `end`;
// 0 when there is none there, or an ill-formed sequence.
std::size_t whiteSpaceLengthAt(std::string_view text, std::size_t pos);
std::size_t whiteSpaceLengthBefore(std::string_view text, std::size_t end);

// Full Unicode lower-casing in the root locale (so a Kelvin sign becomes "k"). ASCII text
// takes a fast path with the same result. Text that is not valid UTF-8 has only its ASCII
// letters lowered.
std::string lowercased(std::string_view text);

}  // namespace qd::unicode
