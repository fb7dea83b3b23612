#include "daemon/tinderbox/argument_helpers.h"

#include "daemon/runtime/text_trim.h"
#include "daemon/utilities/any_codable.h"

namespace qd {

std::map<std::string, std::string> stringDictionary(const Json& value) {
  std::map<std::string, std::string> out;
  if (!value.is_object()) return out;
  for (auto it = value.begin(); it != value.end(); ++it) {
    // The display form writes a top-level string as itself and numbers in decimal.
    out[it.key()] = AnyCodable(*it).description();
  }
  return out;
}

std::optional<std::string> nonEmptyString(const Json& value) {
  if (!value.is_string()) return std::nullopt;
  std::string trimmed = trimWhitespaceAndNewlines(value.get_ref<const std::string&>());
  if (trimmed.empty()) return std::nullopt;
  return trimmed;
}

std::vector<std::string> stringArray(const Json& value) {
  std::vector<std::string> out;
  if (!value.is_array()) return out;
  for (const Json& element : value) {
    if (element.is_string()) {
      out.push_back(element.get<std::string>());
    } else if (element.is_number()) {
      out.push_back(AnyCodable(element).description());
    }
    // Booleans are not numbers here: true must not turn into "1".
  }
  return out;
}

bool isValidAgentID(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) return false;
  }
  return true;
}

}  // namespace qd
