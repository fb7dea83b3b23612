#include "daemon/mcp/oversized_request.h"

#include <cstdint>
#include <limits>
#include <string_view>

#include "daemon/utilities/json.h"

namespace qd {
namespace {

// Follows the parser's events over the kept head and stops at the first nested value or at
// the cut. A value of "id" counts only once the next member or the object's end has shown
// that it was read whole (the cut may fall inside a number).
class HeadIdReader {
 public:
  std::optional<RequestID> found;

  bool null() { return scalar(std::nullopt); }
  bool boolean(bool) { return scalar(std::nullopt); }
  bool number_integer(Json::number_integer_t v) { return scalar(RequestID::integer(v)); }
  bool number_unsigned(Json::number_unsigned_t v) {
    if (v > static_cast<Json::number_unsigned_t>(std::numeric_limits<std::int64_t>::max())) {
      return scalar(std::nullopt);
    }
    return scalar(RequestID::integer(static_cast<std::int64_t>(v)));
  }
  bool number_float(Json::number_float_t, const Json::string_t&) { return scalar(std::nullopt); }
  bool string(Json::string_t& v) { return scalar(RequestID::string(v)); }
  bool binary(Json::binary_t&) { return false; }
  bool start_object(std::size_t) { return open(); }
  bool start_array(std::size_t) { return false; }
  bool key(Json::string_t& k) {
    confirm();
    if (found) return false;
    idIsNext_ = k == "id";
    return true;
  }
  bool end_object() {
    confirm();
    return false;
  }
  bool end_array() { return false; }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

 private:
  // Only the top-level object's own members are read; a nested value ends the reading.
  bool open() { return ++depth_ == 1; }
  bool scalar(std::optional<RequestID> value) {
    if (depth_ != 1) return false;
    if (idIsNext_) candidate_ = std::move(value);
    idIsNext_ = false;
    return true;
  }
  void confirm() {
    if (candidate_) found = std::move(candidate_);
  }

  int depth_ = 0;
  bool idIsNext_ = false;
  std::optional<RequestID> candidate_;
};

// Reads `text` backwards from its end.
class BackwardReader {
 public:
  explicit BackwardReader(std::string_view text) : text_(text) {}

  void skipSpace() {
    while (!text_.empty() && std::string_view(" \t\r\n").find(text_.back()) != std::string_view::npos) {
      text_.remove_suffix(1);
    }
  }
  bool take(char c) {
    skipSpace();
    if (text_.empty() || text_.back() != c) return false;
    text_.remove_suffix(1);
    return true;
  }
  // A string without escapes, its closing quote taken already.
  std::optional<std::string_view> plainString() {
    const std::size_t open = text_.rfind('"');
    if (open == std::string_view::npos) return std::nullopt;
    const std::string_view content = text_.substr(open + 1);
    if (content.find('\\') != std::string_view::npos) return std::nullopt;
    text_ = text_.substr(0, open);
    return content;
  }
  // The digits (and sign) before the current end.
  std::string_view integer() {
    std::size_t start = text_.size();
    while (start > 0 && text_[start - 1] >= '0' && text_[start - 1] <= '9') --start;
    if (start > 0 && text_[start - 1] == '-') --start;
    const std::string_view digits = text_.substr(start);
    text_ = text_.substr(0, start);
    return digits;
  }

 private:
  std::string_view text_;
};

}  // namespace

std::optional<RequestID> requestIdFromLineStart(std::string_view head) {
  HeadIdReader reader;
  Json::sax_parse(head.begin(), head.end(), &reader, nlohmann::detail::input_format_t::json, /*strict=*/true);
  return reader.found;
}

// `..., "id": <value> }` at the very end, the brace closing the top-level object: after
// the value nothing but the one brace, and before "id" a comma or the opening brace.
std::optional<RequestID> requestIdFromLineEnd(std::string_view tail) {
  BackwardReader reader(tail);
  if (!reader.take('}')) return std::nullopt;
  reader.skipSpace();
  std::optional<RequestID> id;
  if (reader.take('"')) {
    const auto content = reader.plainString();
    if (!content) return std::nullopt;
    id = RequestID::string(std::string(*content));
  } else {
    const std::string_view digits = reader.integer();
    if (digits.empty() || digits == "-") return std::nullopt;
    try {
      const Json value = parseJson(digits);
      if (!value.is_number_integer()) return std::nullopt;
      id = RequestID::integer(value.get<std::int64_t>());
    } catch (const std::exception&) {
      return std::nullopt;
    }
  }
  if (!reader.take(':') || !reader.take('"')) return std::nullopt;
  const auto key = reader.plainString();
  if (!key || *key != "id") return std::nullopt;
  if (!reader.take(',') && !reader.take('{')) return std::nullopt;
  return id;
}

}  // namespace qd
