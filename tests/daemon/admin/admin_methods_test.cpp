#include "daemon/admin/admin_methods.h"

#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include <asio/io_context.hpp>

#include "daemon/config/configuration.h"
#include "daemon/core/daemon_error.h"
#include "daemon/runtime/coroutine_helpers.h"
#include "support/fake_admin_daemon.h"
#include "support/temp_dir.h"
#include "support/test_io.h"

namespace qd {
namespace {

class AdminMethodsTest : public ::testing::Test {
 protected:
  // The method's result, or "error: " and the text a reply would carry.
  Json call(const std::string& method, std::optional<Json> params = std::nullopt) {
    auto held = daemon;
    return test::runAwaitable(io, callCatching(std::move(held), method, std::move(params)));
  }

  static asio::awaitable<Json> callCatching(std::shared_ptr<AdminDaemon> daemon, std::string method,
                                            std::optional<Json> params) {
    std::string failure;
    try {
      co_return co_await handleAppAdminRequest(std::move(daemon), std::move(method), std::move(params));
    } catch (...) {
      failure = describeException(std::current_exception());
    }
    co_return Json("error: " + failure);
  }

  Json save(const Json& settings) { return call("app_save_settings", Json{{"settings", settings}}); }

  Json storedFile() const {
    std::ifstream in(daemon->settingsStore.fileURL());
    return Json::parse(std::string(std::istreambuf_iterator<char>(in), {}));
  }

  asio::io_context io{1};
  test::TempDir temp{"admin-methods"};
  std::shared_ptr<test::FakeAdminDaemon> daemon = std::make_shared<test::FakeAdminDaemon>(temp.path());
};

TEST_F(AdminMethodsTest, UnknownMethodsNameThemselves) {
  for (const char* method : {"APP_GET_HEALTH", "app_get_healthx", "", "app_get_settings "}) {
    EXPECT_EQ(call(method), Json(std::string("error: Invalid parameter: unknownMethod: ") + method)) << method;
  }
  EXPECT_EQ(daemon->healthCalls, 0);
}

TEST_F(AdminMethodsTest, HealthIsTheHealthRecord) {
  EXPECT_EQ(call("app_get_health", Json{{"ignored", 1}}), daemon->health->toJson());
  daemon->health.reset();
  EXPECT_EQ(call("app_get_health"), Json("error: Feature is disabled in settings: health monitor unavailable"));
}

TEST_F(AdminMethodsTest, CatalogIsBuiltOnlyWhenEmptyAndAnswersTheCatalogBeforeTheRefresh) {
  daemon->refreshedTools = std::vector<MCPTool>{test::fakeTool("refreshed")};
  const Json first = call("app_get_tool_catalog");
  EXPECT_EQ(first["tools"], Json::parse(R"([{"name":"health_check"},{"name":"calendar"}])"));
  EXPECT_EQ(daemon->builds, 1);
  io.restart();
  io.run();  // the background refresh
  EXPECT_EQ(daemon->refreshes, 1);

  // Built already: answered from the refreshed catalog without rebuilding, refreshed again.
  const Json second = call("app_get_tool_catalog");
  EXPECT_EQ(second["tools"], Json::parse(R"([{"name":"refreshed"}])"));
  io.restart();
  io.run();
  EXPECT_EQ(daemon->builds, 1);
  EXPECT_EQ(daemon->refreshes, 2);
}

TEST_F(AdminMethodsTest, SettingsLeaveOutTheCategoryPoliciesAndAddTheUpdatePreference) {
  ToolSettings stored;
  stored.defaultCategoryPolicy["mail"] = CategoryPolicy{true, false};
  stored.maxNotificationItems = 77;
  daemon->settingsStore.save(stored);
  daemon->preferences.setAutoDownloadUpdates(true);

  const Json settings = call("app_get_settings");
  ASSERT_TRUE(settings.is_object());
  EXPECT_EQ(settings.size(), 18u);
  for (const auto& [key, value] : settings.items()) EXPECT_FALSE(key.ends_with("CategoryPolicy")) << key;
  EXPECT_EQ(settings["autoDownloadUpdates"], true);
  EXPECT_EQ(settings["maxNotificationItems"], 77);
  EXPECT_EQ(settings["helperToolEnabled"], stored.toJson()["helperToolEnabled"]);
}

TEST_F(AdminMethodsTest, SaveStoresTheSettingsAndReconfiguresTheQueue) {
  EXPECT_EQ(save(Json{{"maxNotificationItems", 50}, {"enableLogging", false}}), Json::parse(R"({"saved":true})"));
  EXPECT_EQ(daemon->settingsStore.current().maxNotificationItems, 50);
  EXPECT_FALSE(daemon->settingsStore.current().enableLogging);
  EXPECT_EQ(storedFile()["maxNotificationItems"], 50);
  EXPECT_EQ(daemon->queue.maxNotificationsPerAgent(), 50);
  io.restart();
  io.run();
  EXPECT_EQ(daemon->refreshes, 1);
}

TEST_F(AdminMethodsTest, ReleaseTierOverridesSevenSettings) {
  daemon->tier = FeatureTier::release;
  const Json sent = Json{{"maxNotificationItems", 50},        {"enableLogging", true},
                         {"allowBroadcastNotifications", true}, {"enableTinderboxPassthroughTools", false},
                         {"enableToolCallLogging", true},       {"logToolCallsToFile", true},
                         {"logToolCallsToTinderbox", true},     {"enableMessaging", false}};
  EXPECT_EQ(save(sent), Json::parse(R"({"saved":true})"));
  const ToolSettings saved = daemon->settingsStore.current();
  EXPECT_EQ(saved.maxNotificationItems, 1000);
  EXPECT_FALSE(saved.enableLogging);
  EXPECT_FALSE(saved.allowBroadcastNotifications);
  EXPECT_TRUE(saved.enableTinderboxPassthroughTools);
  EXPECT_FALSE(saved.enableToolCallLogging);
  EXPECT_FALSE(saved.logToolCallsToFile);
  EXPECT_FALSE(saved.logToolCallsToTinderbox);
  EXPECT_FALSE(saved.enableMessaging);  // not one of the seven
  EXPECT_EQ(daemon->queue.maxNotificationsPerAgent(), 1000);

  // An empty record in release: the defaults with the overrides.
  EXPECT_EQ(save(Json::object()), Json::parse(R"({"saved":true})"));
  ToolSettings expected;
  expected.enableLogging = false;
  expected.allowBroadcastNotifications = false;
  expected.logToolCallsToFile = false;
  EXPECT_EQ(daemon->settingsStore.current(), expected);

  // Beta keeps what was sent.
  daemon->tier = FeatureTier::beta;
  save(sent);
  EXPECT_EQ(daemon->settingsStore.current().maxNotificationItems, 50);
  EXPECT_TRUE(daemon->settingsStore.current().enableLogging);
}

TEST_F(AdminMethodsTest, SaveErrorsNameTheProblemAndSaveNothing) {
  struct Case {
    std::optional<Json> params;
    std::string reply;
  };
  const std::string missing = "error: Missing required parameter: settings";
  const std::string invalid = "error: Invalid parameter: settings";
  const Case cases[] = {
      {std::nullopt, missing},
      {Json::object(), missing},
      {Json{{"setting", Json::object()}}, missing},
      {Json{{"settings", "all"}}, invalid},
      {Json{{"settings", 3}}, invalid},
      {Json{{"settings", true}}, invalid},
      {Json{{"settings", nullptr}}, invalid},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(call("app_save_settings", c.params), Json(c.reply)) << (c.params ? c.params->dump() : "none");
  }
  // Serialisable but not a settings record: the decoder's own text.
  const Json array = call("app_save_settings", Json{{"settings", Json::array()}});
  EXPECT_TRUE(array.get<std::string>().starts_with("error: ")) << array;
  EXPECT_NE(array, Json(invalid));
  const Json badPolicy = save(Json{{"defaultCategoryPolicy", {{"mail", {{"read", true}}}}}});
  EXPECT_TRUE(badPolicy.get<std::string>().starts_with("error: ")) << badPolicy;

  EXPECT_FALSE(std::filesystem::exists(daemon->settingsStore.fileURL()));
  EXPECT_EQ(daemon->queue.maxNotificationsPerAgent(), Configuration::maxNotificationsPerAgent);
  io.restart();
  io.run();
  EXPECT_EQ(daemon->refreshes, 0);
}

TEST_F(AdminMethodsTest, UpdatePreferenceIsStoredOnlyFromABooleanAndBeforeTheDecode) {
  // 0 and 1 are numbers, not answers: each case starts from the value a bridged number
  // would overwrite.
  struct Case {
    Json value;
    bool before;
    bool after;
  };
  const Case cases[] = {{true, false, true},    {false, true, false},  {1, false, false},
                        {0, true, true},        {"true", false, false}, {nullptr, true, true}};
  for (const Case& c : cases) {
    daemon->preferences.setAutoDownloadUpdates(c.before);
    EXPECT_EQ(save(Json{{"autoDownloadUpdates", c.value}}), Json::parse(R"({"saved":true})"));
    EXPECT_EQ(daemon->preferences.autoDownloadUpdates(), c.after) << c.value.dump();
  }

  // Kept even when the rest fails to decode; nothing else is saved.
  daemon->preferences.setAutoDownloadUpdates(false);
  const ToolSettings before = daemon->settingsStore.current();
  const Json fileBefore = storedFile();
  const Json reply = save(Json{{"autoDownloadUpdates", true}, {"maxCustomTools", "many"}});
  EXPECT_TRUE(reply.get<std::string>().starts_with("error: ")) << reply;
  EXPECT_TRUE(daemon->preferences.autoDownloadUpdates());
  EXPECT_EQ(daemon->settingsStore.current(), before);
  EXPECT_EQ(storedFile(), fileBefore);
}

TEST_F(AdminMethodsTest, ASaveWithoutCategoryPoliciesKeepsTheStoredOnes) {
  ToolSettings stored;
  stored.defaultCategoryPolicy["mail"] = CategoryPolicy{true, false};
  stored.clientCategoryPolicy["client-1"]["files"] = CategoryPolicy{false, false};
  stored.agentCategoryPolicy["scout"]["calendar"] = CategoryPolicy{true, false};
  stored.clientAgentCategoryPolicy["client-1|scout"]["notes"] = CategoryPolicy{false, true};
  daemon->settingsStore.save(stored);

  // What the application sends: the settings it read, changed, without the policies.
  Json sent = call("app_get_settings");
  sent["maxConcurrentJobs"] = 4;
  EXPECT_EQ(save(sent), Json::parse(R"({"saved":true})"));
  ToolSettings saved = daemon->settingsStore.current();
  EXPECT_EQ(saved.maxConcurrentJobs, 4);
  EXPECT_EQ(saved.defaultCategoryPolicy, stored.defaultCategoryPolicy);
  EXPECT_EQ(saved.clientCategoryPolicy, stored.clientCategoryPolicy);
  EXPECT_EQ(saved.agentCategoryPolicy, stored.agentCategoryPolicy);
  EXPECT_EQ(saved.clientAgentCategoryPolicy, stored.clientAgentCategoryPolicy);
  EXPECT_EQ(storedFile()["agentCategoryPolicy"], stored.toJson()["agentCategoryPolicy"]);

  // A map that is sent replaces the stored one (an empty map clears it); null keeps it.
  sent["defaultCategoryPolicy"] = Json{{"web", {{"read", false}, {"write", false}}}};
  sent["clientCategoryPolicy"] = Json::object();
  sent["agentCategoryPolicy"] = nullptr;
  EXPECT_EQ(save(sent), Json::parse(R"({"saved":true})"));
  saved = daemon->settingsStore.current();
  EXPECT_EQ(saved.defaultCategoryPolicy, (CategoryPolicyMap{{"web", CategoryPolicy{false, false}}}));
  EXPECT_TRUE(saved.clientCategoryPolicy.empty());
  EXPECT_EQ(saved.agentCategoryPolicy, stored.agentCategoryPolicy);
  EXPECT_EQ(saved.clientAgentCategoryPolicy, stored.clientAgentCategoryPolicy);
}

}  // namespace
}  // namespace qd
