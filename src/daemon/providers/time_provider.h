#pragma once

#include <string>

#include "daemon/core/tool_provider.h"
#include "daemon/utilities/clock.h"

namespace qd {

// time_now and time_convert: the current moment in one or two IANA time zones. Needs no
// application and no permission; answers unknown zones and a missing target zone with
// plain texts.
class TimeToolProvider final : public ToolProvider {
 public:
  TimeToolProvider(std::string providerID, FeatureTier tier, std::string defaultTimeZoneID,
                   const Clock& clock = Clock::system())
      : providerID_(std::move(providerID)), tier_(tier), defaultTimeZoneID_(std::move(defaultTimeZoneID)), clock_(clock) {}

  std::string providerID() const override { return providerID_; }
  std::vector<MCPTool> tools() const override;
  FeatureTier featureTier() const override { return tier_; }
  OperationsMap availableOperations() const override { return {}; }
  bool canHandle(std::string_view toolName) const override;
  asio::awaitable<std::optional<Json>> handle(std::string toolName, std::string clientId, Json arguments) override;

  // The reply texts.
  std::string formatNow(const std::string& timeZoneID) const;
  std::string convertNow(const std::string& from, const std::string& toTimeZoneID) const;
  static const std::string& helpText();

 private:
  std::string providerID_;
  FeatureTier tier_;
  std::string defaultTimeZoneID_;
  const Clock& clock_;
};

}  // namespace qd
