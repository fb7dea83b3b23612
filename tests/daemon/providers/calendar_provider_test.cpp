#include <gtest/gtest.h>

#include <unicode/timezone.h>

#include <asio/io_context.hpp>

#include "daemon/core/provider_error.h"
#include "daemon/providers/calendar_provider.h"
#include "daemon/providers/icu_time.h"
#include "fixed_clock.h"
#include "memory_stores.h"
#include "support/test_io.h"

namespace qd {
namespace {

using platform::CalendarAuthorization;
using platform::CalendarEvent;
using test::runAwaitable;
using namespace std::chrono_literals;

constexpr std::int64_t kNow = 1772712000;  // 2026-03-05T12:00:00Z, three days before Halifax moves its clocks

platform::WallTime at(std::int64_t seconds) { return platform::WallTime(std::chrono::seconds(seconds)); }

CalendarEvent event(std::string id, std::string title, std::int64_t start, std::optional<std::string> location = {},
                    std::optional<std::string> notes = {}) {
  CalendarEvent e;
  e.identifier = std::move(id);
  e.title = std::move(title);
  e.startDate = at(start);
  e.endDate = at(start + 3600);
  e.location = std::move(location);
  e.notes = std::move(notes);
  e.calendarTitle = "Home";
  return e;
}

class CalendarTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The local zone, for the windows and the local date form.
    icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone("America/Halifax"));
  }
  static void TearDownTestSuite() { icu::TimeZone::adoptDefault(icu::TimeZone::detectHostTimeZone()); }

  Json call(Json arguments) {
    auto reply = runAwaitable(io, provider.handle("calendar", "client-0", std::move(arguments)));
    EXPECT_TRUE(reply.has_value());
    return reply.value_or(Json());
  }
  std::string text(Json arguments) { return call(std::move(arguments))["content"][0]["text"].get<std::string>(); }
  Json json(Json arguments) { return Json::parse(text(std::move(arguments))); }
  ProviderError error(Json arguments) {
    try {
      call(std::move(arguments));
    } catch (const ProviderError& e) {
      return e;
    }
    ADD_FAILURE() << "no error";
    return ProviderError("", 0, "");
  }

  asio::io_context io;
  test::FixedClock clock{kNow};
  std::shared_ptr<test::CalendarState> state = std::make_shared<test::CalendarState>();
  CalendarToolProvider provider{"calendar", FeatureTier::dev,
                                [s = state] { return std::make_unique<test::MemoryCalendarStore>(s); }, clock};
};

TEST_F(CalendarTest, AuthorizationStatuses) {
  const std::string fullAccessText = "Calendar full-access permission is required for list/search/open operations.";
  for (auto status : {CalendarAuthorization::restricted, CalendarAuthorization::denied, CalendarAuthorization::writeOnly}) {
    state->status = status;
    for (const char* op : {"list", "search", "create", "open"}) {
      const auto e = error({{"operation", op}, {"searchText", "x"}, {"eventId", "1"}, {"title", "t"},
                            {"startDate", "2026-03-06T10:00:00Z"}, {"endDate", "2026-03-06T11:00:00Z"}});
      EXPECT_EQ(e.domain(), "CalendarToolProvider");
      EXPECT_EQ(e.code(), 2) << op;
      EXPECT_EQ(e.description(), fullAccessText);
    }
    EXPECT_NE(text({{"operation", "help"}}).find("# Calendar Operations"), std::string::npos);
  }
  state->status = CalendarAuthorization::unknown;
  EXPECT_EQ(error(Json::object()).code(), 3);
  EXPECT_EQ(error(Json::object()).description(), "Unknown Calendar authorization status.");

  state->status = CalendarAuthorization::notDetermined;
  EXPECT_EQ(json(Json::object())["returned"], 0);
  EXPECT_EQ(state->requests, 1);
  state->requestAnswer = {false, std::nullopt};
  EXPECT_EQ(error(Json::object()).description(),
            "Calendar access denied. Enable access in System Settings > Privacy & Security > Calendars.");
  state->requestAnswer = {false, platform::StoreError{"EKErrorDomain", 29, "The request failed."}};
  const auto e = error(Json::object());
  EXPECT_EQ(e.domain(), "EKErrorDomain");
  EXPECT_EQ(e.code(), 29);
  EXPECT_EQ(e.description(), "The request failed.");
}

TEST_F(CalendarTest, TheLinuxStoreIsRestricted) {
  CalendarToolProvider system("calendar", FeatureTier::dev, platform::makeSystemCalendarStore);
  try {
    runAwaitable(io, system.handle("calendar", "c", {{"operation", "list"}}));
    FAIL();
  } catch (const ProviderError& e) {
    EXPECT_EQ(e.code(), 2);
  }
  // Argument checks come first.
  const auto reply = runAwaitable(io, system.handle("calendar", "c",
                                                    {{"operation", "create"}, {"title", "t"},
                                                     {"startDate", "2026-03-06T10:00:00Z"},
                                                     {"endDate", "2026-03-06T10:00:00Z"}}));
  EXPECT_EQ((*reply)["content"][0]["text"], "endDate must be later than startDate");
}

TEST_F(CalendarTest, ListTheComingWeekInStartOrderWithinTheLimit) {
  for (int i = 0; i < 30; ++i) state->events.push_back(event("e" + std::to_string(i), "E", kNow + 3600 * (30 - i)));
  CalendarEvent undated;
  undated.identifier = "undated";
  state->events.push_back(undated);
  const Json reply = json({{"operation", 7}});  // not text: the default operation
  EXPECT_EQ(reply["limit"], 10);
  EXPECT_EQ(reply["returned"], 10);
  EXPECT_EQ(reply["events"][0]["id"], "e29");
  EXPECT_EQ(reply["events"][1]["id"], "e28");
  // Seven days in the local calendar: Halifax moves its clocks on the way, so one hour less.
  ASSERT_EQ(state->queriedRanges.size(), 1u);
  EXPECT_EQ(state->queriedRanges[0].first, at(kNow));
  EXPECT_EQ(state->queriedRanges[0].second - state->queriedRanges[0].first, 7 * 24h - 1h);

  const struct {
    Json limit;
    int expected;
  } limits[] = {{0, 1}, {-3, 1}, {2.9, 2}, {500, 200}, {1e300, 200}, {"5", 10}, {true, 10}};
  for (const auto& c : limits) {
    const Json r = json({{"operation", "list"}, {"limit", c.limit}});
    EXPECT_EQ(r["limit"], c.expected) << c.limit.dump();
    EXPECT_EQ(r["returned"], std::min(c.expected, 31)) << c.limit.dump();
  }
  state->events.push_back(undated);
  const Json all = json({{"limit", 200}});
  EXPECT_EQ(all["events"].back()["id"], "undated");
  EXPECT_EQ(all["events"].back()["startDate"], "");
}

TEST_F(CalendarTest, RepliesArePrettyWithSortedKeys) {
  state->events.push_back(event("e1", "Standup", kNow + 60));
  EXPECT_EQ(text({{"operation", "list"}}),
            "{\n"
            "  \"events\": [\n"
            "    {\n"
            "      \"calendar\": \"Home\",\n"
            "      \"endDate\": \"2026-03-05T13:01:00Z\",\n"
            "      \"id\": \"e1\",\n"
            "      \"location\": \"\",\n"
            "      \"notes\": \"\",\n"
            "      \"startDate\": \"2026-03-05T12:01:00Z\",\n"
            "      \"title\": \"Standup\"\n"
            "    }\n"
            "  ],\n"
            "  \"limit\": 10,\n"
            "  \"returned\": 1\n"
            "}");
}

TEST_F(CalendarTest, SearchMatchesTitleLocationOrNotesIgnoringCase) {
  state->events = {event("a", "TEAM sync", kNow + 100), event("b", "Lunch", kNow + 200, "Teamroom"),
                   event("c", "Call", kNow + 300, std::nullopt, "with the team"), event("d", "Other", kNow + 400),
                   event("e", "team later", kNow + 86400 * 500)};
  const Json reply = json({{"operation", "search"}, {"searchText", "  Team \n"}});
  EXPECT_EQ(reply["query"], "team");
  EXPECT_EQ(reply["returned"], 4);
  EXPECT_EQ(reply["limit"], 25);
  EXPECT_EQ(reply["events"][3]["id"], "e");
  EXPECT_EQ(json({{"operation", "search"}, {"searchText", "team"}, {"limit", 2}})["returned"], 2);
  ASSERT_FALSE(state->queriedRanges.empty());
  const auto [from, to] = state->queriedRanges.back();
  EXPECT_EQ(from, *icutime::addInLocalCalendar(at(kNow), icutime::CalendarUnit::year, -1));
  EXPECT_EQ(to, *icutime::addInLocalCalendar(at(kNow), icutime::CalendarUnit::year, 2));

  state->status = CalendarAuthorization::denied;  // argument problems are answered first
  EXPECT_EQ(text({{"operation", "search"}, {"searchText", "   "}}), "Missing searchText");
  EXPECT_EQ(text({{"operation", "open"}, {"eventId", "  "}}), "Missing eventId");
  EXPECT_EQ(text({{"operation", "remove"}}), "Unsupported calendar operation: remove");
}

TEST_F(CalendarTest, CreateChecksItsArgumentsThenSaves) {
  const auto create = [&](Json extra) {
    Json arguments{{"operation", "create"}, {"title", "Review"}};
    for (const auto& [k, v] : extra.items()) arguments[k] = v;
    return text(arguments);
  };
  EXPECT_EQ(create({{"startDate", "2026-03-06T10:00:00Z"}}), "Missing title/startDate/endDate");
  EXPECT_EQ(create({{"startDate", "2026-03-06T10:00:00Z"}, {"endDate", 5}}), "Missing title/startDate/endDate");
  EXPECT_EQ(create({{"startDate", "tomorrow"}, {"endDate", "2026-03-06T10:00:00Z"}}),
            "Invalid startDate/endDate. Use ISO-8601 format, e.g. 2026-02-23T09:30:00Z");
  EXPECT_EQ(create({{"startDate", "2026-03-06T10:00:00Z"}, {"endDate", "2026-03-06T06:00:00-04:00"}}),
            "endDate must be later than startDate");

  const Json created = Json::parse(create({{"startDate", "2026-03-06T10:00:00.250Z"},
                                           {"endDate", "2026-03-06 08:00:00"},  // local: 12:00Z
                                           {"location", "  "},
                                           {"notes", " bring slides "}}));
  EXPECT_EQ(created["created"], true);
  EXPECT_EQ(created["event"]["id"], "new-1");
  EXPECT_EQ(created["event"]["title"], "Review");
  EXPECT_EQ(created["event"]["startDate"], "2026-03-06T10:00:00Z");
  EXPECT_EQ(created["event"]["endDate"], "2026-03-06T12:00:00Z");
  EXPECT_EQ(created["event"]["calendar"], "Home");
  EXPECT_EQ(created["event"]["location"], "");
  EXPECT_FALSE(state->events.back().location.has_value());
  EXPECT_EQ(created["event"]["notes"], "bring slides");

  const Json opened = json({{"operation", "open"}, {"eventId", " new-1 "}});
  EXPECT_EQ(opened["found"], true);
  EXPECT_EQ(opened["event"], created["event"]);
  EXPECT_EQ(text({{"operation", "open"}, {"eventId", "nope"}}), "Event not found for eventId=nope");

  const Json dates{{"startDate", "2026-03-06T10:00:00Z"}, {"endDate", "2026-03-06T11:00:00Z"}};
  state->defaultCalendar.reset();
  state->calendars = {{"cal-2", "Work"}, {"cal-3", "Other"}};
  EXPECT_EQ(Json::parse(create(dates))["event"]["calendar"], "Work");
  state->calendars.clear();
  EXPECT_EQ(create(dates), "No writable calendar available");
  state->calendars = {{"cal-2", "Work"}};
  state->saveError = platform::StoreError{"EKErrorDomain", 1, "No calendar has been set."};
  EXPECT_EQ(create(dates), "Failed to create event: No calendar has been set.");
}

TEST(CalendarDates, TheThreeFormsAndNothingElse) {
  icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone("Asia/Tokyo"));
  const struct {
    const char* text;
    std::optional<std::int64_t> seconds;
  } cases[] = {
      {"2026-02-23T09:30:00Z", 1771839000},
      {"2026-02-23T09:30:00.123Z", 1771839000},
      {"2026-02-23T05:30:00-04:00", 1771839000},
      {"2026-02-23 18:30:00", 1771839000},  // local (Tokyo)
      {"2026-02-23", std::nullopt},
      {"2026-02-23T09:30:00", std::nullopt},
      {"2026-02-23T09:30:00Z trailing", std::nullopt},
      {"2026-02-30T09:30:00Z", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    const auto parsed = CalendarToolProvider::parseDate(c.text);
    ASSERT_EQ(parsed.has_value(), c.seconds.has_value()) << c.text;
    if (parsed) {
      EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(parsed->time_since_epoch()).count(), *c.seconds)
          << c.text;
    }
  }
  icu::TimeZone::adoptDefault(icu::TimeZone::detectHostTimeZone());
}

}  // namespace
}  // namespace qd
