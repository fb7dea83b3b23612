#include "daemon/utilities/log_redaction.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "daemon/utilities/unicode_text.h"

namespace qd::LogRedaction {
namespace {

// Each name as its words spell it, joined with nothing between them: "api_key" is "apikey".
constexpr std::array<std::string_view, 15> kSensitiveNames = {
    "authorization", "token",    "accesstoken", "refreshtoken", "apikey",      "password",  "secret",   "cookie",
    "session",       "bearer",   "passphrase",  "privatekey",   "credentials", "secretkey", "accesskey"};
constexpr std::size_t kLongestName = std::ranges::max(kSensitiveNames, {}, &std::string_view::size).size();

bool isAsciiLowerOrDigit(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }
bool isAsciiUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool isAsciiLower(char c) { return c >= 'a' && c <= 'z'; }
bool isSeparator(char c) { return c == '_' || c == '-' || c == ' ' || c == '\t'; }

// The key's words, lower-cased: split at separators, after a lower-case letter or digit that
// an upper-case letter follows ("dbPassword"), and before the last capital of a run that a
// lower-case letter follows ("DBPassword" is "DB" and "Password", "OAuthToken" "O Auth Token").
std::vector<std::string> wordsOf(std::string_view key) {
  std::string marked;
  marked.reserve(key.size() + 8);
  for (std::size_t i = 0; i < key.size(); ++i) {
    const char c = key[i];
    if (isSeparator(c)) {
      marked.push_back('_');
      continue;
    }
    if (i > 0 && isAsciiUpper(c)) {
      const bool afterLower = isAsciiLowerOrDigit(key[i - 1]);
      const bool endsCapitalRun = isAsciiUpper(key[i - 1]) && i + 1 < key.size() && isAsciiLower(key[i + 1]);
      if (afterLower || endsCapitalRun) marked.push_back('_');
    }
    marked.push_back(c);
  }
  const std::string lowered = unicode::lowercased(marked);
  std::vector<std::string> words;
  std::size_t start = 0;
  while (start <= lowered.size()) {
    const std::size_t end = std::min(lowered.find('_', start), lowered.size());
    if (end > start) words.emplace_back(lowered.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

}  // namespace

bool isSensitiveKey(std::string_view key) {
  // "X-Api-Key", "api key", "API_KEY", "apiKey" and "APIKey" are one key to a person, and so
  // are "passPhrase" and "passphrase". The key is sensitive when its last word, or its last
  // few words run together, spell a sensitive name: "db_password", "AWSSecretKey",
  // "pass_word"; "maxTokens", "TokenCount" and "monkey" are not.
  const std::vector<std::string> words = wordsOf(key);
  std::string tail;
  for (auto word = words.rbegin(); word != words.rend(); ++word) {
    tail.insert(0, *word);
    for (std::string_view name : kSensitiveNames) {
      if (tail == name) return true;
    }
    // Words only lengthen the tail; past the longest name nothing more can match.
    if (tail.size() > kLongestName) break;
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
