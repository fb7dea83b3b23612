#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <asio/awaitable.hpp>

#include "daemon/config/feature_tier.h"
#include "daemon/mcp/mcp_types.h"
#include "daemon/utilities/json.h"

namespace qd {

// Tool name -> the operation names that tool accepts in its "operation" argument.
using OperationsMap = std::map<std::string, std::vector<std::string>>;

// One application or service whose tools the daemon answers in-process. The daemon lists
// their tools, learns their operations, asks who accepts a name and hands the call over.
// Providers live on the io thread.
class ToolProvider {
 public:
  virtual ~ToolProvider() = default;

  // The provider's identifier ("atbref", "bookends", "tinderbox", ...).
  virtual std::string providerID() const = 0;
  // The tools offered, in the provider's own order; may be computed on every read.
  virtual std::vector<MCPTool> tools() const = 0;
  // The lowest tier in which the tools are offered.
  virtual FeatureTier featureTier() const = 0;
  // For the tools that take an "operation" argument, the operations each accepts.
  virtual OperationsMap availableOperations() const = 0;
  // Whether this provider answers calls of that tool name.
  virtual bool canHandle(std::string_view toolName) const = 0;
  // Runs one call; `arguments` is an object. The result is an MCP tool result object
  // ({"content": [...]} with an optional "isError"), or none when the call was not
  // answered here, so later providers may try. Failures are thrown.
  virtual asio::awaitable<std::optional<Json>> handle(std::string toolName, std::string clientId, Json arguments) = 0;
};

}  // namespace qd
