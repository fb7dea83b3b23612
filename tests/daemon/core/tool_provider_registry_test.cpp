#include "daemon/core/tool_provider_registry.h"

#include <gtest/gtest.h>

namespace qd {
namespace {

class FakeProvider final : public ToolProvider {
 public:
  FakeProvider(std::string id, FeatureTier tier, std::vector<std::string> toolNames, OperationsMap operations = {})
      : id_(std::move(id)), tier_(tier), toolNames_(std::move(toolNames)), operations_(std::move(operations)) {}

  std::string providerID() const override { return id_; }
  std::vector<MCPTool> tools() const override {
    ++toolReads;
    std::vector<MCPTool> tools;
    for (const auto& name : toolNames_) tools.push_back(MCPTool{name, std::nullopt, {}});
    return tools;
  }
  FeatureTier featureTier() const override { return tier_; }
  OperationsMap availableOperations() const override { return operations_; }
  bool canHandle(std::string_view toolName) const override {
    return std::find(toolNames_.begin(), toolNames_.end(), toolName) != toolNames_.end();
  }
  asio::awaitable<std::optional<Json>> handle(std::string, std::string, Json) override { co_return std::nullopt; }

  mutable int toolReads = 0;

 private:
  std::string id_;
  FeatureTier tier_;
  std::vector<std::string> toolNames_;
  OperationsMap operations_;
};

std::vector<std::string> names(const std::vector<MCPTool>& tools) {
  std::vector<std::string> out;
  for (const auto& tool : tools) out.push_back(tool.name);
  return out;
}

ToolProviderRegistry sampleRegistry(FeatureTier threshold) {
  ToolProviderRegistry registry;
  registry.tierThreshold = threshold;
  registry.providers = {
      std::make_shared<FakeProvider>("atbref", FeatureTier::beta, std::vector<std::string>{"atbref"},
                                     OperationsMap{{"atbref", {"lookup", "help"}}}),
      std::make_shared<FakeProvider>("notes", FeatureTier::dev, std::vector<std::string>{"notes", "shared"},
                                     OperationsMap{{"notes", {"list"}}, {"shared", {"old"}}}),
      std::make_shared<FakeProvider>("time-server", FeatureTier::beta, std::vector<std::string>{}),
      std::make_shared<FakeProvider>("tinderbox", FeatureTier::release,
                                     std::vector<std::string>{"tbx_nav", "shared"},
                                     OperationsMap{{"tbx_nav", {"open"}}, {"shared", {"new"}}}),
  };
  return registry;
}

TEST(ToolProviderRegistryTest, DiscoverToolsKeepsProvidersAtOrBelowTheThresholdInOrder) {
  const std::vector<std::pair<FeatureTier, std::vector<std::string>>> cases = {
      {FeatureTier::release, {"tbx_nav", "shared"}},
      {FeatureTier::beta, {"atbref", "tbx_nav", "shared"}},
      // Nothing is de-duplicated: both "shared" tools appear, the earlier first.
      {FeatureTier::dev, {"atbref", "notes", "shared", "tbx_nav", "shared"}},
  };
  for (const auto& [threshold, expected] : cases) {
    SCOPED_TRACE(toString(threshold));
    EXPECT_EQ(names(sampleRegistry(threshold).discoverTools()), expected);
  }
}

TEST(ToolProviderRegistryTest, EmptyRegistryOrAllProvidersAboveTheThresholdYieldNothing) {
  EXPECT_TRUE(ToolProviderRegistry{}.discoverTools().empty());
  ToolProviderRegistry registry;
  registry.providers = {std::make_shared<FakeProvider>("dev-only", FeatureTier::dev, std::vector<std::string>{"x"})};
  EXPECT_TRUE(registry.discoverTools().empty());
}

TEST(ToolProviderRegistryTest, EachKeptProviderToolsAreReadOnce) {
  auto kept = std::make_shared<FakeProvider>("a", FeatureTier::release, std::vector<std::string>{"a1", "a2"});
  auto hidden = std::make_shared<FakeProvider>("b", FeatureTier::dev, std::vector<std::string>{"b1"});
  ToolProviderRegistry registry{{kept, hidden}, FeatureTier::release};
  registry.discoverTools();
  EXPECT_EQ(kept->toolReads, 1);
  EXPECT_EQ(hidden->toolReads, 0);
}

TEST(ToolProviderRegistryTest, OperationsMapReadsEveryProviderWhateverItsTierLaterEntriesWin) {
  const OperationsMap expected = {
      {"atbref", {"lookup", "help"}}, {"notes", {"list"}}, {"shared", {"new"}}, {"tbx_nav", {"open"}}};
  EXPECT_EQ(sampleRegistry(FeatureTier::release).buildOperationsMap(), expected);
}

}  // namespace
}  // namespace qd
