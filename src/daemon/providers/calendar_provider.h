#pragma once

#include <memory>
#include <optional>
#include <string>

#include "daemon/core/tool_provider.h"
#include "daemon/providers/icu_time.h"
#include "daemon/utilities/clock.h"
#include "platform/calendar_store.h"

namespace qd {

// The "calendar" tool over the user's calendar store: the coming week's events, a search
// over three years, creating an event and fetching one by identifier. Every call makes
// its own store and checks full access first (argument problems are answered before
// that); replies are pretty JSON with sorted keys.
class CalendarToolProvider final : public ToolProvider {
 public:
  CalendarToolProvider(std::string providerID, FeatureTier tier, platform::CalendarStoreFactory stores,
                       const Clock& clock = Clock::system())
      : providerID_(std::move(providerID)), tier_(tier), stores_(std::move(stores)), clock_(clock) {}

  std::string providerID() const override { return providerID_; }
  std::vector<MCPTool> tools() const override;
  FeatureTier featureTier() const override { return tier_; }
  OperationsMap availableOperations() const override;
  bool canHandle(std::string_view toolName) const override { return toolName == "calendar"; }
  asio::awaitable<std::optional<Json>> handle(std::string toolName, std::string clientId, Json arguments) override;

  // ISO 8601 with or without fractional seconds ("2026-02-23T09:30:00Z",
  // "2026-02-23T09:30:00.250-04:00"), or "yyyy-MM-dd HH:mm:ss" in the local zone.
  static std::optional<icutime::WallTime> parseDate(const std::string& text);
  static const std::string& helpText();

 private:
  asio::awaitable<Json> handleCalendar(Json arguments);
  asio::awaitable<std::unique_ptr<platform::CalendarStore>> eventStoreWithAccess();
  asio::awaitable<Json> list(Json arguments);
  asio::awaitable<Json> search(Json arguments);
  asio::awaitable<Json> create(Json arguments);
  asio::awaitable<Json> open(Json arguments);

  std::string providerID_;
  FeatureTier tier_;
  platform::CalendarStoreFactory stores_;
  const Clock& clock_;
};

}  // namespace qd
