#include "daemon/security/agent_registry.h"

#include <gtest/gtest.h>

#include "daemon/utilities/json_codec.h"

namespace qd {
namespace {

RegisteredAgent makeAgent(std::string name, bool active = true) {
  RegisteredAgent agent;
  agent.id = Uuid::random();
  agent.name = std::move(name);
  agent.secretHash = std::string(64, 'a');
  agent.salt = "salt";
  agent.createdAt = agentDateFromReferenceSeconds(794000000.25);
  agent.isActive = active;
  return agent;
}

TEST(AgentToolPolicy, DeniesByDefaultGrantsAndRevokes) {
  AgentToolPolicy policy;
  EXPECT_FALSE(policy.hasPermission("omnifocus", ToolCapability::read));
  EXPECT_FALSE(policy.hasPermission("omnifocus", ToolCapability::write));
  policy.grant("omnifocus", true, false);
  EXPECT_TRUE(policy.hasPermission("omnifocus", ToolCapability::read));
  EXPECT_FALSE(policy.hasPermission("omnifocus", ToolCapability::write));
  EXPECT_FALSE(policy.hasPermission("apple", ToolCapability::read));
  policy.grant("omnifocus", false, true);  // replaces
  EXPECT_FALSE(policy.hasPermission("omnifocus", ToolCapability::read));
  EXPECT_TRUE(policy.hasPermission("omnifocus", ToolCapability::write));
  policy.revoke("omnifocus");
  policy.revoke("never-granted");
  EXPECT_FALSE(policy.hasPermission("omnifocus", ToolCapability::write));
  EXPECT_TRUE(policy.categoryPermissions.empty());
}

TEST(AgentRegistry, LookUpsUpsertAndRemove) {
  AgentRegistry registry;
  const RegisteredAgent alice = makeAgent("alice");
  registry.upsert(alice);
  EXPECT_EQ(registry.getAgent(alice.id), alice);
  EXPECT_EQ(registry.getAgent("alice"), alice);
  EXPECT_EQ(registry.getAgent("Alice"), std::nullopt);
  EXPECT_EQ(registry.getAgent(Uuid::random()), std::nullopt);

  RegisteredAgent renamed = alice;
  renamed.name = "bob";
  registry.upsert(renamed);
  EXPECT_EQ(registry.agents.size(), 1u);
  EXPECT_EQ(registry.getAgent("alice"), std::nullopt);
  EXPECT_EQ(registry.getAgent("bob"), renamed);

  registry.remove(Uuid::random());
  EXPECT_EQ(registry.agents.size(), 1u);
  registry.remove(alice.id);
  EXPECT_TRUE(registry.agents.empty());
}

TEST(AgentRegistry, ListsInNameOrderAndLeavesInactiveOutOfListActive) {
  AgentRegistry registry;
  EXPECT_TRUE(registry.listActive().empty());
  for (const char* name : {"zed", "_under", "Zulu", "7seven", "-dash", "alpha"}) registry.upsert(makeAgent(name));
  registry.upsert(makeAgent("beta", false));

  std::vector<std::string> all;
  for (const auto& a : registry.listAll()) all.push_back(a.name);
  EXPECT_EQ(all, (std::vector<std::string>{"-dash", "7seven", "Zulu", "_under", "alpha", "beta", "zed"}));
  std::vector<std::string> active;
  for (const auto& a : registry.listActive()) active.push_back(a.name);
  EXPECT_EQ(active, (std::vector<std::string>{"-dash", "7seven", "Zulu", "_under", "alpha", "zed"}));

  AgentRegistry sleeping;
  sleeping.upsert(makeAgent("a", false));
  EXPECT_TRUE(sleeping.listActive().empty());
}

TEST(AgentRegistry, JsonRoundTripAndRequiredKeys) {
  AgentRegistry registry;
  RegisteredAgent alice = makeAgent("alice");
  alice.lastAuthAt = agentDateFromReferenceSeconds(794000100.123456);
  alice.toolPolicy.grant("apple", true, false);
  registry.upsert(alice);
  registry.upsert(makeAgent("bob", false));

  const Json encoded = registry.toJson();
  const Json& record = encoded["agents"][alice.id.uuidString()];
  EXPECT_EQ(record["id"], alice.id.uuidString());
  EXPECT_DOUBLE_EQ(record["createdAt"].get<double>(), 794000000.25);
  EXPECT_FALSE(encoded["agents"][registry.getAgent("bob")->id.uuidString()].contains("lastAuthAt"));
  EXPECT_EQ(AgentRegistry::fromJson(parseJson(dumpJson(encoded))).agents, registry.agents);

  Json noLastAuth = record;
  noLastAuth.erase("lastAuthAt");
  EXPECT_EQ(RegisteredAgent::fromJson(noLastAuth).lastAuthAt, std::nullopt);
  Json nullLastAuth = record;
  nullLastAuth["lastAuthAt"] = nullptr;
  EXPECT_EQ(RegisteredAgent::fromJson(nullLastAuth).lastAuthAt, std::nullopt);

  for (const char* key : {"id", "name", "secretHash", "salt", "createdAt", "toolPolicy", "isActive"}) {
    Json missing = encoded;
    missing["agents"][alice.id.uuidString()].erase(key);
    EXPECT_THROW(AgentRegistry::fromJson(missing), DecodingError) << key;
  }
  Json badKind = record;
  badKind["isActive"] = 1;
  EXPECT_THROW(RegisteredAgent::fromJson(badKind), DecodingError);
  Json badDate = record;
  badDate["createdAt"] = 1e300;
  EXPECT_THROW(RegisteredAgent::fromJson(badDate), DecodingError);
  EXPECT_THROW(AgentRegistry::fromJson(Json{{"agents", {{"not-an-id", record}}}}), DecodingError);
  EXPECT_THROW(AgentRegistry::fromJson(Json::object()), DecodingError);
}

}  // namespace
}  // namespace qd
