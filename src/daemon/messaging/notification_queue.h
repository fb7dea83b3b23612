#pragma once

// The message bus between agents: which socket client speaks for which agent name, one
// mailbox per agent name, delivery to one agent or to every other registered agent, and
// the hand-over of a mailbox when its agent asks for its work. Nothing is persisted.
//
// Lives on the daemon's thread; no operation suspends, so each one is atomic with respect
// to the others.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "daemon/utilities/clock.h"
#include "daemon/utilities/error.h"
#include "daemon/utilities/json.h"

namespace qd {

struct Notification {
  std::string from;
  Json data;  // an object, exactly as sent
  std::int64_t timestamp = 0;  // milliseconds since 1970

  Json toJson() const;
  static Notification fromJson(const Json& value);
  bool operator==(const Notification&) const = default;
};

struct MessagingStatistics {
  std::int64_t registeredAgents = 0;
  std::int64_t totalConnections = 0;
  std::int64_t queuedNotifications = 0;

  Json toJson() const;
  bool operator==(const MessagingStatistics&) const = default;
};

class MessagingError : public Error {
 public:
  enum class Kind { invalidAgentName, agentNameTaken, notificationTooLarge, queueFull };

  static MessagingError invalidAgentName(const std::string& reason);
  static MessagingError agentNameTaken(const std::string& name);
  static MessagingError notificationTooLarge(std::int64_t size, std::int64_t maximum);
  static MessagingError queueFull(const std::string& name);

  Kind kind() const { return kind_; }

 private:
  MessagingError(Kind kind, std::string description) : Error(std::move(description)), kind_(kind) {}
  Kind kind_;
};

class NotificationQueue {
 public:
  static constexpr std::int64_t maxNotificationSize = 100000;

  explicit NotificationQueue(const Clock& clock = Clock::system()) : clock_(clock) {}

  // A limit below 1 is stored as 1; longer mailboxes are not shortened.
  void configure(std::int64_t maxNotificationsPerAgent);
  std::int64_t maxNotificationsPerAgent() const { return maxNotificationsPerAgent_; }

  void identifyAgent(const std::string& clientId, const std::string& name,
                     const std::optional<std::string>& agentId = std::nullopt);
  // `recipientSelector` is one agent name, or exactly "*" or "all" for every other
  // registered agent. `data` must be a JSON object.
  void notify(const std::string& from, const std::string& recipientSelector, const Json& data);
  std::vector<Notification> checkWork(const std::string& name);
  std::optional<std::string> getAgentName(const std::string& clientId) const;
  std::vector<std::string> listAgents() const;  // sorted, distinct
  // Whether some client holds the name now.
  bool isRegistered(const std::string& name) const;
  void unregisterAgent(const std::string& clientId);
  MessagingStatistics getStatistics() const;

 private:
  const Clock& clock_;
  std::int64_t maxNotificationsPerAgent_ = 1000;
  std::map<std::string, std::string> agentNames_;  // client id -> agent name
  std::map<std::string, std::string> agentIds_;    // client id -> agent id
  std::map<std::string, std::vector<Notification>> notifications_;
};

}  // namespace qd
