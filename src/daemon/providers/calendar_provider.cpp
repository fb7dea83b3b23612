#include "daemon/providers/calendar_provider.h"

#include <algorithm>
#include <chrono>

#include <unicode/timezone.h>

#include "daemon/providers/access_request.h"
#include "daemon/providers/apple_script.h"
#include "daemon/providers/provider_arguments.h"
#include "daemon/runtime/text_trim.h"
#include "daemon/utilities/unicode_text.h"

namespace qd {
namespace {

using AppleScriptHelpers::textResult;
using platform::CalendarAuthorization;
using platform::CalendarEvent;
using platform::CalendarStore;
using platform::WallTime;

constexpr const char* kDomain = "CalendarToolProvider";

const std::vector<std::string>& operations() {
  static const std::vector<std::string> names{"help", "list", "search", "create", "open"};
  return names;
}

Json eventDictionary(const CalendarEvent& event) {
  const auto date = [](const std::optional<WallTime>& time) { return time ? icutime::iso8601UTC(*time) : ""; };
  return Json{{"id", event.identifier},
              {"title", event.title},
              {"startDate", date(event.startDate)},
              {"endDate", date(event.endDate)},
              {"location", event.location.value_or("")},
              {"calendar", event.calendarTitle},
              {"notes", event.notes.value_or("")}};
}

Json eventList(const std::vector<CalendarEvent>& events) {
  Json out = Json::array();
  for (const auto& event : events) out.push_back(eventDictionary(event));
  return out;
}

Json jsonReply(const Json& value) { return textResult(dumpJson(withSortedKeys(value), 2)); }

// The store's events from start to end in all its calendars, by start date (an event
// without one last), the first `limit` of them.
std::vector<CalendarEvent> fetchEvents(CalendarStore& store, WallTime start, WallTime end, std::size_t limit) {
  std::vector<CalendarEvent> events = store.events(start, end, store.eventCalendars());
  std::stable_sort(events.begin(), events.end(), [](const CalendarEvent& a, const CalendarEvent& b) {
    if (!a.startDate || !b.startDate) return a.startDate.has_value() && !b.startDate.has_value();
    return *a.startDate < *b.startDate;
  });
  if (events.size() > limit) events.resize(limit);
  return events;
}

WallTime shifted(WallTime now, icutime::CalendarUnit unit, int amount, std::chrono::seconds fallback) {
  return icutime::addInLocalCalendar(now, unit, amount).value_or(now + fallback);
}

std::optional<std::string> nonBlank(const Json& arguments, std::string_view key) {
  const auto value = stringArgument(arguments, key);
  if (!value) return std::nullopt;
  std::string trimmed = trimWhitespaceAndNewlines(*value);
  if (trimmed.empty()) return std::nullopt;
  return trimmed;
}

}  // namespace

std::vector<MCPTool> CalendarToolProvider::tools() const {
  MCPTool tool;
  tool.name = "calendar";
  tool.description = "Search/list/create/open Calendar events.";
  tool.inputSchema.type = "object";
  tool.inputSchema.required = std::vector<std::string>{"operation"};
  Json properties = Json::object();
  properties["operation"] = {{"type", "string"}, {"enum", availableOperations().at("calendar")}};
  for (const char* name : {"searchText", "eventId", "title", "startDate", "endDate", "location", "notes"}) {
    properties[name] = {{"type", "string"}};
  }
  properties["limit"] = {{"type", "number"}};
  tool.inputSchema.properties = std::move(properties);
  return {tool};
}

OperationsMap CalendarToolProvider::availableOperations() const { return {{"calendar", operations()}}; }

asio::awaitable<std::optional<Json>> CalendarToolProvider::handle(std::string toolName, std::string, Json arguments) {
  if (toolName != "calendar") co_return std::nullopt;
  co_return co_await handleCalendar(std::move(arguments));
}

asio::awaitable<Json> CalendarToolProvider::handleCalendar(Json arguments) {
  const std::string operation = stringArgument(arguments, "operation").value_or("list");
  if (operation == "help") co_return textResult(helpText());
  if (operation == "list") co_return co_await list(std::move(arguments));
  if (operation == "search") co_return co_await search(std::move(arguments));
  if (operation == "create") co_return co_await create(std::move(arguments));
  if (operation == "open") co_return co_await open(std::move(arguments));
  co_return textResult("Unsupported calendar operation: " + operation);
}

asio::awaitable<std::unique_ptr<CalendarStore>> CalendarToolProvider::eventStoreWithAccess() {
  std::unique_ptr<CalendarStore> store = stores_();
  switch (store->authorizationStatus()) {
    case CalendarAuthorization::fullAccess: co_return store;
    case CalendarAuthorization::notDetermined: {
      CalendarStore* asked = store.get();
      std::function<void(platform::AccessCompletion)> ask = [asked](platform::AccessCompletion completion) {
        asked->requestFullAccessToEvents(std::move(completion));
      };
      const platform::AccessAnswer answer = co_await awaitAccessAnswer(std::move(ask));
      if (answer.error) throw providerError(*answer.error);
      if (!answer.granted) {
        throw ProviderError(kDomain, 1,
                            "Calendar access denied. Enable access in System Settings > Privacy & Security > Calendars.");
      }
      co_return store;
    }
    case CalendarAuthorization::restricted:
    case CalendarAuthorization::denied:
    case CalendarAuthorization::writeOnly:
      throw ProviderError(kDomain, 2, "Calendar full-access permission is required for list/search/open operations.");
    case CalendarAuthorization::unknown: break;
  }
  throw ProviderError(kDomain, 3, "Unknown Calendar authorization status.");
}

asio::awaitable<Json> CalendarToolProvider::list(Json arguments) {
  const int limit = parseLimit(numberArgument(arguments, "limit"), 10, 200);
  const auto store = co_await eventStoreWithAccess();
  const WallTime start = clock_.wallNow();
  const WallTime end = shifted(start, icutime::CalendarUnit::day, 7, std::chrono::seconds(604800));
  const auto events = fetchEvents(*store, start, end, static_cast<std::size_t>(limit));
  co_return jsonReply(Json{{"returned", events.size()}, {"limit", limit}, {"events", eventList(events)}});
}

asio::awaitable<Json> CalendarToolProvider::search(Json arguments) {
  const auto searchText = nonBlank(arguments, "searchText");
  if (!searchText) co_return textResult("Missing searchText");
  const std::string needle = unicode::lowercased(*searchText);
  const int limit = parseLimit(numberArgument(arguments, "limit"), 25, 200);
  const auto store = co_await eventStoreWithAccess();
  const WallTime now = clock_.wallNow();
  const WallTime start = shifted(now, icutime::CalendarUnit::year, -1, -std::chrono::seconds(31536000));
  const WallTime end = shifted(now, icutime::CalendarUnit::year, 2, std::chrono::seconds(63072000));
  std::vector<CalendarEvent> kept;
  for (const auto& event : fetchEvents(*store, start, end, 5000)) {
    if (kept.size() >= static_cast<std::size_t>(limit)) break;
    const std::string haystack =
        unicode::lowercased(event.title + " " + event.location.value_or("") + " " + event.notes.value_or(""));
    if (haystack.find(needle) != std::string::npos) kept.push_back(event);
  }
  co_return jsonReply(
      Json{{"query", needle}, {"returned", kept.size()}, {"limit", limit}, {"events", eventList(kept)}});
}

asio::awaitable<Json> CalendarToolProvider::create(Json arguments) {
  const auto title = stringArgument(arguments, "title");
  const auto startText = stringArgument(arguments, "startDate");
  const auto endText = stringArgument(arguments, "endDate");
  if (!title || !startText || !endText) co_return textResult("Missing title/startDate/endDate");
  const auto start = parseDate(*startText);
  const auto end = parseDate(*endText);
  if (!start || !end) co_return textResult("Invalid startDate/endDate. Use ISO-8601 format, e.g. 2026-02-23T09:30:00Z");
  if (!(*end > *start)) co_return textResult("endDate must be later than startDate");

  const auto store = co_await eventStoreWithAccess();
  auto calendar = store->defaultCalendarForNewEvents();
  if (!calendar) {
    const auto calendars = store->eventCalendars();
    if (!calendars.empty()) calendar = calendars.front();
  }
  if (!calendar) co_return textResult("No writable calendar available");

  CalendarEvent event;
  event.title = *title;
  event.startDate = start;
  event.endDate = end;
  event.location = nonBlank(arguments, "location");
  event.notes = nonBlank(arguments, "notes");
  event.calendarIdentifier = calendar->identifier;
  event.calendarTitle = calendar->title;
  if (const auto error = store->saveEvent(event, *calendar)) {
    co_return textResult("Failed to create event: " + error->message);
  }
  co_return jsonReply(Json{{"created", true}, {"event", eventDictionary(event)}});
}

asio::awaitable<Json> CalendarToolProvider::open(Json arguments) {
  const auto eventId = nonBlank(arguments, "eventId");
  if (!eventId) co_return textResult("Missing eventId");
  const auto store = co_await eventStoreWithAccess();
  const auto event = store->event(*eventId);
  if (!event) co_return textResult("Event not found for eventId=" + *eventId);
  co_return jsonReply(Json{{"found", true}, {"event", eventDictionary(*event)}});
}

std::optional<icutime::WallTime> CalendarToolProvider::parseDate(const std::string& text) {
  const icu::TimeZone& utc = *icu::TimeZone::getGMT();
  if (auto date = icutime::parse(text, utc, "yyyy-MM-dd'T'HH:mm:ss.SSSXXX")) return date;
  if (auto date = icutime::parse(text, utc, "yyyy-MM-dd'T'HH:mm:ssXXX")) return date;
  const std::unique_ptr<icu::TimeZone> local(icu::TimeZone::createDefault());
  return icutime::parse(text, *local, "yyyy-MM-dd HH:mm:ss");
}

const std::string& CalendarToolProvider::helpText() {
  static const std::string text =
      "# Calendar Operations\n"
      "\n"
      "## Read Operations\n"
      "- list: events of the next 7 days\n"
      "- search: events whose title, location or notes contain searchText (one year back, two years ahead)\n"
      "- open: one event by eventId\n"
      "\n"
      "## Write Operations\n"
      "- create: a new event in the default calendar (title, startDate, endDate; optional location, notes)\n"
      "\n"
      "## Parameters\n"
      "- searchText: text to look for (search)\n"
      "- eventId: the event identifier (open)\n"
      "- limit: maximum events to return (default: 10 for list, 25 for search; max: 200)\n"
      "- title: event title (create)\n"
      "- startDate, endDate: ISO-8601 date-times, e.g. 2026-02-23T09:30:00Z (create)\n"
      "- location: event location (create)\n"
      "- notes: event notes (create)";
  return text;
}

}  // namespace qd
