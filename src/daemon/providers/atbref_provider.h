#pragma once

// The "atbref" tool: help, a small list of reference topics, and pages of the public
// Tinderbox reference site fetched on demand and reduced to plain text. Nothing is
// cached; each fetch runs on the blocking pool.

#include <chrono>
#include <string>

#include "daemon/core/tool_provider.h"
#include "daemon/runtime/blocking_pool.h"

namespace qd {

struct ATBRefSite {
  std::string host = "www.acrobatfaq.com";
  // An http(s) URL on `host`, ending in "/"; a page URL is this followed by the page's path.
  std::string baseURL = "https://www.acrobatfaq.com/atbref11/index/";
  std::chrono::milliseconds fetchTimeout = std::chrono::seconds(60);
};

class ATBRefProvider final : public ToolProvider {
 public:
  static constexpr const char* operatorsPath = "Action_Codes/Operators/Full_Operator_List.html";
  static constexpr const char* attributesPath = "System_Attributes/System_Attribute_List.html";
  static constexpr const char* designatorsPath = "Action_Codes/Action_Code/Designators.html";
  static constexpr const char* dateFormatsPath = "Dates_and_Intervals/Date_Formats.html";

  ATBRefProvider(BlockingPool& pool, ATBRefSite site = {}) : pool_(pool), site_(std::move(site)) {}

  std::string providerID() const override { return "atbref"; }
  std::vector<MCPTool> tools() const override;
  FeatureTier featureTier() const override { return FeatureTier::beta; }
  OperationsMap availableOperations() const override;
  bool canHandle(std::string_view toolName) const override { return toolName == "atbref"; }
  // A failed fetch fails the call (ProviderError with the transfer's text); every other
  // answer, refusals included, is a text result.
  asio::awaitable<std::optional<Json>> handle(std::string toolName, std::string clientId, Json arguments) override;

 private:
  asio::awaitable<Json> handleATBRef(Json arguments);
  asio::awaitable<std::string> fetchAndStrip(std::string url);
  asio::awaitable<std::string> lookup(const Json& arguments, std::string path, std::string label);
  std::string helpText() const;

  BlockingPool& pool_;
  ATBRefSite site_;
};

}  // namespace qd
