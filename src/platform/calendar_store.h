#pragma once

// The user's calendars, as the calendar tool needs them: the authorization state and its
// request, the calendars, events in a time range, the default calendar, saving a new
// event and finding one by identifier. One store serves one call. On Linux there is no
// calendar service the system may read on the user's behalf, so the Linux store answers
// "restricted" and is never asked for data.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qd::platform {

// An error a store or the system reports: its domain, code and the user-readable text.
struct StoreError {
  std::string domain;
  int code = 0;
  std::string message;
};

// The answer to an access request: granted or not, or the request's own error.
struct AccessAnswer {
  bool granted = false;
  std::optional<StoreError> error;
};

// Called once with the answer, on any thread.
using AccessCompletion = std::function<void(AccessAnswer)>;

using WallTime = std::chrono::system_clock::time_point;

enum class CalendarAuthorization { notDetermined, restricted, denied, fullAccess, writeOnly, unknown };

struct EventCalendar {
  std::string identifier;
  std::string title;
};

struct CalendarEvent {
  std::string identifier;  // empty until saved
  std::string title;
  std::optional<WallTime> startDate;
  std::optional<WallTime> endDate;
  std::optional<std::string> location;
  std::optional<std::string> notes;
  std::string calendarIdentifier;
  std::string calendarTitle;
};

class CalendarStore {
 public:
  virtual ~CalendarStore() = default;
  virtual CalendarAuthorization authorizationStatus() = 0;
  // Asks the user for full access to events; `completion` gets the answer.
  virtual void requestFullAccessToEvents(AccessCompletion completion) = 0;
  virtual std::vector<EventCalendar> eventCalendars() = 0;
  virtual std::optional<EventCalendar> defaultCalendarForNewEvents() = 0;
  // Events overlapping [start, end) in the given calendars, in no particular order.
  virtual std::vector<CalendarEvent> events(WallTime start, WallTime end, const std::vector<EventCalendar>& calendars) = 0;
  // Saves a new event in `calendar` at once; on success the event gets its identifier and
  // calendar filled in.
  virtual std::optional<StoreError> saveEvent(CalendarEvent& event, const EventCalendar& calendar) = 0;
  virtual std::optional<CalendarEvent> event(const std::string& identifier) = 0;
};

using CalendarStoreFactory = std::function<std::unique_ptr<CalendarStore>()>;

// The Linux store: authorization "restricted", no calendars, no events.
std::unique_ptr<CalendarStore> makeSystemCalendarStore();

}  // namespace qd::platform
