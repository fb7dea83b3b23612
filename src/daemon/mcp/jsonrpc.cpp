#include "daemon/mcp/jsonrpc.h"

#include "daemon/utilities/any_codable.h"
#include "daemon/utilities/json_codec.h"
#include "daemon/utilities/unicode_text.h"

namespace qd {

using namespace codec;

std::optional<std::int64_t> RequestID::integerPayload() const {
  if (const auto* i = std::get_if<std::int64_t>(&value_)) return *i;
  return std::nullopt;
}

std::string RequestID::description() const {
  if (const auto* s = stringPayload()) return *s;
  return std::to_string(std::get<std::int64_t>(value_));
}

Json RequestID::toJson() const {
  if (const auto* s = stringPayload()) return Json(*s);
  return Json(std::get<std::int64_t>(value_));
}

RequestID RequestID::fromJson(const Json& value) {
  if (auto i = intValue(value)) return integer(*i);
  if (value.is_string()) return string(value.get<std::string>());
  throw DecodingError(DecodingError::Kind::typeMismatch, "Request ID must be a string or integer");
}

bool operator==(const RequestID& a, const RequestID& b) {
  if (a.value_.index() != b.value_.index()) return false;
  if (const auto* s = a.stringPayload()) return unicode::canonicallyEqual(*s, *b.stringPayload());
  return a.value_ == b.value_;
}

std::size_t RequestID::hash() const {
  if (const auto* s = stringPayload()) return std::hash<std::string>{}(unicode::normalizedNFC(*s)) ^ 0x9e3779b9u;
  return std::hash<std::int64_t>{}(std::get<std::int64_t>(value_));
}

std::optional<JSONRPCErrorCode> jsonRPCErrorCodeFromRaw(std::int64_t raw) {
  switch (static_cast<JSONRPCErrorCode>(raw)) {
    case JSONRPCErrorCode::parseError:
    case JSONRPCErrorCode::invalidRequest:
    case JSONRPCErrorCode::methodNotFound:
    case JSONRPCErrorCode::invalidParams:
    case JSONRPCErrorCode::internalError:
    case JSONRPCErrorCode::serverError: return static_cast<JSONRPCErrorCode>(raw);
  }
  return std::nullopt;
}

// The description is deliberately generic: callers that want the peer's words read
// `message`, and the MCP client builds its own text from code and message.
JSONRPCError::JSONRPCError(std::int64_t code, std::string message, std::optional<Json> data)
    : Error("JSON-RPC error " + std::to_string(code)), code(code), message(std::move(message)), data(std::move(data)) {}

Json JSONRPCError::toJson() const {
  Json out = {{"code", code}, {"message", message}};
  putOptional(out, "data", data);
  return out;
}

JSONRPCError JSONRPCError::fromJson(const Json& value) {
  expectObject(value, "a JSON-RPC error");
  return {requiredInt(value, "code"), requiredString(value, "message"), optionalValue(value, "data")};
}

namespace {

std::optional<Json> optionalParams(const Json& value) { return optionalObject(value, "params"); }

void putParams(Json& out, const std::optional<Json>& params) {
  if (params) {
    ensureEncodable(*params);
    out["params"] = *params;
  }
}

}  // namespace

Json JSONRPCRequest::toJson() const {
  Json out = {{"jsonrpc", jsonrpc}, {"id", id.toJson()}, {"method", method}};
  putParams(out, params);
  return out;
}

JSONRPCRequest JSONRPCRequest::fromJson(const Json& value) {
  expectObject(value, "a JSON-RPC request");
  JSONRPCRequest r;
  r.jsonrpc = requiredString(value, "jsonrpc");
  r.id = RequestID::fromJson(requiredMember(value, "id"));
  r.method = requiredString(value, "method");
  r.params = optionalParams(value);
  return r;
}

Json JSONRPCNotification::toJson() const {
  Json out = {{"jsonrpc", jsonrpc}, {"method", method}};
  putParams(out, params);
  return out;
}

JSONRPCNotification JSONRPCNotification::fromJson(const Json& value) {
  expectObject(value, "a JSON-RPC notification");
  JSONRPCNotification n;
  n.jsonrpc = requiredString(value, "jsonrpc");
  n.method = requiredString(value, "method");
  n.params = optionalParams(value);
  return n;
}

Json JSONRPCResponse::toJson() const {
  ensureEncodable(result);
  return {{"jsonrpc", jsonrpc}, {"id", id.toJson()}, {"result", result}};
}

JSONRPCResponse JSONRPCResponse::fromJson(const Json& value) {
  expectObject(value, "a JSON-RPC response");
  JSONRPCResponse r;
  r.jsonrpc = requiredString(value, "jsonrpc");
  r.id = RequestID::fromJson(requiredMember(value, "id"));
  r.result = requiredMember(value, "result");
  return r;
}

Json JSONRPCErrorResponse::toJson() const {
  Json out = {{"jsonrpc", jsonrpc}};
  if (id) out["id"] = id->toJson();
  if (error.data) ensureEncodable(*error.data);
  out["error"] = error.toJson();
  return out;
}

JSONRPCErrorResponse JSONRPCErrorResponse::fromJson(const Json& value) {
  expectObject(value, "a JSON-RPC error response");
  JSONRPCErrorResponse r;
  r.jsonrpc = requiredString(value, "jsonrpc");
  if (const Json* id = member(value, "id")) r.id = RequestID::fromJson(*id);
  r.error = JSONRPCError::fromJson(requiredMember(value, "error"));
  return r;
}

JSONRPCMessage JSONRPCMessage::parse(std::string_view text) { return fromJson(parseJson(text)); }

JSONRPCMessage JSONRPCMessage::fromJson(const Json& raw) {
  expectObject(raw, "a JSON-RPC message");

  // Every member is optional here and null counts as missing; members are read in this
  // order so that the first wrong kind is the one reported.
  const auto jsonrpc = optionalString(raw, "jsonrpc");
  std::optional<RequestID> id;
  if (const Json* m = member(raw, "id")) id = RequestID::fromJson(*m);
  const auto method = optionalString(raw, "method");
  const auto params = optionalParams(raw);
  const auto result = optionalValue(raw, "result");
  std::optional<JSONRPCError> error;
  if (const Json* m = member(raw, "error")) error = JSONRPCError::fromJson(*m);

  if (!jsonrpc || *jsonrpc != jsonRPCVersion) {
    throw JSONRPCError(JSONRPCErrorCode::invalidRequest, "Missing or invalid jsonrpc version");
  }
  if (error) return {JSONRPCErrorResponse(std::move(id), std::move(*error))};
  if (result && id) return {JSONRPCResponse(std::move(*id), std::move(*result))};
  if (!method) throw JSONRPCError(JSONRPCErrorCode::invalidRequest, "Cannot determine message type");
  if (!id) return {JSONRPCNotification(std::move(*method), params)};
  return {JSONRPCRequest(std::move(*id), std::move(*method), params)};
}

std::string JSONRPCMessage::encode() const {
  return std::visit([](const auto& record) { return dumpJson(record.toJson()); }, value);
}

}  // namespace qd
