#include "daemon/mcp/mcp_error.h"

namespace qd {

MCPError MCPError::serverError(std::int64_t code, const std::string& message) {
  return {Kind::serverError, "MCP server error [" + std::to_string(code) + "]: " + message, code};
}
MCPError MCPError::timeout(const std::string& method) { return {Kind::timeout, "MCP request timed out: " + method}; }
MCPError MCPError::invalidResponse(const std::string& text) {
  return {Kind::invalidResponse, "Invalid MCP response: " + text};
}
MCPError MCPError::protocolError(const std::string& text) { return {Kind::protocolError, "MCP protocol error: " + text}; }
MCPError MCPError::notInitialized() { return {Kind::notInitialized, "MCP client not initialized"}; }

}  // namespace qd
