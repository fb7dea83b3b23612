#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "daemon/config/tool_settings.h"
#include "daemon/security/secret_hasher.h"
#include "daemon/utilities/json.h"

namespace qd {

// Times in agent-secrets.json are numbers of seconds, with fraction, since
// 2001-01-01T00:00:00Z. They are kept to the microsecond, which such a number holds
// exactly, so a record reads back equal to the one that was written.
using AgentDate = std::chrono::time_point<std::chrono::system_clock, std::chrono::microseconds>;
double secondsSinceReferenceDate(AgentDate date);
// Throws DecodingError for a number too far from today to be a time of this system.
AgentDate agentDateFromReferenceSeconds(double seconds);

struct CategoryPermission {
  bool read = false;
  bool write = false;

  static CategoryPermission fromJson(const Json& json);  // both keys required
  Json toJson() const;
  friend bool operator==(const CategoryPermission&, const CategoryPermission&) = default;
};

// An agent's tool permissions by category. Deny by default: a category without an entry
// allows nothing.
struct AgentToolPolicy {
  std::map<std::string, CategoryPermission, std::less<>> categoryPermissions;

  bool hasPermission(std::string_view category, ToolCapability capability) const;
  void grant(const std::string& category, bool read, bool write);
  void revoke(std::string_view category);

  static AgentToolPolicy fromJson(const Json& json);
  Json toJson() const;
  friend bool operator==(const AgentToolPolicy&, const AgentToolPolicy&) = default;
};

struct RegisteredAgent {
  Uuid id;
  std::string name;        // unique, compared exactly
  std::string secretHash;  // 64 lower-case hex digits
  std::string salt;
  AgentDate createdAt;
  std::optional<AgentDate> lastAuthAt;
  AgentToolPolicy toolPolicy;
  bool isActive = true;

  // Every key but "lastAuthAt" is required and must have its kind; throws DecodingError.
  static RegisteredAgent fromJson(const Json& json);
  Json toJson() const;  // "lastAuthAt" only when present
  friend bool operator==(const RegisteredAgent&, const RegisteredAgent&) = default;
};

// All registered agents, keyed by id. JSON: {"agents": {"<ID TEXT>": record, ...}}.
struct AgentRegistry {
  std::map<Uuid, RegisteredAgent> agents;

  std::optional<RegisteredAgent> getAgent(const Uuid& id) const;
  // Exact, case-sensitive name equality.
  std::optional<RegisteredAgent> getAgent(std::string_view name) const;
  // Stores the record under its own id, inserting or replacing.
  void upsert(const RegisteredAgent& agent);
  void remove(const Uuid& agentId);
  // Sorted by name: Unicode scalar order of the names' composed forms, stable.
  std::vector<RegisteredAgent> listActive() const;
  std::vector<RegisteredAgent> listAll() const;

  // Throws DecodingError for a key that is not an id or any record that cannot be read.
  static AgentRegistry fromJson(const Json& json);
  Json toJson() const;
};

}  // namespace qd
