#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "daemon/utilities/json.h"

namespace qd {

// Whether a call reads or writes. One enumeration serves both the tool settings' category
// policies and the agents' category permissions.
enum class ToolCapability { read, write };

std::string toString(ToolCapability capability);  // "read", "write"
// Exactly "read" or "write"; anything else is none.
std::optional<ToolCapability> toolCapabilityFromString(std::string_view raw);

// A category's read and write permission in the tool settings.
struct CategoryPolicy {
  bool read = true;
  bool write = true;

  bool allows(ToolCapability capability) const { return capability == ToolCapability::read ? read : write; }

  // Both "read" and "write" are required Booleans; throws DecodingError otherwise.
  static CategoryPolicy fromJson(const Json& json);
  Json toJson() const;
  friend bool operator==(const CategoryPolicy&, const CategoryPolicy&) = default;
};

using CategoryPolicyMap = std::map<std::string, CategoryPolicy, std::less<>>;

// A limit of the settings that is never below 1: constructing or assigning 0 or a negative
// number gives 1, so no reader ever sees an empty queue capacity or zero concurrent jobs.
class AtLeastOne {
 public:
  constexpr AtLeastOne(std::int64_t value) : value_(std::max<std::int64_t>(value, 1)) {}  // NOLINT: implicit
  constexpr operator std::int64_t() const { return value_; }                                  // NOLINT: implicit
  constexpr std::int64_t value() const { return value_; }
  friend constexpr bool operator==(AtLeastOne a, std::int64_t b) { return a.value_ == b; }
  friend constexpr bool operator==(AtLeastOne a, AtLeastOne b) { return a.value_ == b.value_; }

 private:
  std::int64_t value_;
};

// The helper tools that have a switch from the start, with their initial state.
const std::map<std::string, bool, std::less<>>& defaultHelperToolTable();

// The user's persisted configuration of the router's tools and features (tool-settings.json).
// A default-constructed record holds the defaults; the JSON keys are the field names.
struct ToolSettings {
  std::map<std::string, bool, std::less<>> helperToolEnabled = defaultHelperToolTable();
  // Keyed "<tool>.<operation>" by the settings window; kept and returned unchanged.
  std::map<std::string, bool, std::less<>> operationEnabled;
  bool requireExplicitToolEnable = false;
  bool allowBroadcastNotifications = true;
  AtLeastOne maxNotificationItems = 1000;
  AtLeastOne maxConcurrentJobs = 2;
  bool enableLogging = true;
  bool enableMessaging = true;
  bool enableAgentCoordination = true;
  bool enableHookSync = true;
  bool enableTinderboxPassthroughTools = true;
  bool enableToolCallLogging = false;
  bool logToolCallsToFile = true;
  bool logToolCallsToTinderbox = false;
  bool enableCustomToolManifests = false;
  std::vector<std::string> customToolManifestDirectories;
  AtLeastOne maxCustomTools = 25;
  CategoryPolicyMap defaultCategoryPolicy;
  std::map<std::string, CategoryPolicyMap, std::less<>> clientCategoryPolicy;
  std::map<std::string, CategoryPolicyMap, std::less<>> agentCategoryPolicy;
  // Keyed by client id + "|" + agent name.
  std::map<std::string, CategoryPolicyMap, std::less<>> clientAgentCategoryPolicy;

  // The tool's own switch when it has one; otherwise on unless explicit enabling is required.
  bool isEnabled(std::string_view toolName) const;

  // The most specific policy that names the category: client and agent together, then the
  // client, then the agent, then the default map; read and write when none does. A map
  // that exists for the client or agent but lacks the category does not end the search.
  CategoryPolicy categoryPolicy(const std::optional<std::string>& clientId, const std::optional<std::string>& agentName,
                                std::string_view category) const;
  bool allows(const std::optional<std::string>& clientId, const std::optional<std::string>& agentName,
              std::string_view category, ToolCapability capability) const;

  // Missing or null keys take their defaults, a value of the wrong kind fails the whole
  // decode (DecodingError), unknown keys are ignored; then the limits are raised to 1, an
  // old "only calendar required" file is migrated, and missing default tools are added.
  static ToolSettings fromJson(const Json& json);
  // All 21 keys, always.
  Json toJson() const;

  friend bool operator==(const ToolSettings&, const ToolSettings&) = default;
};

}  // namespace qd
