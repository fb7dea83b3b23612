#include "app/settings/local_tool_settings.h"

#include <gtest/gtest.h>

#include "daemon/utilities/json_codec.h"

namespace qd {
namespace {

const Json kDefaultHelpers = {{"calendar", false}, {"tbx_doc", true}, {"tbx_export", true}, {"tbx_nav", true}};

TEST(LocalToolSettingsTest, AnEmptyObjectDecodesToTheDefaultRecord) {
  const Json decoded = LocalToolSettings::fromJson(Json::object()).toJson();
  EXPECT_EQ(decoded, LocalToolSettings().toJson());
  EXPECT_EQ(decoded["helperToolEnabled"], kDefaultHelpers);
  EXPECT_EQ(decoded["operationEnabled"], Json::object());
  EXPECT_EQ(decoded["maxNotificationItems"], 1000);
  EXPECT_EQ(decoded["maxConcurrentJobs"], 2);
  EXPECT_EQ(decoded["maxCustomTools"], 25);
  EXPECT_EQ(decoded["enableToolCallLogging"], true);
  EXPECT_EQ(decoded["logToolCallsToTinderbox"], false);
  EXPECT_EQ(decoded["customToolManifestDirectories"], Json::array());
  EXPECT_EQ(decoded["autoDownloadUpdates"], false);
}

TEST(LocalToolSettingsTest, DecodingRepairsAndCompletesTheHelperMapAndHoldsTheLimits) {
  struct Case {
    const char* input;
    Json helpers;
    bool requireExplicit;
  };
  const Case cases[] = {
      // the old "only calendar" record means everything but the calendar
      {R"({"requireExplicitToolEnable": true, "helperToolEnabled": {"calendar": true}})", kDefaultHelpers, false},
      {R"({"requireExplicitToolEnable": true, "helperToolEnabled": {"calendar": true, "tasks": true}})",
       {{"calendar", true}, {"tasks", true}, {"tbx_doc", true}, {"tbx_export", true}, {"tbx_nav", true}},
       true},
      {R"({"requireExplicitToolEnable": true, "helperToolEnabled": {"calendar": false}})", kDefaultHelpers, true},
      {R"({"helperToolEnabled": {"tbx_nav": false}})",
       {{"calendar", false}, {"tbx_doc", true}, {"tbx_export", true}, {"tbx_nav", false}},
       false},
      {R"({"helperToolEnabled": null})", kDefaultHelpers, false},
  };
  for (const Case& c : cases) {
    const LocalToolSettings s = LocalToolSettings::fromJson(parseJson(c.input));
    EXPECT_EQ(s.toJson()["helperToolEnabled"], c.helpers) << c.input;
    EXPECT_EQ(s.requireExplicitToolEnable, c.requireExplicit) << c.input;
  }

  const LocalToolSettings limits = LocalToolSettings::fromJson(
      parseJson(R"({"maxConcurrentJobs": 0, "maxCustomTools": -5, "maxNotificationItems": 0})"));
  EXPECT_EQ(limits.maxConcurrentJobs, 1);
  EXPECT_EQ(limits.maxCustomTools, 1);
  EXPECT_EQ(limits.maxNotificationItems, 0);  // held by the model when it sends, not here
  EXPECT_EQ(LocalToolSettings::fromJson(parseJson(R"({"maxConcurrentJobs": 1})")).maxConcurrentJobs, 1);
  EXPECT_EQ(LocalToolSettings::fromJson(parseJson(R"({"maxNotificationItems": null})")).maxNotificationItems, 1000);
}

TEST(LocalToolSettingsTest, AValueOfTheWrongKindFailsTheWholeRecord) {
  const char* cases[] = {
      R"({"maxNotificationItems": "10"})",
      R"({"maxNotificationItems": 10.0})",
      R"({"maxConcurrentJobs": true})",
      R"({"maxCustomTools": 9223372036854775808})",  // beyond int64
      R"({"enableLogging": 1})",
      R"({"helperToolEnabled": 3})",
      R"({"helperToolEnabled": {"calendar": "yes"}})",
      R"({"operationEnabled": []})",
      R"({"customToolManifestDirectories": ["/a", 2]})",
      R"({"customToolManifestDirectories": "/a"})",
      R"([])",
  };
  for (const char* input : cases) {
    EXPECT_THROW(LocalToolSettings::fromJson(parseJson(input)), DecodingError) << input;
  }
}

TEST(LocalToolSettingsTest, EncodingWritesAllKeysInFieldOrderAndRoundTrips) {
  LocalToolSettings s;
  s.operationEnabled = {{"mail.send", false}, {"mail.read", true}};
  s.customToolManifestDirectories = {"/b", "/a", "/b"};
  s.maxNotificationItems = -4;  // written as it stands
  const Json json = s.toJson();
  std::vector<std::string> keys;
  for (const auto& [key, value] : json.items()) keys.push_back(key);
  const std::vector<std::string> expected{
      "helperToolEnabled",    "operationEnabled",        "requireExplicitToolEnable",
      "allowBroadcastNotifications", "maxNotificationItems", "maxConcurrentJobs",
      "enableLogging",        "enableMessaging",         "enableAgentCoordination",
      "enableHookSync",       "enableTinderboxPassthroughTools", "enableToolCallLogging",
      "logToolCallsToFile",   "logToolCallsToTinderbox", "enableCustomToolManifests",
      "customToolManifestDirectories", "maxCustomTools", "autoDownloadUpdates"};
  EXPECT_EQ(keys, expected);
  EXPECT_EQ(json["maxNotificationItems"], -4);
  // Maps in key order whatever the insertion order, so equal settings give equal bytes.
  EXPECT_EQ(dumpJson(json["operationEnabled"]), R"({"mail.read":true,"mail.send":false})");
  EXPECT_EQ(LocalToolSettings::fromJson(json).toJson(), json);
}

TEST(LocalToolSettingsTest, SinkModesFromRawValuesAndFlags) {
  EXPECT_EQ(loggingSinkModeFromRaw("both"), LoggingSinkMode::both);
  EXPECT_EQ(loggingSinkModeFromRaw("Both"), std::nullopt);
  EXPECT_EQ(loggingSinkModeFromRaw(""), std::nullopt);
  for (LoggingSinkMode mode : allLoggingSinkModes) {
    EXPECT_EQ(loggingSinkModeFromRaw(rawValue(mode)), mode);
    EXPECT_EQ(loggingSinkModeFromFlags(logsToFile(mode), logsToTinderbox(mode)), mode);
  }
  EXPECT_EQ(loggingSinkModeFromFlags(false, true), LoggingSinkMode::tinderbox);
}

TEST(LocalToolSettingsTest, ManifestDirectoriesAreOnePathPerLine) {
  EXPECT_EQ(manifestDirectoriesFromText("  /one  \n\n/two\r\n   \n/one"),
            (std::vector<std::string>{"/one", "/two", "/one"}));
  // Unicode spaces, as a paste from a web page brings them.
  EXPECT_EQ(manifestDirectoriesFromText("\u00a0/one\u2003\n\u3000\n/two\u00a0"),
            (std::vector<std::string>{"/one", "/two"}));
  EXPECT_TRUE(manifestDirectoriesFromText("").empty());
  EXPECT_EQ(manifestDirectoriesText({"/a", "/b"}), "/a\n/b");
  EXPECT_EQ(manifestDirectoriesText({}), "");
}

}  // namespace
}  // namespace qd
