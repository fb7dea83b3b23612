#pragma once

#include <memory>
#include <string>

#include "daemon/core/tool_provider.h"
#include "daemon/providers/script_runner.h"

namespace qd {

// The "bookends" tool: reads the front library window of Bookends through AppleScript
// (library name, selection, searches, publications as JSON, formatted references, groups,
// attachments, the PDF on display). Every call first runs the automation preflight; the
// write operations are listed but answered as not implemented.
class BookendsProvider final : public ToolProvider {
 public:
  BookendsProvider(std::string providerID, FeatureTier tier, std::shared_ptr<ScriptRunner> runner)
      : providerID_(std::move(providerID)), tier_(tier), runner_(std::move(runner)) {}

  std::string providerID() const override { return providerID_; }
  std::vector<MCPTool> tools() const override;
  FeatureTier featureTier() const override { return tier_; }
  OperationsMap availableOperations() const override;
  bool canHandle(std::string_view toolName) const override { return toolName == "bookends"; }
  asio::awaitable<std::optional<Json>> handle(std::string toolName, std::string clientId, Json arguments) override;

  // The reply for a script's output that should be a JSON array of objects: "Found n
  // <itemName>:" and the output, `emptyMessage` for an empty array, else the output as it is.
  static Json jsonArrayResult(const std::string& output, const std::string& emptyMessage, const std::string& itemName);

 private:
  asio::awaitable<Json> dispatch(std::string operation, Json arguments);
  asio::awaitable<std::string> runScript(std::vector<std::string> lines);

  std::string providerID_;
  FeatureTier tier_;
  std::shared_ptr<ScriptRunner> runner_;
};

}  // namespace qd
