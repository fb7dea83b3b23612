#include "app/settings/agent_management.h"

#include "daemon/utilities/json_codec.h"

namespace qd {

CategoryPermissionData CategoryPermissionData::fromJson(const Json& json) {
  codec::expectObject(json, "CategoryPermissionData");
  return CategoryPermissionData{codec::requiredBool(json, "read"), codec::requiredBool(json, "write")};
}

Json CategoryPermissionData::toJson() const { return Json{{"read", read}, {"write", write}}; }

ToolPolicyData ToolPolicyData::fromJson(const Json& json) {
  codec::expectObject(json, "ToolPolicyData");
  ToolPolicyData policy;
  const Json& map = codec::asObject(codec::requiredMember(json, "categoryPermissions"), "categoryPermissions");
  for (const auto& [category, value] : map.items()) {
    policy.categoryPermissions[category] = CategoryPermissionData::fromJson(value);
  }
  return policy;
}

Json ToolPolicyData::toJson() const {
  Json map = Json::object();
  for (const auto& [category, permission] : categoryPermissions) map[category] = permission.toJson();
  return Json{{"categoryPermissions", std::move(map)}};
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
