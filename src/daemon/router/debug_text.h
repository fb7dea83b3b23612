#pragma once

// The debug text form the status tools answer with (not JSON): ["key": value, ...], with
// strings quoted and escaped, integers in decimal, Booleans as true/false, floating-point
// numbers in their shortest round-trip form with a fraction part (12.0, 0.25), optional
// numbers as Optional(value) or nil, nested maps in the same form and [:] when empty.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qd::debug_text {

std::string quoted(const std::string& text);
std::string number(double value);
inline std::string number(std::int64_t value) { return std::to_string(value); }
inline std::string boolean(bool value) { return value ? "true" : "false"; }
std::string optionalNumber(const std::optional<double>& value);
std::string optionalNumber(const std::optional<std::int64_t>& value);

// Entries are (key, rendered value); the key is quoted here.
std::string map(const std::vector<std::pair<std::string, std::string>>& entries);

}  // namespace qd::debug_text
