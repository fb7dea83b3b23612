#include "app/settings/agent_management.h"

#include "daemon/utilities/json_codec.h"

namespace qd {

// The daemon's own readers and writers: the records share its format.
CategoryPermissionData CategoryPermissionData::fromJson(const Json& json) {
  const CategoryPermission permission = CategoryPermission::fromJson(json);
  return CategoryPermissionData{permission.read, permission.write};
}

Json CategoryPermissionData::toJson() const { return CategoryPermission{read, write}.toJson(); }

ToolPolicyData ToolPolicyData::fromJson(const Json& json) {
  ToolPolicyData policy;
  for (const auto& [category, permission] : AgentToolPolicy::fromJson(json).categoryPermissions) {
    policy.categoryPermissions[category] = CategoryPermissionData{permission.read, permission.write};
  }
  return policy;
}

Json ToolPolicyData::toJson() const {
  AgentToolPolicy policy;
  for (const auto& [category, permission] : categoryPermissions) policy.grant(category, permission.read, permission.write);
  return policy.toJson();
}

AgentInfo AgentInfo::fromJson(const Json& json) {
  codec::expectObject(json, "AgentInfo");
  const std::string idText = codec::requiredString(json, "id");
  auto id = Uuid::parse(idText);
  if (!id) throw DecodingError(DecodingError::Kind::dataCorrupted, "Invalid agent id: " + idText);
  AgentInfo agent;
  agent.id = *id;
  agent.name = codec::requiredString(json, "name");
  agent.createdAt = agentDateFromReferenceSeconds(codec::asDouble(codec::requiredMember(json, "createdAt"), "createdAt"));
  if (auto last = codec::optionalDouble(json, "lastAuthAt")) agent.lastAuthAt = agentDateFromReferenceSeconds(*last);
  agent.isActive = codec::requiredBool(json, "isActive");
  agent.toolPolicy = ToolPolicyData::fromJson(codec::requiredMember(json, "toolPolicy"));
  return agent;
}

Json AgentInfo::toJson() const {
  Json out{{"id", id.uuidString()}, {"name", name}, {"createdAt", secondsSinceReferenceDate(createdAt)}};
  if (lastAuthAt) out["lastAuthAt"] = secondsSinceReferenceDate(*lastAuthAt);
  out["isActive"] = isActive;
  out["toolPolicy"] = toolPolicy.toJson();
  return out;
}

void AgentManagementViewModel::setAgents(std::vector<AgentInfo> value) {
  publish(agents_, std::move(value), &AgentManagementViewModel::agentsChanged);
}
void AgentManagementViewModel::setSelectedAgentId(std::optional<Uuid> value) {
  publish(selectedAgentId_, std::move(value), &AgentManagementViewModel::selectedAgentIdChanged);
}
void AgentManagementViewModel::setStatusMessage(std::string value) {
  publish(statusMessage_, std::move(value), &AgentManagementViewModel::statusMessageChanged);
}
void AgentManagementViewModel::setIsLoading(bool value) {
  publish(isLoading_, value, &AgentManagementViewModel::isLoadingChanged);
}
void AgentManagementViewModel::setShowCreateSheet(bool value) {
  publish(showCreateSheet_, value, &AgentManagementViewModel::showCreateSheetChanged);
}
void AgentManagementViewModel::setShowRegenerateConfirmation(bool value) {
  publish(showRegenerateConfirmation_, value, &AgentManagementViewModel::showRegenerateConfirmationChanged);
}
void AgentManagementViewModel::setShowDeleteConfirmation(bool value) {
  publish(showDeleteConfirmation_, value, &AgentManagementViewModel::showDeleteConfirmationChanged);
}

}  // namespace qd
