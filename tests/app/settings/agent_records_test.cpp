#include <gtest/gtest.h>

#include "app/settings/agent_management.h"
#include "settings_test_support.h"

namespace qd {
namespace {

TEST(AgentRecordsTest, ADaemonRecordDecodesWithoutItsSecretAndEncodesBack) {
  RegisteredAgent daemon;
  daemon.id = Uuid::random();
  daemon.name = "builder";
  daemon.secretHash = std::string(64, 'a');
  daemon.salt = "salt";
  daemon.createdAt = agentDateFromReferenceSeconds(700000000.25);
  daemon.toolPolicy.grant("Router Core", true, false);
  daemon.isActive = false;

  const AgentInfo info = AgentInfo::fromJson(daemon.toJson());
  EXPECT_EQ(info.id, daemon.id);
  EXPECT_EQ(info.name, "builder");
  EXPECT_EQ(info.createdAt, daemon.createdAt);
  EXPECT_EQ(info.lastAuthAt, std::nullopt);
  EXPECT_FALSE(info.isActive);
  EXPECT_TRUE(info.toolPolicy.categoryPermissions.at("Router Core").read);
  EXPECT_FALSE(info.toolPolicy.categoryPermissions.at("Router Core").write);

  Json expected = daemon.toJson();
  expected.erase("secretHash");
  expected.erase("salt");
  const Json encoded = info.toJson();
  EXPECT_EQ(withSortedKeys(encoded), withSortedKeys(expected));
  EXPECT_FALSE(encoded.contains("lastAuthAt"));

  daemon.lastAuthAt = agentDateFromReferenceSeconds(700000100);
  EXPECT_EQ(AgentInfo::fromJson(daemon.toJson()).lastAuthAt, daemon.lastAuthAt);
}

TEST(AgentRecordsTest, MissingOrWrongKeysFailTheRecord) {
  const Json good = parseJson(R"({"id": "6F9619FF-8B86-4011-B42D-00C04FC964FF", "name": "a", "createdAt": 1.5,
                                  "isActive": true, "toolPolicy": {"categoryPermissions": {"X": {"read": true, "write": false}}}})");
  EXPECT_NO_THROW(AgentInfo::fromJson(good));
  for (const char* key : {"id", "name", "createdAt", "isActive", "toolPolicy"}) {
    Json broken = good;
    broken.erase(key);
    EXPECT_THROW(AgentInfo::fromJson(broken), DecodingError) << key;
  }
  Json badId = good;
  badId["id"] = "not-a-uuid";
  EXPECT_THROW(AgentInfo::fromJson(badId), DecodingError);
  Json badPermission = good;
  badPermission["toolPolicy"]["categoryPermissions"]["X"].erase("write");
  EXPECT_THROW(AgentInfo::fromJson(badPermission), DecodingError);
}

TEST(AgentRecordsTest, TheViewModelStartsEmptyAndAnnouncesAssignments) {
  test::qtApplication();
  AgentManagementViewModel model;
  EXPECT_TRUE(model.agents().empty());
  EXPECT_EQ(model.selectedAgentId(), std::nullopt);
  EXPECT_EQ(model.statusMessage(), "");
  EXPECT_FALSE(model.isLoading() || model.showCreateSheet() || model.showRegenerateConfirmation() ||
               model.showDeleteConfirmation());
  int changes = 0;
  QObject::connect(&model, &AgentManagementViewModel::changed, [&] { ++changes; });
  model.setShowDeleteConfirmation(true);
  model.setSelectedAgentId(Uuid::random());
  EXPECT_EQ(changes, 2);
}

}  // namespace
}  // namespace qd
