#include "daemon/utilities/any_codable.h"

#include <limits>
#include <vector>

#include "daemon/utilities/json_codec.h"
#include "daemon/utilities/unicode_text.h"

namespace qd {
namespace {

bool isJsonKind(const Json& v) {
  switch (v.type()) {
    case Json::value_t::binary:
    case Json::value_t::discarded: return false;
    default: return true;
  }
}

// The first value, walking depth first, that is not one of JSON's kinds.
const Json* findNonJson(const Json& root) {
  std::vector<const Json*> pending{&root};
  while (!pending.empty()) {
    const Json* v = pending.back();
    pending.pop_back();
    if (!isJsonKind(*v)) return v;
    if (v->is_structured()) {
      for (const Json& child : *v) pending.push_back(&child);
    }
  }
  return nullptr;
}

// Unsigned values above the signed range become doubles, so "integer" always means
// signed 64-bit, whatever built the value.
Json normalizedNumbers(const Json& root) {
  if (root.is_number_unsigned()) {
    const auto u = root.get<std::uint64_t>();
    if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return Json(static_cast<double>(u));
    return Json(static_cast<std::int64_t>(u));
  }
  if (!root.is_structured()) return root;
  Json out = root.is_array() ? Json::array() : Json::object();
  for (auto it = root.begin(); it != root.end(); ++it) {
    if (root.is_array()) {
      out.push_back(normalizedNumbers(*it));
    } else {
      out[it.key()] = normalizedNumbers(*it);
    }
  }
  return out;
}

std::string describe(const Json& v, bool quoteStrings) {
  switch (v.type()) {
    case Json::value_t::null: return "nil";
    case Json::value_t::string: return quoteStrings ? dumpJson(v) : v.get<std::string>();
    case Json::value_t::array: {
      std::string out = "[";
      for (std::size_t i = 0; i < v.size(); ++i) {
        if (i) out += ", ";
        out += describe(v[i], true);
      }
      return out + "]";
    }
    case Json::value_t::object: {
      if (v.empty()) return "[:]";
      std::string out = "[";
      bool first = true;
      for (auto it = v.begin(); it != v.end(); ++it) {
        if (!first) out += ", ";
        first = false;
        out += dumpJson(Json(it.key())) + ": " + describe(*it, true);
      }
      return out + "]";
    }
    default: return dumpJson(v);
  }
}

}  // namespace

std::optional<std::string> stringValue(const Json& value) {
  if (value.is_string()) return value.get<std::string>();
  return std::nullopt;
}

std::optional<std::int64_t> intValue(const Json& value) {
  if (!value.is_number_integer()) return std::nullopt;
  if (value.is_number_unsigned()) {
    const auto u = value.get<std::uint64_t>();
    if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
    return static_cast<std::int64_t>(u);
  }
  return value.get<std::int64_t>();
}

std::optional<double> doubleValue(const Json& value) {
  if (value.is_number_float()) return value.get<double>();
  // An unsigned value beyond the signed range is a double by the rule above.
  if (value.is_number_unsigned() && !intValue(value)) return value.get<double>();
  return std::nullopt;
}

std::optional<bool> boolValue(const Json& value) {
  if (value.is_boolean()) return value.get<bool>();
  return std::nullopt;
}

const Json* arrayValue(const Json& value) { return value.is_array() ? &value : nullptr; }
const Json* dictionaryValue(const Json& value) { return value.is_object() ? &value : nullptr; }

AnyCodable AnyCodable::decode(const Json& json) {
  if (findNonJson(json)) throw DecodingError(DecodingError::Kind::dataCorrupted, "Unsupported type");
  return AnyCodable(normalizedNumbers(json));
}

void ensureEncodable(const Json& value) {
  if (const Json* bad = findNonJson(value)) {
    throw EncodingError(std::string("Unsupported type: ") + bad->type_name());
  }
}

Json AnyCodable::encode() const {
  ensureEncodable(value_);
  return value_;
}

std::string AnyCodable::description() const { return describe(value_, false); }

bool operator==(const AnyCodable& a, const AnyCodable& b) {
  if (auto x = a.boolValue(), y = b.boolValue(); x && y) return *x == *y;
  if (auto x = a.intValue(), y = b.intValue(); x && y) return *x == *y;
  if (auto x = a.doubleValue(), y = b.doubleValue(); x && y) return *x == *y;
  if (a.value_.is_string() && b.value_.is_string()) {
    return unicode::canonicallyEqual(a.value_.get_ref<const std::string&>(), b.value_.get_ref<const std::string&>());
  }
  return false;
}

}  // namespace qd
