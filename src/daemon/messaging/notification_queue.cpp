#include "daemon/messaging/notification_queue.h"

#include <set>

#include "daemon/logging/logger.h"
#include "daemon/utilities/agent_name.h"
#include "daemon/utilities/any_codable.h"
#include "daemon/utilities/json_codec.h"
#include "daemon/utilities/unicode_text.h"
#include "daemon/utilities/unix_time.h"

namespace qd {
namespace {

constexpr const char* kComponent = "NotificationQueue";

}  // namespace

Json Notification::toJson() const { return {{"from", from}, {"data", data}, {"timestamp", timestamp}}; }

Notification Notification::fromJson(const Json& value) {
  codec::expectObject(value, "a notification");
  return {codec::requiredString(value, "from"), codec::requiredObject(value, "data"),
          codec::requiredInt(value, "timestamp")};
}

Json MessagingStatistics::toJson() const {
  return {{"registeredAgents", registeredAgents},
          {"totalConnections", totalConnections},
          {"queuedNotifications", queuedNotifications}};
}

MessagingError MessagingError::invalidAgentName(const std::string& reason) {
  return {Kind::invalidAgentName, "Invalid agent name: " + reason};
}
MessagingError MessagingError::agentNameTaken(const std::string& name) {
  return {Kind::agentNameTaken, "Agent name '" + name + "' is already taken"};
}
MessagingError MessagingError::notificationTooLarge(std::int64_t size, std::int64_t maximum) {
  return {Kind::notificationTooLarge, "Notification size (" + std::to_string(size) + " bytes) exceeds maximum (" +
                                          std::to_string(maximum) + " bytes)"};
}
MessagingError MessagingError::queueFull(const std::string& name) {
  return {Kind::queueFull, "Notification queue full for agent '" + name + "'"};
}

void NotificationQueue::configure(std::int64_t maxNotificationsPerAgent) {
  maxNotificationsPerAgent_ = std::max<std::int64_t>(1, maxNotificationsPerAgent);
}

void NotificationQueue::identifyAgent(const std::string& clientId, const std::string& name,
                                      const std::optional<std::string>& agentId) {
  const std::size_t characters = unicode::graphemeCount(name);
  if (characters < 1 || characters > 50) throw MessagingError::invalidAgentName("Agent name must be 1-50 characters");
  if (!isValidAgentName(name)) {
    throw MessagingError::invalidAgentName("Agent name must contain only alphanumeric, underscore, or hyphen");
  }
  for (const auto& [otherClient, heldName] : agentNames_) {
    if (heldName == name && otherClient != clientId) throw MessagingError::agentNameTaken(name);
  }
  agentNames_[clientId] = name;
  if (agentId) agentIds_[clientId] = *agentId;
  notifications_.try_emplace(name);
  Logger::info(kComponent, "Agent identified",
               {{"clientId", clientId}, {"agentName", name}, {"authenticated", agentId ? "true" : "false"}});
}

bool NotificationQueue::isRegistered(const std::string& name) const {
  for (const auto& [client, heldName] : agentNames_) {
    if (heldName == name) return true;
  }
  return false;
}

void NotificationQueue::notify(const std::string& from, const std::string& recipientSelector, const Json& data) {
  ensureEncodable(data);
  const auto size = static_cast<std::int64_t>(dumpJson(data).size());
  if (size > maxNotificationSize) throw MessagingError::notificationTooLarge(size, maxNotificationSize);

  const Json payload = AnyCodable::decode(data).value();
  const std::int64_t timestamp = unixMilliseconds(clock_.wallNow());

  std::vector<std::string> recipients;
  if (recipientSelector == "*" || recipientSelector == "all") {
    for (const auto& name : listAgents()) {
      if (name != from) recipients.push_back(name);
    }
  } else {
    recipients.push_back(recipientSelector);
  }

  for (const auto& recipient : recipients) {
    if (!isRegistered(recipient)) {
      Logger::warn(kComponent, "Recipient not registered", {{"recipient", recipient}});
      continue;
    }
    auto& mailbox = notifications_[recipient];
    if (static_cast<std::int64_t>(mailbox.size()) >= maxNotificationsPerAgent_) {
      Logger::warn(kComponent, "Notification queue full for agent",
                   {{"agent", recipient}, {"queueLength", mailbox.size()}});
      throw MessagingError::queueFull(recipient);
    }
    mailbox.push_back(Notification{from, payload, timestamp});
    Logger::debug(kComponent, "Notification queued",
                  {{"from", from}, {"to", recipient}, {"queueLength", mailbox.size()}});
  }
}

std::vector<Notification> NotificationQueue::checkWork(const std::string& name) {
  auto it = notifications_.find(name);
  if (it == notifications_.end() || it->second.empty()) return {};
  std::vector<Notification> work = std::exchange(it->second, {});
  Logger::info(kComponent, "Work retrieved", {{"agent", name}, {"count", work.size()}});
  return work;
}

std::optional<std::string> NotificationQueue::getAgentName(const std::string& clientId) const {
  auto it = agentNames_.find(clientId);
  if (it == agentNames_.end()) return std::nullopt;
  return it->second;
}

std::vector<std::string> NotificationQueue::listAgents() const {
  std::set<std::string> names;
  for (const auto& [client, name] : agentNames_) names.insert(name);
  return {names.begin(), names.end()};
}

void NotificationQueue::unregisterAgent(const std::string& clientId) {
  auto it = agentNames_.find(clientId);
  if (it == agentNames_.end()) return;
  const std::string name = it->second;
  agentNames_.erase(it);
  agentIds_.erase(clientId);
  if (isRegistered(name)) return;  // another client still speaks for this agent
  notifications_.erase(name);
  Logger::info(kComponent, "Agent unregistered", {{"clientId", clientId}, {"agentName", name}});
}

MessagingStatistics NotificationQueue::getStatistics() const {
  MessagingStatistics stats;
  stats.registeredAgents = static_cast<std::int64_t>(listAgents().size());
  stats.totalConnections = static_cast<std::int64_t>(agentNames_.size());
  for (const auto& [name, mailbox] : notifications_) stats.queuedNotifications += static_cast<std::int64_t>(mailbox.size());
  return stats;
}

}  // namespace qd
