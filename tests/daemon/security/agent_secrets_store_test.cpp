#include "daemon/security/agent_secrets_store.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>

#include "daemon/utilities/atomic_file.h"
#include "daemon/utilities/json.h"
#include "support/stderr_capture.h"
#include "support/temp_dir.h"

namespace qd {
namespace {

namespace fs = std::filesystem;

class AgentSecretsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = root_ / "support" / "agent-secrets.json";
  }

  void writeRaw(const std::string& text) {
    fs::create_directories(file_.parent_path());
    std::ofstream(file_, std::ios::binary) << text;
  }
  std::string fileText() const { return readFileIfPresent(file_).value_or("<missing>"); }
  mode_t fileMode() const {
    struct stat info {};
    EXPECT_EQ(::stat(file_.c_str(), &info), 0);
    return info.st_mode & 07777;
  }
  std::vector<fs::path> keptCopies() const {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(file_.parent_path())) {
      if (e.path().filename().string().starts_with("agent-secrets.json.unreadable-")) out.push_back(e.path());
    }
    return out;
  }

  ManualClock clock_;
  test::TempDir temp_{"secrets"};
  fs::path root_ = temp_.path();
  fs::path file_;
};

TEST_F(AgentSecretsStoreTest, CreatedAgentIsSavedPrivatelyAndItsSecretVerifies) {
  AgentSecretsStore store(file_, clock_);
  const CreatedAgent created = store.createAgent("alice");
  EXPECT_EQ(created.agent.name, "alice");
  EXPECT_TRUE(created.agent.isActive);
  EXPECT_FALSE(created.agent.lastAuthAt);
  EXPECT_TRUE(created.agent.toolPolicy.categoryPermissions.empty());
  EXPECT_EQ(created.agent.secretHash, SecretHasher::hash(created.secret, created.agent.salt));

  EXPECT_EQ(fileMode(), 0600u);
  const std::string text = fileText();
  EXPECT_EQ(text.find(created.secret), std::string::npos);  // the plain secret is stored nowhere
  // Pretty-printed with sorted keys.
  EXPECT_NE(text.find("\n    "), std::string::npos);
  const auto pos = [&](const char* key) { return text.find(std::string("\"") + key + "\""); };
  EXPECT_LT(pos("createdAt"), pos("id"));
  EXPECT_LT(pos("id"), pos("isActive"));
  EXPECT_LT(pos("isActive"), pos("name"));
  EXPECT_LT(pos("salt"), pos("secretHash"));
  EXPECT_LT(pos("secretHash"), pos("toolPolicy"));

  // A second store reads what the first wrote, and the secret authenticates there.
  AgentSecretsStore reread(file_, clock_);
  EXPECT_EQ(reread.getAgent(created.agent.id), created.agent);
  const AuthResult result = reread.authenticate("alice", created.secret);
  EXPECT_EQ(result.kind, AuthResult::Kind::success);
  EXPECT_EQ(result.agentId, created.agent.id);
  EXPECT_TRUE(reread.getAgent("alice")->lastAuthAt);
}

TEST_F(AgentSecretsStoreTest, NameRulesComeBeforeAnyChange) {
  AgentSecretsStore store(file_, clock_);
  for (const std::string& bad : {std::string(), std::string(51, 'a'), std::string("a.b"), std::string("a b"),
                                std::string("alice\n"), std::string("caf\u00e9")}) {
    try {
      store.createAgent(bad);
      FAIL() << "accepted " << bad;
    } catch (const AgentError& e) {
      EXPECT_EQ(e.kind(), AgentError::Kind::invalidName);
      EXPECT_EQ(e.description(),
                "Invalid agent name '" + bad + "'. Must be alphanumeric, underscore, or hyphen (max 50 chars)");
    }
  }
  EXPECT_FALSE(fs::exists(file_));
  EXPECT_TRUE(store.listAll().empty());

  store.createAgent(std::string(50, 'x'));
  store.createAgent("Alice");
  store.createAgent("alice");  // differs only in case: a different name
  try {
    store.createAgent("alice");
    FAIL() << "accepted a duplicate";
  } catch (const AgentError& e) {
    EXPECT_EQ(e.kind(), AgentError::Kind::duplicateName);
    EXPECT_EQ(e.description(), "Agent name 'alice' already exists");
  }
  EXPECT_EQ(store.listAll().size(), 3u);
}

TEST_F(AgentSecretsStoreTest, AuthenticationOutcomes) {
  AgentSecretsStore store(file_, clock_);
  const CreatedAgent alice = store.createAgent("alice");
  const CreatedAgent bob = store.createAgent("bob");
  RegisteredAgent inactive = *store.getAgent(bob.agent.id);
  inactive.isActive = false;
  store.update(inactive);

  EXPECT_EQ(store.authenticate("nobody", alice.secret).kind, AuthResult::Kind::agentNotFound);
  EXPECT_EQ(store.authenticate("bob", "wrong").kind, AuthResult::Kind::disabled);
  EXPECT_EQ(store.authenticate("bob", bob.secret).kind, AuthResult::Kind::disabled);
  EXPECT_EQ(store.authenticate("alice", bob.secret).kind, AuthResult::Kind::invalidSecret);
  EXPECT_EQ(store.authenticate("ALICE", alice.secret).kind, AuthResult::Kind::agentNotFound);
  EXPECT_FALSE(store.getAgent("alice")->lastAuthAt);
  EXPECT_EQ(store.listActive().size(), 1u);

  // A success while the file cannot be written still succeeds, in memory.
  fs::remove_all(file_.parent_path());
  std::ofstream(file_.parent_path()) << "a file where the folder should be";
  clock_.advance(std::chrono::seconds(5));
  const AuthResult result = store.authenticate("alice", alice.secret);
  EXPECT_EQ(result.kind, AuthResult::Kind::success);
  EXPECT_TRUE(store.getAgent("alice")->lastAuthAt);
  EXPECT_THROW(store.createAgent("carol"), FileWriteError);
  EXPECT_TRUE(store.getAgent("carol"));  // the change stays in memory
}

TEST_F(AgentSecretsStoreTest, RegeneratedSecretReplacesTheOldOne) {
  AgentSecretsStore store(file_, clock_);
  const CreatedAgent alice = store.createAgent("alice");
  ASSERT_EQ(store.authenticate("alice", alice.secret).kind, AuthResult::Kind::success);
  ASSERT_TRUE(store.getAgent("alice")->lastAuthAt);

  const std::string fresh = store.regenerateSecret(alice.agent.id);
  EXPECT_NE(fresh, alice.secret);
  EXPECT_FALSE(store.getAgent("alice")->lastAuthAt);
  EXPECT_NE(store.getAgent("alice")->salt, alice.agent.salt);
  EXPECT_EQ(store.authenticate("alice", alice.secret).kind, AuthResult::Kind::invalidSecret);
  EXPECT_EQ(AgentSecretsStore(file_, clock_).authenticate("alice", fresh).kind, AuthResult::Kind::success);
}

TEST_F(AgentSecretsStoreTest, PermissionsAndUnknownIds) {
  AgentSecretsStore store(file_, clock_);
  const Uuid id = store.createAgent("alice").agent.id;
  store.grantPermission(id, "omnifocus", true, false);
  EXPECT_TRUE(AgentSecretsStore(file_, clock_).getAgent(id)->toolPolicy.hasPermission("omnifocus", ToolCapability::read));
  store.revokePermission(id, "omnifocus");
  EXPECT_FALSE(store.getAgent(id)->toolPolicy.hasPermission("omnifocus", ToolCapability::read));
  AgentToolPolicy policy;
  policy.grant("apple", true, true);
  store.updateToolPolicy(id, policy);
  EXPECT_EQ(AgentSecretsStore(file_, clock_).getAgent(id)->toolPolicy, policy);

  const std::string before = fileText();
  const Uuid unknown = Uuid::random();
  auto expectNotFound = [&](auto&& operation) {
    try {
      operation();
      FAIL() << "expected notFound";
    } catch (const AgentError& e) {
      EXPECT_EQ(e.kind(), AgentError::Kind::notFound);
      EXPECT_EQ(e.description(), "Agent not found");
    }
  };
  expectNotFound([&] { store.regenerateSecret(unknown); });
  expectNotFound([&] { store.updateToolPolicy(unknown, policy); });
  expectNotFound([&] { store.grantPermission(unknown, "apple", true, true); });
  expectNotFound([&] { store.revokePermission(unknown, "apple"); });
  EXPECT_EQ(fileText(), before);

  fs::remove(file_);
  store.deleteAgent(unknown);  // no error; the file is written as it stands
  EXPECT_EQ(fileText(), before);
  store.deleteAgent(id);
  EXPECT_TRUE(AgentSecretsStore(file_, clock_).listAll().empty());
}

TEST_F(AgentSecretsStoreTest, FileIsPrivateEvenWhenItWasWiderBefore) {
  writeRaw(R"({"agents": {}})");
  fs::permissions(file_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
  AgentSecretsStore store(file_, clock_);
  store.createAgent("alice");
  EXPECT_EQ(fileMode(), 0600u);
}

TEST_F(AgentSecretsStoreTest, UnreadableFilesGiveAnEmptyStoreAndCorruptOnesSurviveTheNextSave) {
  EXPECT_TRUE(AgentSecretsStore(file_, clock_).listAll().empty());  // no file
  writeRaw("");
  EXPECT_TRUE(AgentSecretsStore(file_, clock_).listAll().empty());

  const std::string corrupt = R"({"agents": {"E621E1F8-C36C-495A-93FC-0C247A3E6E5F": {"name": "lost"}}})";
  for (const std::string& text : {std::string("{not json"), corrupt}) {
    writeRaw(text);
    test::StderrCapture capture;
    AgentSecretsStore store(file_, clock_);
    EXPECT_TRUE(store.listAll().empty());
    EXPECT_EQ(capture.text(), "");  // reading is silent
    store.createAgent("alice");
    EXPECT_NE(capture.text().find("Kept the unreadable agent secrets file"), std::string::npos);
    const auto kept = keptCopies();
    ASSERT_EQ(kept.size(), 1u) << text;
    EXPECT_EQ(readFileIfPresent(kept[0]), text);
    EXPECT_EQ(AgentSecretsStore(file_, clock_).listAll().size(), 1u);

    store.createAgent("bob");  // only the first save keeps a copy
    EXPECT_EQ(keptCopies().size(), 1u);
    fs::remove(kept[0]);
  }
}

}  // namespace
}  // namespace qd
