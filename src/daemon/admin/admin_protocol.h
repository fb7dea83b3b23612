#pragma once

// The line protocol of the admin socket, shared by the daemon's admin server and the tray
// application's client. One JSON object per line each way:
//   request  {"id": <integer>, "method": <string>, "params": <object, optional>}
//   reply    {"id": <the request's id>, "result": <object>}  or  {"id": ..., "error": <text>}
// Replies are written compactly with their keys sorted at every depth, so the same answer
// is always the same bytes. Several requests may be in flight on one connection; a reply
// names its request by id and replies may come in any order.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "daemon/utilities/json.h"

namespace qd {

namespace DaemonAdminXPCProtocol {

inline constexpr const char* socketFileName = "admin.sock";
inline constexpr const char* invalidRequestText = "Invalid admin request";
// The detail of the invalid-parameter error for "params" that is not an object.
inline constexpr const char* invalidParamsDetail = "Invalid admin params JSON";

// A well-formed request. `params` is none when the member is missing or null.
struct Request {
  std::int64_t id = 0;
  std::string method;
  std::optional<Json> params;  // any JSON value but null; the service checks it is an object
};

// A line that is not a request: the reply to give is an error with this id (none: null).
struct Malformed {
  std::optional<std::int64_t> id;
};

// Reads one request line. A line that is not a JSON object with an integer "id" and a
// string "method" is Malformed, carrying the id when it is an integer.
std::variant<Request, Malformed> parseRequest(std::string_view line);

// The request line for a client (without its line feed); params left out when none.
std::string encodeRequest(std::int64_t id, std::string_view method, const std::optional<Json>& params);

// Reply lines (without their line feed), compact with sorted keys.
std::string encodeResult(std::int64_t id, const Json& result);
std::string encodeError(std::optional<std::int64_t> id, std::string_view text);

// A reply as a client reads it. Parsing fails (JsonParseError) only for text that is not
// JSON; the client decides what a reply without a usable member means.
struct Reply {
  std::optional<std::int64_t> id;
  std::optional<Json> result;        // present and not null
  std::optional<std::string> error;  // present and a string
};
Reply parseReply(std::string_view line);

// The admin socket beside the daemon's socket.
std::string socketPathBeside(const std::string& daemonSocketPath);

}  // namespace DaemonAdminXPCProtocol

}  // namespace qd
