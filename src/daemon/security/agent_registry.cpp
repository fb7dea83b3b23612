#include "daemon/security/agent_registry.h"

#include <algorithm>
#include <cmath>

#include "daemon/utilities/json_codec.h"
#include "daemon/utilities/unicode_text.h"

namespace qd {
namespace {

// 2001-01-01T00:00:00Z in seconds since 1970.
constexpr std::int64_t kReferenceDateUnixSeconds = 978307200;
// About ten thousand years either way: far beyond any real time, well inside what a
// 64-bit count of microseconds can hold.
constexpr double kLargestReferenceSeconds = 3.2e11;

std::vector<RegisteredAgent> sortedByName(std::vector<RegisteredAgent> agents) {
  std::vector<std::pair<std::string, RegisteredAgent>> keyed;
  keyed.reserve(agents.size());
  for (auto& agent : agents) keyed.emplace_back(unicode::normalizedNFC(agent.name), std::move(agent));
  // UTF-8 byte order is the order of the scalar values it encodes.
  std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<RegisteredAgent> out;
  out.reserve(keyed.size());
  for (auto& entry : keyed) out.push_back(std::move(entry.second));
  return out;
}

AgentDate requiredDate(const Json& object, std::string_view key) {
  return agentDateFromReferenceSeconds(codec::asDouble(codec::requiredMember(object, key), key));
}

}  // namespace

double secondsSinceReferenceDate(AgentDate date) {
  const auto micros = date.time_since_epoch().count() - kReferenceDateUnixSeconds * 1'000'000;
  return static_cast<double>(micros) / 1e6;
}

AgentDate agentDateFromReferenceSeconds(double seconds) {
  if (!std::isfinite(seconds) || std::fabs(seconds) > kLargestReferenceSeconds) {
    throw DecodingError(DecodingError::Kind::dataCorrupted, "Date out of range: " + std::to_string(seconds));
  }
  const auto micros = std::llround(seconds * 1e6) + kReferenceDateUnixSeconds * 1'000'000;
  return AgentDate(std::chrono::microseconds(micros));
}

CategoryPermission CategoryPermission::fromJson(const Json& json) {
  codec::expectObject(json, "CategoryPermission");
  return CategoryPermission{codec::requiredBool(json, "read"), codec::requiredBool(json, "write")};
}

Json CategoryPermission::toJson() const { return Json{{"read", read}, {"write", write}}; }

bool AgentToolPolicy::hasPermission(std::string_view category, ToolCapability capability) const {
  auto it = categoryPermissions.find(category);
  if (it == categoryPermissions.end()) return false;
  return capability == ToolCapability::read ? it->second.read : it->second.write;
}

void AgentToolPolicy::grant(const std::string& category, bool read, bool write) {
  categoryPermissions[category] = CategoryPermission{read, write};
}

void AgentToolPolicy::revoke(std::string_view category) {
  if (auto it = categoryPermissions.find(category); it != categoryPermissions.end()) categoryPermissions.erase(it);
}

AgentToolPolicy AgentToolPolicy::fromJson(const Json& json) {
  codec::expectObject(json, "AgentToolPolicy");
  AgentToolPolicy policy;
  const Json& map = codec::asObject(codec::requiredMember(json, "categoryPermissions"), "categoryPermissions");
  for (const auto& [category, value] : map.items()) {
    policy.categoryPermissions[category] = CategoryPermission::fromJson(value);
  }
  return policy;
}

Json AgentToolPolicy::toJson() const {
  Json map = Json::object();
  for (const auto& [category, permission] : categoryPermissions) map[category] = permission.toJson();
  return Json{{"categoryPermissions", std::move(map)}};
}

RegisteredAgent RegisteredAgent::fromJson(const Json& json) {
  codec::expectObject(json, "RegisteredAgent");
  const std::string idText = codec::requiredString(json, "id");
  auto id = Uuid::parse(idText);
  if (!id) throw DecodingError(DecodingError::Kind::dataCorrupted, "Invalid agent id: " + idText);
  RegisteredAgent agent;
  agent.id = *id;
  agent.name = codec::requiredString(json, "name");
  agent.secretHash = codec::requiredString(json, "secretHash");
  agent.salt = codec::requiredString(json, "salt");
  agent.createdAt = requiredDate(json, "createdAt");
  if (auto last = codec::optionalDouble(json, "lastAuthAt")) agent.lastAuthAt = agentDateFromReferenceSeconds(*last);
  agent.toolPolicy = AgentToolPolicy::fromJson(codec::requiredMember(json, "toolPolicy"));
  agent.isActive = codec::requiredBool(json, "isActive");
  return agent;
}

Json RegisteredAgent::toJson() const {
  Json out{
      {"id", id.uuidString()},
      {"name", name},
      {"secretHash", secretHash},
      {"salt", salt},
      {"createdAt", secondsSinceReferenceDate(createdAt)},
  };
  if (lastAuthAt) out["lastAuthAt"] = secondsSinceReferenceDate(*lastAuthAt);
  out["toolPolicy"] = toolPolicy.toJson();
  out["isActive"] = isActive;
  return out;
}

std::optional<RegisteredAgent> AgentRegistry::getAgent(const Uuid& id) const {
  if (auto it = agents.find(id); it != agents.end()) return it->second;
  return std::nullopt;
}

std::optional<RegisteredAgent> AgentRegistry::getAgent(std::string_view name) const {
  for (const auto& [id, agent] : agents) {
    if (agent.name == name) return agent;
  }
  return std::nullopt;
}

void AgentRegistry::upsert(const RegisteredAgent& agent) { agents.insert_or_assign(agent.id, agent); }

void AgentRegistry::remove(const Uuid& agentId) { agents.erase(agentId); }

std::vector<RegisteredAgent> AgentRegistry::listActive() const {
  std::vector<RegisteredAgent> active;
  for (const auto& [id, agent] : agents) {
    if (agent.isActive) active.push_back(agent);
  }
  return sortedByName(std::move(active));
}

std::vector<RegisteredAgent> AgentRegistry::listAll() const {
  std::vector<RegisteredAgent> all;
  for (const auto& [id, agent] : agents) all.push_back(agent);
  return sortedByName(std::move(all));
}

AgentRegistry AgentRegistry::fromJson(const Json& json) {
  codec::expectObject(json, "AgentRegistry");
  AgentRegistry registry;
  const Json& map = codec::asObject(codec::requiredMember(json, "agents"), "agents");
  for (const auto& [key, value] : map.items()) {
    if (!Uuid::parse(key)) throw DecodingError(DecodingError::Kind::dataCorrupted, "Invalid agent id key: " + key);
    // The record's own id is its key in memory, whatever the file said.
    registry.upsert(RegisteredAgent::fromJson(value));
  }
  return registry;
}

Json AgentRegistry::toJson() const {
  Json map = Json::object();
  for (const auto& [id, agent] : agents) map[id.uuidString()] = agent.toJson();
  return Json{{"agents", std::move(map)}};
}

}  // namespace qd
