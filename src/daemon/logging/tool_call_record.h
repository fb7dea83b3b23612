#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "daemon/utilities/json.h"

namespace qd {

// One line of tool-calls.log: exactly nine keys. Readers parse the line as JSON; key order
// is not part of the format.
struct ToolCallRecord {
  // User-perceived characters of an error text that are kept.
  static constexpr std::size_t maxErrorCharacters = 500;

  std::int64_t timestamp = 0;  // whole milliseconds since 1970, truncated
  std::string clientId;
  std::string agent;     // the client's agent name, or its client id
  std::string tool;
  std::string category;  // the tool's application category
  std::int64_t durationMs = 0;
  bool success = false;
  std::optional<std::string> error;  // null in the line when absent
  Json arguments = Json::object();

  // The record of one finished call: the agent falls back to the client id, the category
  // comes from the tool name, the arguments are redacted (and become {} unless they are
  // an object), and a failure's error text is cut to 500 user-perceived characters without
  // splitting one; a success has no error.
  static ToolCallRecord make(std::chrono::system_clock::time_point now, const std::string& clientId,
                             const std::optional<std::string>& agentName, const std::string& toolName,
                             std::int64_t durationMs, bool success, const std::optional<std::string>& error,
                             const Json& arguments);

  Json toJson() const;
  // The compact JSON line, or none when an argument holds a value JSON cannot represent
  // (such a record is dropped). Invalid UTF-8 in a text is replaced, never a failure.
  std::optional<std::string> line() const;
};

}  // namespace qd
