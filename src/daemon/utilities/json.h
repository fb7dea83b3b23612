#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "daemon/utilities/error.h"

namespace qd {

// The one JSON value of the system: objects keep the order their members were written in.
using Json = nlohmann::ordered_json;

// Nesting limit for untrusted text when the caller names none; deep enough for any real
// message, shallow enough that nothing recursive can overflow the stack on the result.
inline constexpr std::size_t kDefaultMaxJsonDepth = 256;

// Raised for text that is not one well-formed JSON value, or that nests too deeply.
class JsonParseError : public Error {
 public:
  // inexact: well-formed text whose value a rewrite would change (parseJsonExactly only).
  enum class Kind { malformed, tooDeep, inexact };
  JsonParseError(Kind kind, std::string description) : Error(std::move(description)), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

// Parses untrusted JSON text. The nesting depth is checked while parsing (a top-level
// scalar has depth 0, each array or object adds one), so no input can drive recursion.
// Integers that fit a signed 64-bit integer are stored as signed integers, larger ones as
// doubles; text after the value other than white space is an error. A \u escape of a UTF-16
// surrogate without its partner (valid by JSON's grammar, names no character) reads as U+FFFD.
Json parseJson(std::string_view text, std::size_t maxDepth = kDefaultMaxJsonDepth);

// Like parseJson, for files that are read, changed and written back: refuses what the
// parsed value cannot give back, so a rewrite never changes a value behind the user's back.
// Refused (Kind::inexact): a key twice in one object (the parser keeps one of them), an
// integer outside the signed 64-bit range (it would come back as a rounded double) and a
// number too large for a double. An unpaired surrogate escape stays refused (Kind::malformed).
Json parseJsonExactly(std::string_view text, std::size_t maxDepth = kDefaultMaxJsonDepth);

// A copy in which every object's keys are in ascending byte order, at every depth, for
// files that people compare and diff.
Json withSortedKeys(const Json& value);

// Compact (indent < 0) or pretty JSON text. Never throws on invalid UTF-8 in strings that
// came from outside: such bytes are replaced with U+FFFD.
std::string dumpJson(const Json& value, int indent = -1);

}  // namespace qd
