#pragma once

// In-memory calendar and contact stores, sharing one state across the stores a provider
// makes (it makes one per call), so a test sets the status, answers and data once.

#include <memory>

#include "platform/calendar_store.h"
#include "platform/contact_store.h"

namespace qd::test {

struct CalendarState {
  platform::CalendarAuthorization status = platform::CalendarAuthorization::fullAccess;
  platform::AccessAnswer requestAnswer{true, std::nullopt};
  int requests = 0;
  std::vector<platform::EventCalendar> calendars{{"cal-1", "Home"}};
  std::optional<platform::EventCalendar> defaultCalendar = platform::EventCalendar{"cal-1", "Home"};
  std::vector<platform::CalendarEvent> events;
  std::optional<platform::StoreError> saveError;
  std::vector<std::pair<platform::WallTime, platform::WallTime>> queriedRanges;
  int saved = 0;
};

class MemoryCalendarStore final : public platform::CalendarStore {
 public:
  explicit MemoryCalendarStore(std::shared_ptr<CalendarState> state) : state_(std::move(state)) {}
  platform::CalendarAuthorization authorizationStatus() override { return state_->status; }
  void requestFullAccessToEvents(platform::AccessCompletion completion) override {
    ++state_->requests;
    completion(state_->requestAnswer);
  }
  std::vector<platform::EventCalendar> eventCalendars() override { return state_->calendars; }
  std::optional<platform::EventCalendar> defaultCalendarForNewEvents() override { return state_->defaultCalendar; }
  std::vector<platform::CalendarEvent> events(platform::WallTime start, platform::WallTime end,
                                              const std::vector<platform::EventCalendar>&) override {
    state_->queriedRanges.emplace_back(start, end);
    std::vector<platform::CalendarEvent> out;
    for (const auto& e : state_->events) {
      if (!e.startDate || (*e.startDate < end && e.endDate.value_or(*e.startDate) >= start)) out.push_back(e);
    }
    return out;
  }
  std::optional<platform::StoreError> saveEvent(platform::CalendarEvent& event,
                                                const platform::EventCalendar& calendar) override {
    if (state_->saveError) return state_->saveError;
    event.identifier = "new-" + std::to_string(++state_->saved);
    event.calendarIdentifier = calendar.identifier;
    event.calendarTitle = calendar.title;
    state_->events.push_back(event);
    return std::nullopt;
  }
  std::optional<platform::CalendarEvent> event(const std::string& identifier) override {
    for (const auto& e : state_->events) {
      if (e.identifier == identifier) return e;
    }
    return std::nullopt;
  }

 private:
  std::shared_ptr<CalendarState> state_;
};

struct ContactState {
  platform::ContactsAuthorization status = platform::ContactsAuthorization::authorized;
  platform::AccessAnswer requestAnswer{true, std::nullopt};
  int requests = 0;
  std::vector<platform::Contact> contacts;
  std::optional<platform::StoreError> enumerationError;
  int visited = 0;
};

class MemoryContactStore final : public platform::ContactStore {
 public:
  explicit MemoryContactStore(std::shared_ptr<ContactState> state) : state_(std::move(state)) {}
  platform::ContactsAuthorization authorizationStatus() override { return state_->status; }
  void requestAccess(platform::AccessCompletion completion) override {
    ++state_->requests;
    completion(state_->requestAnswer);
  }
  std::optional<platform::StoreError> enumerateContacts(
      const std::function<bool(const platform::Contact&)>& visit) override {
    if (state_->enumerationError) return state_->enumerationError;
    for (const auto& contact : state_->contacts) {
      ++state_->visited;
      if (!visit(contact)) break;
    }
    return std::nullopt;
  }

 private:
  std::shared_ptr<ContactState> state_;
};

}  // namespace qd::test
