#pragma once

// The JSON-RPC 2.0 layer under MCP: request ids, the error object, the four message
// shapes and the reading of one received text into a typed message. Batches are not
// supported. The daemon's own socket protocol is not JSON-RPC and does not use this.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "daemon/utilities/error.h"
#include "daemon/utilities/json.h"

namespace qd {

inline constexpr const char* jsonRPCVersion = "2.0";

// A request id keeps its kind: the string "7" and the integer 7 are different ids.
class RequestID {
 public:
  static RequestID string(std::string s) { return RequestID(std::move(s)); }
  static RequestID integer(std::int64_t i) { return RequestID(i); }

  bool isString() const { return std::holds_alternative<std::string>(value_); }
  bool isInteger() const { return std::holds_alternative<std::int64_t>(value_); }
  const std::string* stringPayload() const { return std::get_if<std::string>(&value_); }
  std::optional<std::int64_t> integerPayload() const;

  // The string itself or the integer in decimal.
  std::string description() const;

  Json toJson() const;
  // An integer or a string; anything else fails with "Request ID must be a string or integer".
  static RequestID fromJson(const Json& value);

  // Same kind and payload; strings under canonical equivalence.
  friend bool operator==(const RequestID& a, const RequestID& b);
  std::size_t hash() const;

 private:
  explicit RequestID(std::string s) : value_(std::move(s)) {}
  explicit RequestID(std::int64_t i) : value_(i) {}
  std::variant<std::string, std::int64_t> value_;
};

enum class JSONRPCErrorCode : std::int64_t {
  parseError = -32700,
  invalidRequest = -32600,
  methodNotFound = -32601,
  invalidParams = -32602,
  internalError = -32603,
  serverError = -32000,
};

// The code for a raw value, or nothing when the value is not one of the table's.
std::optional<JSONRPCErrorCode> jsonRPCErrorCodeFromRaw(std::int64_t raw);

// The error object of an error response. It can be thrown; its code stays a plain integer
// so codes outside the table survive reading and writing.
class JSONRPCError : public Error {
 public:
  JSONRPCError(std::int64_t code, std::string message, std::optional<Json> data = std::nullopt);
  JSONRPCError(JSONRPCErrorCode code, std::string message, std::optional<Json> data = std::nullopt)
      : JSONRPCError(static_cast<std::int64_t>(code), std::move(message), std::move(data)) {}

  static JSONRPCError parseError(std::string message) { return {JSONRPCErrorCode::parseError, std::move(message)}; }
  static JSONRPCError invalidRequest(std::string message) {
    return {JSONRPCErrorCode::invalidRequest, std::move(message)};
  }
  static JSONRPCError methodNotFound(const std::string& method) {
    return {JSONRPCErrorCode::methodNotFound, "Method not found: " + method};
  }
  static JSONRPCError invalidParams(std::string message) {
    return {JSONRPCErrorCode::invalidParams, std::move(message)};
  }
  static JSONRPCError internalError(std::string message) {
    return {JSONRPCErrorCode::internalError, std::move(message)};
  }

  std::int64_t code;
  std::string message;
  std::optional<Json> data;

  Json toJson() const;
  static JSONRPCError fromJson(const Json& value);
  friend bool operator==(const JSONRPCError& a, const JSONRPCError& b) {
    return a.code == b.code && a.message == b.message && a.data == b.data;
  }
};

struct JSONRPCRequest {
  std::string jsonrpc = jsonRPCVersion;
  RequestID id = RequestID::integer(0);
  std::string method;
  std::optional<Json> params;  // an object

  JSONRPCRequest() = default;
  JSONRPCRequest(RequestID id, std::string method, std::optional<Json> params = std::nullopt)
      : id(std::move(id)), method(std::move(method)), params(std::move(params)) {}
  Json toJson() const;
  static JSONRPCRequest fromJson(const Json& value);
  bool operator==(const JSONRPCRequest&) const = default;
};

struct JSONRPCNotification {
  std::string jsonrpc = jsonRPCVersion;
  std::string method;
  std::optional<Json> params;  // an object

  JSONRPCNotification() = default;
  explicit JSONRPCNotification(std::string method, std::optional<Json> params = std::nullopt)
      : method(std::move(method)), params(std::move(params)) {}
  Json toJson() const;
  static JSONRPCNotification fromJson(const Json& value);
  bool operator==(const JSONRPCNotification&) const = default;
};

struct JSONRPCResponse {
  std::string jsonrpc = jsonRPCVersion;
  RequestID id = RequestID::integer(0);
  Json result;  // null when the result is absent; always written

  JSONRPCResponse() = default;
  JSONRPCResponse(RequestID id, Json result) : id(std::move(id)), result(std::move(result)) {}
  Json toJson() const;
  static JSONRPCResponse fromJson(const Json& value);
  bool operator==(const JSONRPCResponse&) const = default;
};

struct JSONRPCErrorResponse {
  std::string jsonrpc = jsonRPCVersion;
  std::optional<RequestID> id;
  JSONRPCError error{0, ""};

  JSONRPCErrorResponse() = default;
  JSONRPCErrorResponse(std::optional<RequestID> id, JSONRPCError error) : id(std::move(id)), error(std::move(error)) {}
  Json toJson() const;
  static JSONRPCErrorResponse fromJson(const Json& value);
  bool operator==(const JSONRPCErrorResponse&) const = default;
};

struct JSONRPCMessage {
  std::variant<JSONRPCRequest, JSONRPCNotification, JSONRPCResponse, JSONRPCErrorResponse> value;

  // Reads one received JSON text. Malformed text, a non-object and members of the wrong
  // kind fail with the reader's error (JsonParseError, DecodingError); a missing or wrong
  // version and an undeterminable shape fail with JSONRPCError -32600.
  static JSONRPCMessage parse(std::string_view text);
  // The same reading of a value already parsed.
  static JSONRPCMessage fromJson(const Json& raw);
  // Compact JSON text without a line terminator.
  std::string encode() const;
  bool operator==(const JSONRPCMessage&) const = default;
};

}  // namespace qd

template <>
struct std::hash<qd::RequestID> {
  std::size_t operator()(const qd::RequestID& id) const noexcept { return id.hash(); }
};
