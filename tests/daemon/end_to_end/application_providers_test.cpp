// The application providers through the real daemon program, in tier dev: the time tools,
// and the Calendar and Contacts tools answering with their permission errors, as they do on
// a system whose stores refuse access.

#include <gtest/gtest.h>

#include "socket_session.h"

namespace qd {
namespace {

class ApplicationProvidersEndToEnd : public test::SocketSession {
 protected:
  void SetUp() override { startDaemon("dev", Json{{"helperToolEnabled", {{"calendar", true}}}}); }
};

TEST_F(ApplicationProvidersEndToEnd, TimeToolsAnswerInTheDefaultZoneAndRefuseUnknownZones) {
  auto client = connect();
  const Json now = parseJson(text(call(*client, "time_now")));
  EXPECT_EQ(now["timezone"], "America/Halifax");
  const std::string local = now["localTimeISO8601"].get<std::string>();
  EXPECT_TRUE(local.ends_with("-04:00") || local.ends_with("-03:00")) << local;

  EXPECT_EQ(text(call(*client, "time_now", {{"timezone", "Mars/Base"}})), "Invalid timezone: Mars/Base");
  EXPECT_EQ(text(call(*client, "time_now", {{"timezone", "../../etc/passwd"}})), "Invalid timezone: ../../etc/passwd");

  const Json converted = parseJson(text(call(*client, "time_convert", {{"toTimezone", "Asia/Tokyo"}})));
  EXPECT_EQ(converted["fromTimezone"], "America/Halifax");
  EXPECT_TRUE(converted["toLocalTime"].get<std::string>().ends_with("GMT+09:00")) << converted;
}

TEST_F(ApplicationProvidersEndToEnd, CalendarAndContactsCheckArgumentsThenAccess) {
  auto client = connect();
  EXPECT_EQ(error(call(*client, "calendar_list")),
            "Calendar full-access permission is required for list/search/open operations.");
  // The dates are checked before the store is asked for access.
  EXPECT_EQ(text(call(*client, "calendar_create",
                      {{"title", "Stand-up"}, {"startDate", "2026-03-02T09:00:00Z"}, {"endDate", "2026-03-02T09:00:00Z"}})),
            "endDate must be later than startDate");
  EXPECT_EQ(error(call(*client, "calendar_create",
                       {{"title", "Stand-up"}, {"startDate", "2026-03-02T09:00:00Z"}, {"endDate", "2026-03-02T09:15:00Z"}})),
            "Calendar full-access permission is required for list/search/open operations.");
  EXPECT_EQ(error(call(*client, "contacts_list")),
            "Contacts access denied. Enable access in System Settings > Privacy & Security > Contacts.");

  // The providers' blocking pool does not hold the daemon up at exit.
  daemon_->signal(SIGTERM);
  EXPECT_EQ(daemon_->waitForExit(), 0) << daemon_->stderrText();
}

class BetaTierProviders : public test::SocketSession {};

TEST_F(BetaTierProviders, OfferTheTimeToolsButNotTheDevTierProviders) {
  startDaemon("beta", Json{{"helperToolEnabled", {{"calendar", true}}}});
  auto client = connect();
  EXPECT_EQ(parseJson(text(call(*client, "time_now", {{"timezone", "UTC"}})))["timezone"], "UTC");
  EXPECT_EQ(error(call(*client, "calendar_list")), "Invalid parameter: Unknown tool: calendar_list");
  EXPECT_EQ(error(call(*client, "contacts_list")), "Invalid parameter: Unknown tool: contacts_list");
}

}  // namespace
}  // namespace qd
