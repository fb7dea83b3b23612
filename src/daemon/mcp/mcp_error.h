#pragma once

#include <cstdint>
#include <string>

#include "daemon/utilities/error.h"

namespace qd {

// The MCP client's errors; the description is the text callers show.
class MCPError : public Error {
 public:
  enum class Kind { serverError, timeout, invalidResponse, protocolError, notInitialized };

  // "MCP server error [<code>]: <message>"
  static MCPError serverError(std::int64_t code, const std::string& message);
  // "MCP request timed out: <method>"
  static MCPError timeout(const std::string& method);
  // "Invalid MCP response: <text>"
  static MCPError invalidResponse(const std::string& text);
  // "MCP protocol error: <text>"
  static MCPError protocolError(const std::string& text);
  // "MCP client not initialized"
  static MCPError notInitialized();

  Kind kind() const { return kind_; }
  std::int64_t code() const { return code_; }  // serverError only

 private:
  MCPError(Kind kind, std::string description, std::int64_t code = 0)
      : Error(std::move(description)), kind_(kind), code_(code) {}
  Kind kind_;
  std::int64_t code_;
};

}  // namespace qd
