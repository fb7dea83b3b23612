#include "daemon/admin/admin_protocol.h"

#include <filesystem>

namespace qd::DaemonAdminXPCProtocol {
namespace {

// parseJson keeps every integer that fits 64 bits as a signed integer, so "an integer" is
// exactly that kind; 1.0, true and "1" are not ids.
std::optional<std::int64_t> integerMember(const Json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_number_integer()) return std::nullopt;
  if (it->is_number_unsigned()) return std::nullopt;  // not produced by parseJson; kept out anyway
  return it->get<std::int64_t>();
}

}  // namespace

std::variant<Request, Malformed> parseRequest(std::string_view line) {
  Json value;
  try {
    value = parseJson(line);
  } catch (const JsonParseError&) {
    return Malformed{};
  }
  if (!value.is_object()) return Malformed{};
  const std::optional<std::int64_t> id = integerMember(value, "id");
  const auto method = value.find("method");
  if (!id || method == value.end() || !method->is_string()) return Malformed{id};
  Request request{*id, method->get<std::string>(), std::nullopt};
  if (const auto params = value.find("params"); params != value.end() && !params->is_null()) {
    request.params = *params;
  }
  return request;
}

std::string encodeRequest(std::int64_t id, std::string_view method, const std::optional<Json>& params) {
  Json request = Json::object();
  request["id"] = id;
  request["method"] = std::string(method);
  if (params) request["params"] = *params;
  return dumpJson(request);
}

std::string encodeResult(std::int64_t id, const Json& result) {
  Json reply = Json::object();
  reply["id"] = id;
  reply["result"] = result;
  return dumpJson(withSortedKeys(reply));
}

std::string encodeError(std::optional<std::int64_t> id, std::string_view text) {
  Json reply = Json::object();
  reply["error"] = std::string(text);
  reply["id"] = id ? Json(*id) : Json(nullptr);
  return dumpJson(reply);  // written in sorted order already
}

Reply parseReply(std::string_view line) {
  const Json value = parseJson(line);
  Reply reply;
  if (!value.is_object()) return reply;
  reply.id = integerMember(value, "id");
  if (const auto result = value.find("result"); result != value.end() && !result->is_null()) reply.result = *result;
  if (const auto error = value.find("error"); error != value.end() && error->is_string()) {
    reply.error = error->get<std::string>();
  }
  return reply;
}

std::string socketPathBeside(const std::string& daemonSocketPath) {
  return (std::filesystem::path(daemonSocketPath).parent_path() / socketFileName).string();
}

}  // namespace qd::DaemonAdminXPCProtocol
