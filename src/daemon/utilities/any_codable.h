#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "daemon/utilities/json.h"

namespace qd {

// Exact-kind readers of a JSON value: each answers only when the value is exactly of that
// kind. An integer is not a double (3 has no doubleValue), a double is not an integer
// (3.0 has no intValue), and neither 0 nor 1 is a Boolean.
std::optional<std::string> stringValue(const Json& value);
std::optional<std::int64_t> intValue(const Json& value);
std::optional<double> doubleValue(const Json& value);
std::optional<bool> boolValue(const Json& value);
const Json* arrayValue(const Json& value);       // nullptr unless an array
const Json* dictionaryValue(const Json& value);  // nullptr unless an object

// Fails with EncodingError "Unsupported type: <kind>" when the value holds anything that
// is not one of JSON's kinds (a binary blob, a discarded value).
void ensureEncodable(const Json& value);

// The free-form JSON value of tool arguments, params and notification data. It holds one
// JSON value; null stands for "absent".
class AnyCodable {
 public:
  AnyCodable() = default;
  explicit AnyCodable(Json value) : value_(std::move(value)) {}

  const Json& value() const { return value_; }

  // Reads one JSON value. Integers that fit a signed 64-bit integer stay integers, other
  // numbers become doubles. Fails with DecodingError "Unsupported type" for a value that
  // is not one of JSON's kinds.
  static AnyCodable decode(const Json& json);
  // The JSON value; fails with EncodingError "Unsupported type: <kind>" when something
  // inside is not one of JSON's kinds.
  Json encode() const;

  std::optional<std::string> stringValue() const { return qd::stringValue(value_); }
  std::optional<std::int64_t> intValue() const { return qd::intValue(value_); }
  std::optional<double> doubleValue() const { return qd::doubleValue(value_); }
  std::optional<bool> boolValue() const { return qd::boolValue(value_); }
  const Json* arrayValue() const { return qd::arrayValue(value_); }
  const Json* dictionaryValue() const { return qd::dictionaryValue(value_); }

  // A string as itself, numbers in decimal, Booleans as true/false, null as nil, arrays
  // and objects in a bracketed list form: [1, "a"] and ["k": 1].
  std::string description() const;

  // Equal only for two Booleans, two integers or two doubles of equal value (NaN is never
  // equal), or two canonically equivalent strings. Null, arrays and objects are never
  // equal to anything, and 1 is not equal to 1.0.
  friend bool operator==(const AnyCodable& a, const AnyCodable& b);

 private:
  Json value_;
};

}  // namespace qd
