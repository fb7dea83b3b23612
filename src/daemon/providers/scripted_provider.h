#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "daemon/core/tool_provider.h"
#include "daemon/providers/script_runner.h"

namespace qd {

// What the providers of one scripted tool share: their record (identifier and tier), the
// one tool name they answer, and the runner their scripts and permission preflights go
// through.
class ScriptedToolProvider : public ToolProvider {
 public:
  std::string providerID() const final { return providerID_; }
  FeatureTier featureTier() const final { return tier_; }
  bool canHandle(std::string_view toolName) const final { return toolName == toolName_; }

 protected:
  ScriptedToolProvider(std::string toolName, std::string providerID, FeatureTier tier,
                       std::shared_ptr<ScriptRunner> runner)
      : toolName_(std::move(toolName)), providerID_(std::move(providerID)), tier_(tier), runner_(std::move(runner)) {}

  ScriptRunner& runner() const { return *runner_; }

 private:
  std::string toolName_;
  std::string providerID_;
  FeatureTier tier_;
  std::shared_ptr<ScriptRunner> runner_;
};

}  // namespace qd
