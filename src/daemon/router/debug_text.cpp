#include "daemon/router/debug_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace qd::debug_text {

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\0': out += "\\0"; break;
      default: out += c;
    }
  }
  return out + "\"";
}

std::string number(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char buffer[64];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (error != std::errc()) return "0.0";
  std::string text(buffer, end);
  // Shortest round-trip digits always carry a fraction part or an exponent.
  if (text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

std::string optionalNumber(const std::optional<double>& value) {
  return value ? "Optional(" + number(*value) + ")" : "nil";
}

std::string optionalNumber(const std::optional<std::int64_t>& value) {
  return value ? "Optional(" + number(*value) + ")" : "nil";
}

std::string map(const std::vector<std::pair<std::string, std::string>>& entries) {
  if (entries.empty()) return "[:]";
  std::string text = "[";
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i) text += ", ";
    text += quoted(entries[i].first) + ": " + entries[i].second;
  }
  return text + "]";
}

}  // namespace qd::debug_text
