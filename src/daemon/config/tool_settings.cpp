#include "daemon/config/tool_settings.h"

#include "daemon/utilities/json_codec.h"

namespace qd {
namespace {

using BoolMap = std::map<std::string, bool, std::less<>>;
using PolicyMaps = std::map<std::string, CategoryPolicyMap, std::less<>>;

BoolMap readBoolMap(const Json& object, std::string_view key) {
  BoolMap out;
  for (const auto& [name, value] : codec::asObject(object, key).items()) out[name] = codec::asBool(value, name);
  return out;
}

CategoryPolicyMap readPolicyMap(const Json& object, std::string_view key) {
  CategoryPolicyMap out;
  for (const auto& [category, value] : codec::asObject(object, key).items()) {
    out[category] = CategoryPolicy::fromJson(value);
  }
  return out;
}

PolicyMaps readNestedPolicyMaps(const Json& object, std::string_view key) {
  PolicyMaps out;
  for (const auto& [owner, value] : codec::asObject(object, key).items()) out[owner] = readPolicyMap(value, owner);
  return out;
}

Json policyMapJson(const CategoryPolicyMap& map) {
  Json out = Json::object();
  for (const auto& [category, policy] : map) out[category] = policy.toJson();
  return out;
}

Json nestedPolicyMapsJson(const PolicyMaps& maps) {
  Json out = Json::object();
  for (const auto& [owner, map] : maps) out[owner] = policyMapJson(map);
  return out;
}

const CategoryPolicy* findPolicy(const PolicyMaps& maps, std::string_view owner, std::string_view category) {
  auto outer = maps.find(owner);
  if (outer == maps.end()) return nullptr;
  auto inner = outer->second.find(category);
  return inner == outer->second.end() ? nullptr : &inner->second;
}

}  // namespace

std::string toString(ToolCapability capability) { return capability == ToolCapability::read ? "read" : "write"; }

std::optional<ToolCapability> toolCapabilityFromString(std::string_view raw) {
  if (raw == "read") return ToolCapability::read;
  if (raw == "write") return ToolCapability::write;
  return std::nullopt;
}

CategoryPolicy CategoryPolicy::fromJson(const Json& json) {
  codec::expectObject(json, "CategoryPolicy");
  return CategoryPolicy{codec::requiredBool(json, "read"), codec::requiredBool(json, "write")};
}

Json CategoryPolicy::toJson() const { return Json{{"read", read}, {"write", write}}; }

const std::map<std::string, bool, std::less<>>& defaultHelperToolTable() {
  static const std::map<std::string, bool, std::less<>> table{
      {"calendar", false}, {"tasks", false},  {"workstreams", false}, {"jobs", false},
      {"print_document", false}, {"tbx_nav", true}, {"tbx_doc", true},      {"tbx_export", false},
  };
  return table;
}

bool ToolSettings::isEnabled(std::string_view toolName) const {
  if (auto it = helperToolEnabled.find(toolName); it != helperToolEnabled.end()) return it->second;
  return !requireExplicitToolEnable;
}

CategoryPolicy ToolSettings::categoryPolicy(const std::optional<std::string>& clientId,
                                            const std::optional<std::string>& agentName,
                                            std::string_view category) const {
  if (clientId && agentName) {
    if (auto* p = findPolicy(clientAgentCategoryPolicy, *clientId + "|" + *agentName, category)) return *p;
  }
  if (clientId) {
    if (auto* p = findPolicy(clientCategoryPolicy, *clientId, category)) return *p;
  }
  if (agentName) {
    if (auto* p = findPolicy(agentCategoryPolicy, *agentName, category)) return *p;
  }
  if (auto it = defaultCategoryPolicy.find(category); it != defaultCategoryPolicy.end()) return it->second;
  return CategoryPolicy{true, true};
}

bool ToolSettings::allows(const std::optional<std::string>& clientId, const std::optional<std::string>& agentName,
                          std::string_view category, ToolCapability capability) const {
  return categoryPolicy(clientId, agentName, category).allows(capability);
}

ToolSettings ToolSettings::fromJson(const Json& json) {
  codec::expectObject(json, "ToolSettings");
  ToolSettings s;
  // A file without the key starts from an empty table; the defaults are added below,
  // after the migration has looked at what the file itself held.
  s.helperToolEnabled.clear();
  if (const Json* m = codec::member(json, "helperToolEnabled")) s.helperToolEnabled = readBoolMap(*m, "helperToolEnabled");
  if (const Json* m = codec::member(json, "operationEnabled")) s.operationEnabled = readBoolMap(*m, "operationEnabled");

  auto readBool = [&](const char* key, bool& field) {
    if (auto v = codec::optionalBool(json, key)) field = *v;
  };
  auto readLimit = [&](const char* key, AtLeastOne& field) {
    if (auto v = codec::optionalInt(json, key)) field = *v;
  };
  readBool("requireExplicitToolEnable", s.requireExplicitToolEnable);
  readBool("allowBroadcastNotifications", s.allowBroadcastNotifications);
  readLimit("maxNotificationItems", s.maxNotificationItems);
  readLimit("maxConcurrentJobs", s.maxConcurrentJobs);
  readBool("enableLogging", s.enableLogging);
  readBool("enableMessaging", s.enableMessaging);
  readBool("enableAgentCoordination", s.enableAgentCoordination);
  readBool("enableHookSync", s.enableHookSync);
  readBool("enableTinderboxPassthroughTools", s.enableTinderboxPassthroughTools);
  readBool("enableToolCallLogging", s.enableToolCallLogging);
  readBool("logToolCallsToFile", s.logToolCallsToFile);
  readBool("logToolCallsToTinderbox", s.logToolCallsToTinderbox);
  readBool("enableCustomToolManifests", s.enableCustomToolManifests);
  if (auto v = codec::optionalStringList(json, "customToolManifestDirectories")) s.customToolManifestDirectories = *v;
  readLimit("maxCustomTools", s.maxCustomTools);
  if (const Json* m = codec::member(json, "defaultCategoryPolicy")) {
    s.defaultCategoryPolicy = readPolicyMap(*m, "defaultCategoryPolicy");
  }
  if (const Json* m = codec::member(json, "clientCategoryPolicy")) {
    s.clientCategoryPolicy = readNestedPolicyMaps(*m, "clientCategoryPolicy");
  }
  if (const Json* m = codec::member(json, "agentCategoryPolicy")) {
    s.agentCategoryPolicy = readNestedPolicyMaps(*m, "agentCategoryPolicy");
  }
  if (const Json* m = codec::member(json, "clientAgentCategoryPolicy")) {
    s.clientAgentCategoryPolicy = readNestedPolicyMaps(*m, "clientAgentCategoryPolicy");
  }

  // Older versions shipped "explicit enabling required, calendar on" as their default;
  // such a file means the user never chose anything, so it becomes today's default.
  if (s.requireExplicitToolEnable && s.helperToolEnabled.size() == 1) {
    if (auto it = s.helperToolEnabled.find("calendar"); it != s.helperToolEnabled.end() && it->second) {
      s.requireExplicitToolEnable = false;
      it->second = false;
    }
  }
  for (const auto& [name, enabled] : defaultHelperToolTable()) s.helperToolEnabled.try_emplace(name, enabled);
  return s;
}

Json ToolSettings::toJson() const {
  Json helpers = Json::object();
  for (const auto& [name, on] : helperToolEnabled) helpers[name] = on;
  Json operations = Json::object();
  for (const auto& [name, on] : operationEnabled) operations[name] = on;
  Json directories = Json::array();
  for (const auto& d : customToolManifestDirectories) directories.push_back(d);
  return Json{
      {"helperToolEnabled", std::move(helpers)},
      {"operationEnabled", std::move(operations)},
      {"requireExplicitToolEnable", requireExplicitToolEnable},
      {"allowBroadcastNotifications", allowBroadcastNotifications},
      {"maxNotificationItems", maxNotificationItems.value()},
      {"maxConcurrentJobs", maxConcurrentJobs.value()},
      {"enableLogging", enableLogging},
      {"enableMessaging", enableMessaging},
      {"enableAgentCoordination", enableAgentCoordination},
      {"enableHookSync", enableHookSync},
      {"enableTinderboxPassthroughTools", enableTinderboxPassthroughTools},
      {"enableToolCallLogging", enableToolCallLogging},
      {"logToolCallsToFile", logToolCallsToFile},
      {"logToolCallsToTinderbox", logToolCallsToTinderbox},
      {"enableCustomToolManifests", enableCustomToolManifests},
      {"customToolManifestDirectories", std::move(directories)},
      {"maxCustomTools", maxCustomTools.value()},
      {"defaultCategoryPolicy", policyMapJson(defaultCategoryPolicy)},
      {"clientCategoryPolicy", nestedPolicyMapsJson(clientCategoryPolicy)},
      {"agentCategoryPolicy", nestedPolicyMapsJson(agentCategoryPolicy)},
      {"clientAgentCategoryPolicy", nestedPolicyMapsJson(clientAgentCategoryPolicy)},
  };
}

}  // namespace qd
