#include <gtest/gtest.h>

#include <asio/io_context.hpp>

#include "daemon/providers/time_provider.h"
#include "fixed_clock.h"
#include "support/test_io.h"

namespace qd {
namespace {

using test::runAwaitable;

constexpr std::int64_t kWinterNoonUTC = 1768478400;  // 2026-01-15T12:00:00Z
constexpr std::int64_t kSummerNoonUTC = 1784116800;  // 2026-07-15T12:00:00Z

class TimeProviderTest : public testing::Test {
 protected:
  std::optional<Json> call(const std::string& tool, Json arguments) {
    return runAwaitable(io, provider.handle(tool, "client-0", std::move(arguments)));
  }
  std::string text(const std::string& tool, Json arguments) {
    const auto reply = call(tool, std::move(arguments));
    if (!reply) return "<none>";
    return (*reply)["content"][0]["text"].get<std::string>();
  }

  asio::io_context io;
  test::FixedClock clock{kWinterNoonUTC};
  TimeToolProvider provider{"time-server", FeatureTier::beta, "America/Halifax", clock};
};

TEST_F(TimeProviderTest, NowInTheDefaultZoneWinterAndSummer) {
  EXPECT_EQ(text("time_now", Json::object()),
            "{\n  \"timezone\": \"America/Halifax\",\n  \"localTimeISO8601\": \"2026-01-15T08:00:00-04:00\"\n}");
  clock.set(kSummerNoonUTC);
  EXPECT_EQ(text("time_now", {{"timezone", 5}}),  // not text: the default zone
            "{\n  \"timezone\": \"America/Halifax\",\n  \"localTimeISO8601\": \"2026-07-15T09:00:00-03:00\"\n}");
  EXPECT_EQ(Json::parse(text("time_now", {{"timezone", "UTC"}}))["localTimeISO8601"], "2026-07-15T12:00:00Z");
  EXPECT_EQ(Json::parse(text("time_now", {{"timezone", "Asia/Kolkata"}}))["localTimeISO8601"],
            "2026-07-15T17:30:00+05:30");
}

TEST_F(TimeProviderTest, ConvertShowsBothZonesWithGMTOffsets) {
  EXPECT_EQ(text("time_convert", {{"toTimezone", "Asia/Tokyo"}}),
            "{\n  \"fromTimezone\": \"America/Halifax\",\n  \"toTimezone\": \"Asia/Tokyo\",\n"
            "  \"fromLocalTime\": \"2026-01-15 08:00:00 GMT-04:00\",\n"
            "  \"toLocalTime\": \"2026-01-15 21:00:00 GMT+09:00\"\n}");
  EXPECT_EQ(Json::parse(text("time_convert", {{"fromTimezone", "Asia/Tokyo"}, {"toTimezone", "Europe/London"}}))
                ["toLocalTime"],
            "2026-01-15 12:00:00 GMT");
}

TEST_F(TimeProviderTest, UnknownZonesAndMissingTarget) {
  for (const char* zone : {"Mars/Base", "../../etc/passwd", "", "Etc/Unknown", "America/Halifax\n"}) {
    EXPECT_EQ(text("time_now", {{"timezone", zone}}), std::string("Invalid timezone: ") + zone);
  }
  EXPECT_EQ(text("time_convert", {{"fromTimezone", "Mars/Base"}, {"toTimezone", "UTC"}}),
            "Invalid timezone(s): from=Mars/Base, to=UTC");
  EXPECT_EQ(text("time_convert", {{"toTimezone", ""}}), "Missing toTimezone");
  EXPECT_EQ(text("time_convert", Json::object()), "Missing toTimezone");
}

TEST_F(TimeProviderTest, HelpForEitherToolAndOtherNamesUnanswered) {
  EXPECT_EQ(text("time_now", {{"operation", "help"}}), TimeToolProvider::helpText());
  EXPECT_EQ(text("another_tool", {{"operation", "help"}}), TimeToolProvider::helpText());
  EXPECT_NE(TimeToolProvider::helpText().find("America/Halifax"), std::string::npos);
  EXPECT_EQ(call("bookends", Json::object()), std::nullopt);
  EXPECT_TRUE(provider.canHandle("time_convert"));
  EXPECT_FALSE(provider.canHandle("Time_now"));
  const auto tools = provider.tools();
  ASSERT_EQ(tools.size(), 2u);
  EXPECT_EQ(tools[0].name, "time_now");
  EXPECT_EQ(tools[1].inputSchema.required, std::vector<std::string>{"toTimezone"});
  EXPECT_TRUE(provider.availableOperations().empty());
}

}  // namespace
}  // namespace qd
