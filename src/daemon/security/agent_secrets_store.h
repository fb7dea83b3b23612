#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "daemon/security/agent_registry.h"
#include "daemon/utilities/clock.h"
#include "daemon/utilities/error.h"

namespace qd {

class AgentError : public Error {
 public:
  enum class Kind { invalidName, duplicateName, notFound };
  static AgentError invalidName(std::string_view name);
  static AgentError duplicateName(std::string_view name);
  static AgentError notFound();
  Kind kind() const { return kind_; }

 private:
  AgentError(Kind kind, std::string description) : Error(std::move(description)), kind_(kind) {}
  Kind kind_;
};

// The outcome of an authentication. The store itself never answers rateLimited; the
// identify tool does, after asking the authentication rate limiter.
struct AuthResult {
  enum class Kind { success, rateLimited, invalidSecret, agentNotFound, disabled };
  Kind kind;
  std::optional<Uuid> agentId;  // with success
  double retryAfter = 0;        // seconds, with rateLimited

  static AuthResult success(const Uuid& id) { return {Kind::success, id, 0}; }
  static AuthResult rateLimited(double seconds) { return {Kind::rateLimited, std::nullopt, seconds}; }
  static AuthResult invalidSecret() { return {Kind::invalidSecret, std::nullopt, 0}; }
  static AuthResult agentNotFound() { return {Kind::agentNotFound, std::nullopt, 0}; }
  static AuthResult disabled() { return {Kind::disabled, std::nullopt, 0}; }
};

struct CreatedAgent {
  RegisteredAgent agent;
  std::string secret;  // handed out once, stored nowhere
};

// The daemon's one store of agent identities, persisted in agent-secrets.json (mode 0600
// from the moment the file exists, pretty-printed with sorted keys) after every change.
// The file holds salts and hashes only. Used on the daemon's thread only; every operation
// finishes its save before it returns. A failed save leaves the change in memory.
class AgentSecretsStore {
 public:
  static constexpr std::size_t maxNameLength = 50;

  // Without a path: Configuration::shared().appSupportDir() / "agent-secrets.json". Reads
  // the file now; a missing, empty or unreadable file gives an empty registry without
  // error. An unreadable file is kept beside the new one, under a time-stamped name, by the
  // first save (with a warning) instead of being overwritten.
  explicit AgentSecretsStore(std::optional<std::filesystem::path> storageURL = std::nullopt,
                             const Clock& clock = Clock::system());

  const std::filesystem::path& storageURL() const { return storageURL_; }

  // Throws AgentError (invalidName, duplicateName) before any change, FileWriteError when
  // the save fails (the agent stays registered in memory).
  CreatedAgent createAgent(const std::string& name);
  // Never throws; a failed save of the new last-authentication time is ignored.
  AuthResult authenticate(std::string_view name, std::string_view secret);

  std::optional<RegisteredAgent> getAgent(const Uuid& id) const { return registry_.getAgent(id); }
  std::optional<RegisteredAgent> getAgent(std::string_view name) const { return registry_.getAgent(name); }
  void update(const RegisteredAgent& agent);
  void deleteAgent(const Uuid& id);
  // The old secret stops working at once; the last authentication time is cleared.
  std::string regenerateSecret(const Uuid& agentId);
  std::vector<RegisteredAgent> listActive() const { return registry_.listActive(); }
  std::vector<RegisteredAgent> listAll() const { return registry_.listAll(); }
  void updateToolPolicy(const Uuid& agentId, const AgentToolPolicy& policy);
  void grantPermission(const Uuid& agentId, const std::string& category, bool read, bool write);
  void revokePermission(const Uuid& agentId, std::string_view category);

 private:
  RegisteredAgent requireAgent(const Uuid& id) const;
  void save();

  AgentRegistry registry_;
  std::filesystem::path storageURL_;
  const Clock& clock_;
  bool keepFileBeforeSave_ = false;
};

}  // namespace qd
