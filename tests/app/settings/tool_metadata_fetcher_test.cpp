#include "app/settings/tool_metadata_fetcher.h"

#include <gtest/gtest.h>

#include "settings_test_support.h"

namespace qd {
namespace {

Json toolEntry(const std::string& name, const std::string& description = "d") {
  return Json{{"name", name}, {"description", description}, {"parameters", Json::array()}, {"readOnly", false}};
}

class ToolMetadataFetcherTest : public ::testing::Test {
 protected:
  void SetUp() override { test::qtApplication(); }

  void answer(Json reply) {
    admin_.answer = [reply](const std::string&, const std::optional<Json>&) { return reply; };
  }
  void loadAndWait() {
    fetcher_.loadToolMetadata();
    ASSERT_TRUE(fetcher_.isLoading());
    ASSERT_TRUE(test::processEventsUntil([&] { return !fetcher_.isLoading(); }));
  }

  test::ScriptedAdmin admin_;
  ToolMetadataFetcher fetcher_{admin_.call()};
};

TEST_F(ToolMetadataFetcherTest, ACatalogIsKeyedByNameTheLaterDuplicateWinning) {
  Json capable = toolEntry("reader");
  capable["capability"] = "read";
  capable["liveHelpText"] = "help";
  answer(Json{{"tools", {toolEntry("twice", "first"), capable, toolEntry("twice", "second")}}, {"timestamp", 0}});
  loadAndWait();
  EXPECT_EQ(admin_.records().at(0).method, "app_get_tool_catalog");
  EXPECT_EQ(admin_.records().at(0).params, std::nullopt);
  EXPECT_EQ(fetcher_.toolMetadata().size(), 2u);
  EXPECT_EQ(fetcher_.getDescription("twice"), "second");
  EXPECT_EQ(fetcher_.getCapability("twice"), "readwrite");
  EXPECT_EQ(fetcher_.getCapability("reader"), "read");
  EXPECT_EQ(fetcher_.getLiveHelpText("reader"), "help");
  ASSERT_TRUE(fetcher_.getParameters("twice").has_value());
  EXPECT_TRUE(fetcher_.getParameters("twice")->empty());
  // Whole seconds since 1970: 0 is the epoch itself.
  EXPECT_EQ(fetcher_.lastUpdate(), ToolMetadataFetcher::Date{});

  EXPECT_EQ(fetcher_.getDescription("absent"), std::nullopt);
  EXPECT_EQ(fetcher_.getParameters("absent"), std::nullopt);
  EXPECT_EQ(fetcher_.isReadOnly("absent"), std::nullopt);
  EXPECT_EQ(fetcher_.getLiveHelpText("absent"), std::nullopt);
  EXPECT_EQ(fetcher_.getCapability("absent"), "readwrite");
}

TEST_F(ToolMetadataFetcherTest, AnyBadEntryOrFailureEmptiesTheCatalog) {
  Json noDescription = toolEntry("p");
  noDescription["parameters"] = Json::array({{{"name", "x"}, {"type", "string"}, {"required", true}}});
  Json noReadOnly = toolEntry("r");
  noReadOnly.erase("readOnly");
  Json badOperations = toolEntry("o");
  badOperations["operations"] = Json::array({"a", 1});
  const std::vector<Json> bad{
      Json{{"tools", {toolEntry("good"), noDescription}}, {"timestamp", 1}},
      Json{{"tools", {toolEntry("good"), noReadOnly}}, {"timestamp", 1}},
      Json{{"tools", {badOperations}}, {"timestamp", 1}},
      Json{{"tools", {toolEntry("good")}}},
      Json{{"tools", {toolEntry("good")}}, {"timestamp", 1.5}},
      Json{{"tools", Json::object()}, {"timestamp", 1}},
  };
  for (const Json& reply : bad) {
    answer(Json{{"tools", {toolEntry("good")}}, {"timestamp", 5}});
    loadAndWait();
    ASSERT_EQ(fetcher_.toolMetadata().size(), 1u);
    answer(reply);
    loadAndWait();
    EXPECT_TRUE(fetcher_.toolMetadata().empty()) << reply.dump();
    EXPECT_EQ(fetcher_.lastUpdate(), std::nullopt) << reply.dump();
  }

  admin_.answer = [](const std::string&, const std::optional<Json>&) -> Json {
    throw DaemonAdminAPIError::timedOut();
  };
  loadAndWait();
  EXPECT_TRUE(fetcher_.toolMetadata().empty());

  answer(Json{{"tools", Json::array()}, {"timestamp", 7}});
  loadAndWait();
  EXPECT_TRUE(fetcher_.toolMetadata().empty());
  EXPECT_EQ(fetcher_.lastUpdate(), ToolMetadataFetcher::Date(std::chrono::seconds(7)));
}

TEST_F(ToolMetadataFetcherTest, AnOlderLoadFinishingLateIsDropped) {
  // The first load hangs and then fails; the second succeeds meanwhile.
  int calls = 0;
  std::mutex mutex;
  std::condition_variable cv;
  bool releaseFirst = false;
  admin_.answer = [&](const std::string&, const std::optional<Json>&) -> Json {
    std::unique_lock lock(mutex);
    if (calls++ == 0) {
      cv.notify_all();
      cv.wait(lock, [&] { return releaseFirst; });
      throw DaemonAdminAPIError::timedOut();
    }
    return Json{{"tools", {toolEntry("fresh")}}, {"timestamp", 9}};
  };
  fetcher_.loadToolMetadata();
  {
    // The second load starts only once the first is inside its request.
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return calls == 1; });
  }
  fetcher_.loadToolMetadata();
  ASSERT_TRUE(test::processEventsUntil([&] { return fetcher_.toolMetadata().count("fresh") == 1; }));
  {
    std::lock_guard lock(mutex);
    releaseFirst = true;
  }
  cv.notify_all();
  fetcher_.waitForLoads();
  QCoreApplication::processEvents();
  EXPECT_EQ(fetcher_.toolMetadata().count("fresh"), 1u);
  EXPECT_FALSE(fetcher_.isLoading());
}

}  // namespace
}  // namespace qd
