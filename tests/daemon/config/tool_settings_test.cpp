#include "daemon/config/tool_settings.h"

#include <gtest/gtest.h>

#include "daemon/utilities/json_codec.h"

namespace qd {
namespace {

ToolSettings decode(const char* text) { return ToolSettings::fromJson(parseJson(text)); }

TEST(ToolSettings, EmptyObjectAndDefaultConstructionAgree) {
  const ToolSettings decoded = decode("{}");
  EXPECT_EQ(decoded, ToolSettings());
  EXPECT_EQ(decoded.helperToolEnabled.size(), 8u);
  EXPECT_FALSE(decoded.isEnabled("calendar"));
  EXPECT_TRUE(decoded.isEnabled("tbx_nav"));
  EXPECT_TRUE(decoded.isEnabled("tbx_doc"));
  EXPECT_FALSE(decoded.isEnabled("tbx_export"));
  EXPECT_TRUE(decoded.isEnabled("notify"));  // no entry, explicit enabling not required
  EXPECT_EQ(decoded.maxNotificationItems, 1000);
  EXPECT_EQ(decoded.maxConcurrentJobs, 2);
  EXPECT_EQ(decoded.maxCustomTools, 25);
  EXPECT_TRUE(decoded.logToolCallsToFile);
  EXPECT_FALSE(decoded.enableToolCallLogging);
}

TEST(ToolSettings, HelperTableMigrationAndCompletion) {
  // The old "only calendar, explicitly" default becomes today's default.
  const ToolSettings migrated = decode(R"({"helperToolEnabled": {"calendar": true}, "requireExplicitToolEnable": true})");
  EXPECT_FALSE(migrated.requireExplicitToolEnable);
  EXPECT_EQ(migrated.helperToolEnabled, defaultHelperToolTable());

  // Two entries are a user's choice: kept, then completed with the six missing defaults.
  const ToolSettings chosen =
      decode(R"({"helperToolEnabled": {"calendar": true, "tasks": true}, "requireExplicitToolEnable": true})");
  EXPECT_TRUE(chosen.requireExplicitToolEnable);
  EXPECT_EQ(chosen.helperToolEnabled.size(), 8u);
  EXPECT_TRUE(chosen.isEnabled("calendar"));
  EXPECT_TRUE(chosen.isEnabled("tasks"));
  EXPECT_TRUE(chosen.isEnabled("tbx_nav"));
  EXPECT_FALSE(chosen.isEnabled("notify"));

  // Calendar alone but switched off, or not explicit: no migration.
  EXPECT_TRUE(decode(R"({"helperToolEnabled": {"calendar": false}, "requireExplicitToolEnable": true})")
                  .requireExplicitToolEnable);
  EXPECT_TRUE(decode(R"({"helperToolEnabled": {"calendar": true}})").isEnabled("calendar"));

  const ToolSettings kept = decode(R"({"helperToolEnabled": {"tbx_nav": false, "notify": true}})");
  EXPECT_EQ(kept.helperToolEnabled.size(), 9u);
  EXPECT_FALSE(kept.isEnabled("tbx_nav"));
  EXPECT_TRUE(kept.isEnabled("notify"));
  EXPECT_TRUE(kept.isEnabled("tbx_doc"));
}

TEST(ToolSettings, LimitsAreNeverBelowOne) {
  const ToolSettings decoded = decode(R"({"maxNotificationItems": 0, "maxConcurrentJobs": -3, "maxCustomTools": 7})");
  EXPECT_EQ(decoded.maxNotificationItems, 1);
  EXPECT_EQ(decoded.maxConcurrentJobs, 1);
  EXPECT_EQ(decoded.maxCustomTools, 7);

  ToolSettings built;
  built.maxNotificationItems = -10;
  EXPECT_EQ(built.maxNotificationItems, 1);
  built.maxConcurrentJobs = 0;
  EXPECT_EQ(built.maxConcurrentJobs, 1);
}

TEST(ToolSettings, NullAndUnknownKeysAreIgnoredWrongKindsFailTheDecode) {
  const ToolSettings decoded =
      decode(R"({"enableLogging": null, "maxCustomTools": null, "helperToolEnabled": null, "someFutureKey": [1, 2]})");
  EXPECT_EQ(decoded, ToolSettings());

  for (const char* bad : {
           R"({"maxCustomTools": "25"})",
           R"({"maxNotificationItems": 5.0})",
           R"({"maxConcurrentJobs": 18446744073709551615})",
           R"({"enableLogging": 1})",
           R"({"helperToolEnabled": {"tbx_nav": "yes"}})",
           R"({"helperToolEnabled": []})",
           R"({"customToolManifestDirectories": ["/a", 3]})",
           R"({"defaultCategoryPolicy": {"mail": {"read": true}}})",
           R"({"clientCategoryPolicy": {"client-1": {"mail": {"write": false}}}})",
           R"({"agentCategoryPolicy": {"alice": true}})",
           R"([])",
       }) {
    EXPECT_THROW(decode(bad), DecodingError) << bad;
  }
}

TEST(ToolSettings, AllTwentyOneKeysRoundTrip) {
  ToolSettings s;
  s.helperToolEnabled = {{"calendar", true}, {"custom_tool", false}};
  s.operationEnabled = {{"tbx_doc.open", false}};
  s.requireExplicitToolEnable = true;
  s.allowBroadcastNotifications = false;
  s.maxNotificationItems = 5;
  s.maxConcurrentJobs = 6;
  s.enableLogging = false;
  s.enableMessaging = false;
  s.enableAgentCoordination = false;
  s.enableHookSync = false;
  s.enableTinderboxPassthroughTools = false;
  s.enableToolCallLogging = true;
  s.logToolCallsToFile = false;
  s.logToolCallsToTinderbox = true;
  s.enableCustomToolManifests = true;
  s.customToolManifestDirectories = {"/opt/tools", "/home/u/tools"};
  s.maxCustomTools = 9;
  s.defaultCategoryPolicy = {{"mail", {true, false}}};
  s.clientCategoryPolicy = {{"client-1", {{"omnifocus", {false, false}}}}};
  s.agentCategoryPolicy = {{"alice", {{"apple", {true, true}}}}};
  s.clientAgentCategoryPolicy = {{"client-1|alice", {{"time", {false, true}}}}};

  const Json encoded = s.toJson();
  EXPECT_EQ(encoded.size(), 21u);
  // Two entries, one of them calendar: the migration is not triggered; the defaults are
  // added as the file is read, and nothing else changes.
  ToolSettings expected = s;
  for (const auto& [name, on] : defaultHelperToolTable()) expected.helperToolEnabled.try_emplace(name, on);
  EXPECT_EQ(ToolSettings::fromJson(parseJson(dumpJson(encoded))), expected);
  EXPECT_EQ(ToolSettings::fromJson(expected.toJson()), expected);

  ToolSettings bare;
  bare.helperToolEnabled.clear();
  const Json empty = bare.toJson();
  EXPECT_EQ(empty.size(), 21u);
  EXPECT_EQ(empty["operationEnabled"], Json::object());
  EXPECT_EQ(empty["customToolManifestDirectories"], Json::array());
  EXPECT_EQ(empty["clientAgentCategoryPolicy"], Json::object());
}

TEST(ToolSettings, CategoryPolicyLookupOrder) {
  ToolSettings s;
  EXPECT_TRUE(s.allows("client-1", "alice", "omnifocus", ToolCapability::write));  // nothing set: all allowed

  s.defaultCategoryPolicy = {{"omnifocus", {false, false}}, {"mail", {true, false}}};
  s.agentCategoryPolicy = {{"alice", {{"omnifocus", {true, false}}}}};
  s.clientCategoryPolicy = {{"client-1", {{"bookends", {false, false}}}}};  // lacks omnifocus
  s.clientAgentCategoryPolicy = {{"client-2|alice", {{"omnifocus", {true, true}}}}};

  // The client's map lacks the category, so the agent's policy decides.
  EXPECT_TRUE(s.allows("client-1", "alice", "omnifocus", ToolCapability::read));
  EXPECT_FALSE(s.allows("client-1", "alice", "omnifocus", ToolCapability::write));
  // Client and agent together win over everything.
  EXPECT_TRUE(s.allows("client-2", "alice", "omnifocus", ToolCapability::write));
  // Client before agent.
  EXPECT_FALSE(s.allows("client-1", "alice", "bookends", ToolCapability::read));
  // Without an agent, the client-agent and agent maps are skipped.
  EXPECT_FALSE(s.allows("client-2", std::nullopt, "omnifocus", ToolCapability::read));
  EXPECT_TRUE(s.allows(std::nullopt, "alice", "omnifocus", ToolCapability::read));
  // Default map, then read and write.
  EXPECT_EQ(s.categoryPolicy(std::nullopt, std::nullopt, "mail"), (CategoryPolicy{true, false}));
  EXPECT_EQ(s.categoryPolicy("client-9", "bob", "time"), (CategoryPolicy{true, true}));
}

}  // namespace
}  // namespace qd
