#include "daemon/utilities/log_redaction.h"

#include <array>
#include <vector>

#include "daemon/utilities/unicode_text.h"

namespace qd::LogRedaction {
namespace {

constexpr std::array<std::string_view, 16> kSensitiveKeys = {
    "authorization", "token",      "access_token", "refresh_token", "api_key",    "apikey",
    "password",      "secret",     "cookie",       "session",       "bearer",     "passphrase",
    "private_key",   "credentials", "secret_key",  "access_key"};

bool isAsciiLowerOrDigit(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }
bool isAsciiUpper(char c) { return c >= 'A' && c <= 'Z'; }

}  // namespace

bool isSensitiveKey(std::string_view key) {
  // "X-Api-Key", "api key", "API_KEY" and "apiKey" are one key to a person; hyphens, blanks
  // and a camelCase boundary (a lower-case letter or digit, then an upper-case one) read as
  // underscores. "APIKey" has no such boundary and stays "apikey".
  std::string split;
  split.reserve(key.size() + 4);
  for (std::size_t i = 0; i < key.size(); ++i) {
    if (i > 0 && isAsciiLowerOrDigit(key[i - 1]) && isAsciiUpper(key[i])) split.push_back('_');
    split.push_back(key[i]);
  }
  std::string normalized = unicode::lowercased(split);
  for (char& c : normalized) {
    if (c == '-' || c == ' ') c = '_';
  }
  const std::string_view name = normalized;
  for (std::string_view sensitive : kSensitiveKeys) {
    if (name == sensitive) return true;
    // A qualified name: "client_secret", "github_token", "db_password".
    if (name.size() > sensitive.size() && name.ends_with(sensitive) &&
        name[name.size() - sensitive.size() - 1] == '_') {
      return true;
    }
  }
  return false;
}

Json redact(const Json& value) {
  // Each task fills one destination slot from one source value. Containers get all their
  // slots created before any slot's address is taken, so the addresses stay valid.
  struct Task {
    const Json* source;
    Json* destination;
  };
  Json result;
  std::vector<Task> stack{{&value, &result}};
  while (!stack.empty()) {
    const Task task = stack.back();
    stack.pop_back();
    const Json& source = *task.source;
    Json& destination = *task.destination;
    if (source.is_object()) {
      destination = Json::object();
      std::vector<bool> sensitive;
      sensitive.reserve(source.size());
      for (auto it = source.begin(); it != source.end(); ++it) {
        sensitive.push_back(isSensitiveKey(it.key()));
        destination[it.key()] = sensitive.back() ? Json(kReplacement) : Json();
      }
      auto out = destination.begin();
      std::size_t index = 0;
      for (auto it = source.begin(); it != source.end(); ++it, ++out, ++index) {
        if (!sensitive[index]) stack.push_back({&it.value(), &out.value()});
      }
    } else if (source.is_array()) {
      // An array under a sensitive key never gets here (it is replaced whole), so its
      // elements need no key of their own.
      destination = Json::array();
      auto& elements = destination.get_ref<Json::array_t&>();
      elements.resize(source.size());
      for (std::size_t i = 0; i < source.size(); ++i) stack.push_back({&source[i], &elements[i]});
    } else {
      destination = source;
    }
  }
  return result;
}

}  // namespace qd::LogRedaction
