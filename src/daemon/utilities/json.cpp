#include "daemon/utilities/json.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace qd {
namespace {

// Builds the value from parser events on an explicit stack, refusing to open a container
// beyond the depth limit; the parser itself is iterative, so depth never reaches the stack.
class BoundedDomBuilder {
 public:
  BoundedDomBuilder(std::size_t maxDepth, bool exact) : maxDepth_(maxDepth), exact_(exact) {}

  bool null() { return add(Json(nullptr)); }
  bool boolean(bool v) { return add(Json(v)); }
  bool number_integer(Json::number_integer_t v) { return add(Json(v)); }
  bool number_unsigned(Json::number_unsigned_t v) {
    if (v <= static_cast<Json::number_unsigned_t>(std::numeric_limits<std::int64_t>::max())) {
      return add(Json(static_cast<std::int64_t>(v)));
    }
    if (exact_) return fail(JsonParseError::Kind::inexact, "the integer " + std::to_string(v) + " is beyond 64 bits");
    return add(Json(static_cast<double>(v)));
  }
  bool number_float(Json::number_float_t v, const Json::string_t& text) {
    if (exact_) {
      // The lexer hands over integers it could not store as floats: they would be rounded.
      if (text.find_first_of(".eE") == std::string::npos) {
        return fail(JsonParseError::Kind::inexact, "the integer " + text + " is beyond 64 bits");
      }
      if (!std::isfinite(v)) return fail(JsonParseError::Kind::inexact, "the number " + text + " is out of range");
    }
    return add(Json(v));
  }
  bool string(Json::string_t& v) { return add(Json(std::move(v))); }
  bool binary(Json::binary_t&) { return fail(JsonParseError::Kind::malformed, "binary values are not JSON"); }

  bool start_object(std::size_t) {
    if (exact_) keys_.emplace_back();
    return open(Json::object());
  }
  bool key(Json::string_t& k) {
    if (exact_ && !keys_.back().insert(k).second) {
      return fail(JsonParseError::Kind::inexact, "the key \"" + k + "\" appears twice in one object");
    }
    key_ = std::move(k);
    return true;
  }
  bool end_object() {
    if (exact_) keys_.pop_back();
    return close();
  }
  bool start_array(std::size_t) { return open(Json::array()); }
  bool end_array() { return close(); }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& ex) {
    std::string message = ex.what();
    // Drop the library's "[json.exception.parse_error.101] " tag; keep its position text.
    if (auto end = message.find("] "); !message.empty() && message.front() == '[' && end != std::string::npos) {
      message.erase(0, end + 2);
    }
    return fail(JsonParseError::Kind::malformed, "Invalid JSON: " + message);
  }

  Json take() { return std::move(root_); }
  const std::optional<JsonParseError>& error() const { return error_; }

 private:
  bool fail(JsonParseError::Kind kind, std::string text) {
    if (!error_) error_.emplace(kind, std::move(text));
    return false;
  }

  Json* place(Json&& v) {
    if (stack_.empty()) {
      root_ = std::move(v);
      return &root_;
    }
    Json& parent = *stack_.back();
    if (parent.is_array()) {
      parent.push_back(std::move(v));
      return &parent.back();
    }
    Json& slot = parent[key_];
    slot = std::move(v);
    return &slot;
  }

  bool add(Json&& v) {
    place(std::move(v));
    return true;
  }

  bool open(Json&& container) {
    if (stack_.size() + 1 > maxDepth_) {
      return fail(JsonParseError::Kind::tooDeep,
                  "JSON nesting exceeds the limit of " + std::to_string(maxDepth_) + " levels");
    }
    stack_.push_back(place(std::move(container)));
    return true;
  }

  bool close() {
    stack_.pop_back();
    return true;
  }

  std::size_t maxDepth_;
  bool exact_;
  // Exact mode: the keys seen so far in each open object (the object's own lookup is linear).
  std::vector<std::unordered_set<std::string>> keys_;
  Json root_;
  std::vector<Json*> stack_;
  std::string key_;
  std::optional<JsonParseError> error_;
};

int hexUnitAt(std::string_view text, std::size_t at) {
  if (at + 4 > text.size()) return -1;
  int unit = 0;
  for (std::size_t i = at; i < at + 4; ++i) {
    const char c = text[i];
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return -1;
    unit = unit * 16 + digit;
  }
  return unit;
}

bool isHighSurrogate(int unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(int unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// JSON's grammar allows any \u escape, and other writers (JavaScript's JSON.stringify of a
// cut string) send a UTF-16 surrogate without its partner; the parser refuses one, which
// would lose a whole message over one character. Each such escape is rewritten to \uFFFD,
// same length, so positions in later error texts stay true. None when nothing changes.
std::optional<std::string> withUnpairedSurrogatesReplaced(std::string_view text) {
  std::optional<std::string> rewritten;
  std::size_t at = text.find('\\');
  while (at != std::string_view::npos && at + 1 < text.size()) {
    // Outside strings a backslash is a syntax error anyway; inside them escapes come in
    // whole, so stepping over each one leaves an escaped backslash followed by "uD83D" alone.
    std::size_t next = at + 2;
    if (text[at + 1] == 'u') {
      const int unit = hexUnitAt(text, at + 2);
      if (unit >= 0) next = at + 6;
      const bool paired = isHighSurrogate(unit) && text.substr(next, 2) == "\\u" &&
                          isLowSurrogate(hexUnitAt(text, next + 2));
      if (paired) {
        next += 6;
      } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
        if (!rewritten) rewritten.emplace(text);
        rewritten->replace(at + 2, 4, "FFFD");
      }
    }
    at = text.find('\\', next);
  }
  return rewritten;
}

Json parseBounded(std::string_view text, std::size_t maxDepth, bool exact) {
  // The parser takes a NUL byte for the end of its input and would accept whatever comes
  // before it; no JSON text holds one (inside strings it must be escaped).
  if (const auto nul = text.find('\0'); nul != std::string_view::npos) {
    throw JsonParseError(JsonParseError::Kind::malformed,
                         "Invalid JSON: NUL byte at position " + std::to_string(nul));
  }
  // A file that is written back keeps the escape's refusal: U+FFFD would replace its text.
  std::optional<std::string> rewritten = exact ? std::nullopt : withUnpairedSurrogatesReplaced(text);
  if (rewritten) text = *rewritten;
  BoundedDomBuilder builder(maxDepth, exact);
  const bool ok = Json::sax_parse(text.begin(), text.end(), &builder, nlohmann::detail::input_format_t::json,
                                  /*strict=*/true);
  if (!ok) {
    if (builder.error()) throw *builder.error();
    throw JsonParseError(JsonParseError::Kind::malformed, "Invalid JSON");
  }
  return builder.take();
}

}  // namespace

Json parseJson(std::string_view text, std::size_t maxDepth) { return parseBounded(text, maxDepth, false); }

Json parseJsonExactly(std::string_view text, std::size_t maxDepth) { return parseBounded(text, maxDepth, true); }

Json withSortedKeys(const Json& value) {
  if (value.is_array()) {
    Json out = Json::array();
    for (const Json& element : value) out.push_back(withSortedKeys(element));
    return out;
  }
  if (!value.is_object()) return value;
  std::vector<std::string> keys;
  for (const auto& [key, _] : value.items()) keys.push_back(key);
  std::sort(keys.begin(), keys.end());
  Json out = Json::object();
  for (const auto& key : keys) out[key] = withSortedKeys(value.at(key));
  return out;
}

std::string dumpJson(const Json& value, int indent) {
  return value.dump(indent, ' ', /*ensure_ascii=*/false, Json::error_handler_t::replace);
}

}  // namespace qd
