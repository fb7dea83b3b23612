#pragma once

// Reading and writing of records as JSON objects, with one set of rules for every record:
// a required member must be present, non-null and of the right kind; an optional member
// that is missing or null is absent; members a record does not name are ignored; an absent
// optional is left out when writing, never written as null.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "daemon/utilities/json.h"

namespace qd {

class DecodingError : public Error {
 public:
  enum class Kind { keyNotFound, valueNotFound, typeMismatch, dataCorrupted };
  DecodingError(Kind kind, std::string description) : Error(std::move(description)), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

class EncodingError : public Error {
 public:
  explicit EncodingError(std::string description) : Error(std::move(description)) {}
};

namespace codec {

// The kind of a JSON value in words, for error texts ("a string", "an integer", ...).
std::string kindName(const Json& value);

[[noreturn]] void throwTypeMismatch(std::string_view key, std::string_view expected, const Json& found);

// Fails unless the value is a JSON object; `what` names the record for the error text.
const Json& expectObject(const Json& value, std::string_view what);

// Exact readers of one value: an integer is not a double, a Boolean is not a number.
std::string asString(const Json& value, std::string_view key);
bool asBool(const Json& value, std::string_view key);
std::int64_t asInt(const Json& value, std::string_view key);
double asDouble(const Json& value, std::string_view key);  // any number
const Json& asObject(const Json& value, std::string_view key);
const Json& asArray(const Json& value, std::string_view key);

// The member, or nullptr when it is missing or null.
const Json* member(const Json& object, std::string_view key);
// The member; missing or null fails with keyNotFound / valueNotFound.
const Json& requiredMember(const Json& object, std::string_view key);

inline std::string requiredString(const Json& o, std::string_view k) { return asString(requiredMember(o, k), k); }
inline bool requiredBool(const Json& o, std::string_view k) { return asBool(requiredMember(o, k), k); }
inline std::int64_t requiredInt(const Json& o, std::string_view k) { return asInt(requiredMember(o, k), k); }
inline Json requiredObject(const Json& o, std::string_view k) { return asObject(requiredMember(o, k), k); }

std::optional<std::string> optionalString(const Json& o, std::string_view k);
std::optional<bool> optionalBool(const Json& o, std::string_view k);
std::optional<std::int64_t> optionalInt(const Json& o, std::string_view k);
std::optional<double> optionalDouble(const Json& o, std::string_view k);
std::optional<Json> optionalObject(const Json& o, std::string_view k);
// Any JSON value but null.
std::optional<Json> optionalValue(const Json& o, std::string_view k);

std::vector<std::string> requiredStringList(const Json& o, std::string_view k);
std::optional<std::vector<std::string>> optionalStringList(const Json& o, std::string_view k);

// Records with `static T fromJson(const Json&)` and `Json toJson() const`.
template <class T>
std::optional<T> optionalRecord(const Json& o, std::string_view k) {
  if (const Json* m = member(o, k)) return T::fromJson(*m);
  return std::nullopt;
}

template <class T>
std::vector<T> recordList(const Json& array, std::string_view k) {
  std::vector<T> out;
  for (const Json& element : asArray(array, k)) out.push_back(T::fromJson(element));
  return out;
}

template <class T>
std::vector<T> requiredRecordList(const Json& o, std::string_view k) {
  return recordList<T>(requiredMember(o, k), k);
}

template <class T>
std::optional<std::vector<T>> optionalRecordList(const Json& o, std::string_view k) {
  if (const Json* m = member(o, k)) return recordList<T>(*m, k);
  return std::nullopt;
}

template <class T>
Json toJsonList(const std::vector<T>& items) {
  Json out = Json::array();
  for (const T& item : items) out.push_back(item.toJson());
  return out;
}

// Writes the member only when the optional holds a value.
template <class T>
void putOptional(Json& object, const char* key, const std::optional<T>& value) {
  if (!value) return;
  if constexpr (requires { value->toJson(); }) {
    object[key] = value->toJson();
  } else {
    object[key] = *value;
  }
}

template <class T>
void putOptionalList(Json& object, const char* key, const std::optional<std::vector<T>>& value) {
  if (value) object[key] = toJsonList(*value);
}

}  // namespace codec
}  // namespace qd
