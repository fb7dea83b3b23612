#include "platform/calendar_store.h"

namespace qd::platform {
namespace {

// No calendar service grants this process access on Linux: every data call is refused
// before it gets here, because the status is never one that allows it.
class RestrictedCalendarStore final : public CalendarStore {
 public:
  CalendarAuthorization authorizationStatus() override { return CalendarAuthorization::restricted; }
  void requestFullAccessToEvents(AccessCompletion completion) override { completion(AccessAnswer{}); }
  std::vector<EventCalendar> eventCalendars() override { return {}; }
  std::optional<EventCalendar> defaultCalendarForNewEvents() override { return std::nullopt; }
  std::vector<CalendarEvent> events(WallTime, WallTime, const std::vector<EventCalendar>&) override { return {}; }
  std::optional<StoreError> saveEvent(CalendarEvent&, const EventCalendar&) override {
    return StoreError{"CalendarStore", 1, "Calendar access is restricted on this system."};
  }
  std::optional<CalendarEvent> event(const std::string&) override { return std::nullopt; }
};

}  // namespace

std::unique_ptr<CalendarStore> makeSystemCalendarStore() { return std::make_unique<RestrictedCalendarStore>(); }

}  // namespace qd::platform
