#include "daemon/security/agent_secrets_store.h"

#include <algorithm>

#include "daemon/config/configuration.h"
#include "daemon/logging/logger.h"
#include "daemon/utilities/agent_name.h"
#include "daemon/utilities/atomic_file.h"
#include "daemon/utilities/json.h"

namespace qd {
namespace {

AgentDate nowAsAgentDate(const Clock& clock) {
  return std::chrono::time_point_cast<std::chrono::microseconds>(clock.wallNow());
}

bool isBlank(std::string_view text) {
  return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

}  // namespace

AgentError AgentError::invalidName(std::string_view name) {
  return AgentError(Kind::invalidName, "Invalid agent name '" + std::string(name) +
                                           "'. Must be alphanumeric, underscore, or hyphen (max 50 chars)");
}

AgentError AgentError::duplicateName(std::string_view name) {
  return AgentError(Kind::duplicateName, "Agent name '" + std::string(name) + "' already exists");
}

AgentError AgentError::notFound() { return AgentError(Kind::notFound, "Agent not found"); }

AgentSecretsStore::AgentSecretsStore(std::optional<std::filesystem::path> storageURL, const Clock& clock)
    : storageURL_(storageURL ? std::move(*storageURL) : Configuration::shared().appSupportDir() / "agent-secrets.json"),
      clock_(clock) {
  try {
    auto text = readFileIfPresent(storageURL_);
    if (!text || isBlank(*text)) return;
    registry_ = AgentRegistry::fromJson(parseJson(*text));
  } catch (const Error&) {
    registry_ = AgentRegistry();
    keepFileBeforeSave_ = true;
  }
}

CreatedAgent AgentSecretsStore::createAgent(const std::string& name) {
  if (!isValidAgentName(name) || name.size() > maxNameLength) throw AgentError::invalidName(name);
  if (registry_.getAgent(std::string_view(name))) throw AgentError::duplicateName(name);

  std::string secret = SecretHasher::generateSecret();
  RegisteredAgent agent;
  agent.id = Uuid::random();
  agent.name = name;
  agent.salt = SecretHasher::generateSalt();
  agent.secretHash = SecretHasher::hash(secret, agent.salt);
  agent.createdAt = nowAsAgentDate(clock_);
  agent.isActive = true;
  registry_.upsert(agent);
  save();
  return CreatedAgent{std::move(agent), std::move(secret)};
}

AuthResult AgentSecretsStore::authenticate(std::string_view name, std::string_view secret) {
  auto agent = registry_.getAgent(name);
  if (!agent) return AuthResult::agentNotFound();
  if (!agent->isActive) return AuthResult::disabled();
  if (!SecretHasher::verify(secret, agent->salt, agent->secretHash)) return AuthResult::invalidSecret();
  agent->lastAuthAt = nowAsAgentDate(clock_);
  registry_.upsert(*agent);
  try {
    save();
  } catch (const Error&) {
    // The agent proved who it is; a stale last-authentication time on disk is no reason
    // to turn it away.
  }
  return AuthResult::success(agent->id);
}

void AgentSecretsStore::update(const RegisteredAgent& agent) {
  registry_.upsert(agent);
  save();
}

void AgentSecretsStore::deleteAgent(const Uuid& id) {
  registry_.remove(id);
  save();
}

std::string AgentSecretsStore::regenerateSecret(const Uuid& agentId) {
  RegisteredAgent agent = requireAgent(agentId);
  std::string secret = SecretHasher::generateSecret();
  agent.salt = SecretHasher::generateSalt();
  agent.secretHash = SecretHasher::hash(secret, agent.salt);
  agent.lastAuthAt.reset();
  registry_.upsert(agent);
  save();
  return secret;
}

void AgentSecretsStore::updateToolPolicy(const Uuid& agentId, const AgentToolPolicy& policy) {
  RegisteredAgent agent = requireAgent(agentId);
  agent.toolPolicy = policy;
  registry_.upsert(agent);
  save();
}

void AgentSecretsStore::grantPermission(const Uuid& agentId, const std::string& category, bool read, bool write) {
  RegisteredAgent agent = requireAgent(agentId);
  agent.toolPolicy.grant(category, read, write);
  registry_.upsert(agent);
  save();
}

void AgentSecretsStore::revokePermission(const Uuid& agentId, std::string_view category) {
  RegisteredAgent agent = requireAgent(agentId);
  agent.toolPolicy.revoke(category);
  registry_.upsert(agent);
  save();
}

RegisteredAgent AgentSecretsStore::requireAgent(const Uuid& id) const {
  auto agent = registry_.getAgent(id);
  if (!agent) throw AgentError::notFound();
  return *agent;
}

void AgentSecretsStore::save() {
  // Sorted keys: people compare and diff this file.
  const std::string bytes = dumpJson(withSortedKeys(registry_.toJson()), 2);
  if (keepFileBeforeSave_) {
    // Throws when no copy can be made: then the unreadable file stays as it is.
    if (auto kept = keepUnreadableFile(storageURL_, clock_.wallNow())) {
      Logger::warn("Security", "Kept the unreadable agent secrets file before replacing it",
                   {{"path", storageURL_.string()}, {"keptAs", kept->string()}});
    }
    keepFileBeforeSave_ = false;
  }
  // Mode 0600 from creation: the file is never readable by others, not even for a moment.
  writeFileAtomically(storageURL_, bytes, AtomicWriteOptions().withMode(0600).creatingFolder());
}

}  // namespace qd
