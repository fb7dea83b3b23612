#include "daemon/utilities/json_codec.h"

#include <limits>

namespace qd::codec {

std::string kindName(const Json& value) {
  switch (value.type()) {
    case Json::value_t::null: return "null";
    case Json::value_t::boolean: return "a Boolean";
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned: return "an integer";
    case Json::value_t::number_float: return "a number with a fraction";
    case Json::value_t::string: return "a string";
    case Json::value_t::array: return "an array";
    case Json::value_t::object: return "an object";
    default: return "a non-JSON value";
  }
}

void throwTypeMismatch(std::string_view key, std::string_view expected, const Json& found) {
  std::string text = "Expected ";
  text += expected;
  if (!key.empty()) {
    text += " for key \"";
    text += key;
    text += "\"";
  }
  text += " but found " + kindName(found);
  throw DecodingError(DecodingError::Kind::typeMismatch, text);
}

const Json& expectObject(const Json& value, std::string_view what) {
  if (!value.is_object()) {
    throw DecodingError(DecodingError::Kind::typeMismatch,
                        "Expected an object for " + std::string(what) + " but found " + kindName(value));
  }
  return value;
}

std::string asString(const Json& value, std::string_view key) {
  if (!value.is_string()) throwTypeMismatch(key, "a string", value);
  return value.get<std::string>();
}

bool asBool(const Json& value, std::string_view key) {
  if (!value.is_boolean()) throwTypeMismatch(key, "a Boolean", value);
  return value.get<bool>();
}

std::int64_t asInt(const Json& value, std::string_view key) {
  if (value.is_number_unsigned()) {
    const auto u = value.get<std::uint64_t>();
    if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return static_cast<std::int64_t>(u);
    }
  } else if (value.is_number_integer()) {
    return value.get<std::int64_t>();
  }
  throwTypeMismatch(key, "an integer", value);
}

double asDouble(const Json& value, std::string_view key) {
  if (!value.is_number()) throwTypeMismatch(key, "a number", value);
  return value.get<double>();
}

const Json& asObject(const Json& value, std::string_view key) {
  if (!value.is_object()) throwTypeMismatch(key, "an object", value);
  return value;
}

const Json& asArray(const Json& value, std::string_view key) {
  if (!value.is_array()) throwTypeMismatch(key, "an array", value);
  return value;
}

const Json* member(const Json& object, std::string_view key) {
  if (!object.is_object()) return nullptr;
  auto it = object.find(key);
  if (it == object.end() || it->is_null()) return nullptr;
  return &*it;
}

const Json& requiredMember(const Json& object, std::string_view key) {
  if (!object.is_object()) {
    throw DecodingError(DecodingError::Kind::typeMismatch,
                        "Expected an object holding \"" + std::string(key) + "\" but found " + kindName(object));
  }
  auto it = object.find(key);
  if (it == object.end()) {
    throw DecodingError(DecodingError::Kind::keyNotFound, "No value for key \"" + std::string(key) + "\"");
  }
  if (it->is_null()) {
    throw DecodingError(DecodingError::Kind::valueNotFound, "Null value for required key \"" + std::string(key) + "\"");
  }
  return *it;
}

std::optional<std::string> optionalString(const Json& o, std::string_view k) {
  if (const Json* m = member(o, k)) return asString(*m, k);
  return std::nullopt;
}

std::optional<bool> optionalBool(const Json& o, std::string_view k) {
  if (const Json* m = member(o, k)) return asBool(*m, k);
  return std::nullopt;
}

std::optional<std::int64_t> optionalInt(const Json& o, std::string_view k) {
  if (const Json* m = member(o, k)) return asInt(*m, k);
  return std::nullopt;
}

std::optional<double> optionalDouble(const Json& o, std::string_view k) {
  if (const Json* m = member(o, k)) return asDouble(*m, k);
  return std::nullopt;
}

std::optional<Json> optionalObject(const Json& o, std::string_view k) {
  if (const Json* m = member(o, k)) return asObject(*m, k);
  return std::nullopt;
}

std::optional<Json> optionalValue(const Json& o, std::string_view k) {
  if (const Json* m = member(o, k)) return *m;
  return std::nullopt;
}

std::vector<std::string> requiredStringList(const Json& o, std::string_view k) {
  std::vector<std::string> out;
  for (const Json& element : asArray(requiredMember(o, k), k)) out.push_back(asString(element, k));
  return out;
}

std::optional<std::vector<std::string>> optionalStringList(const Json& o, std::string_view k) {
  if (!member(o, k)) return std::nullopt;
  return requiredStringList(o, k);
}

}  // namespace qd::codec
