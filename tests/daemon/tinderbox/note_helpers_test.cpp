#include "daemon/tinderbox/note_helpers.h"

#include <gtest/gtest.h>

#include <asio/io_context.hpp>

#include "support/fake_note_app.h"
#include "support/test_io.h"

namespace qd {
namespace {

using test::FakeNoteApp;

class NoteHelpersTest : public ::testing::Test {
 protected:
  template <class T>
  T run(asio::awaitable<T> task) {
    return test::runAwaitable(io, std::move(task));
  }
  asio::awaitable<void> ensurePath(std::string path) { return helpers.ensurePath(std::move(path)); }

  asio::io_context io;
  FakeNoteApp app;
  NoteJournalState state;
  NoteHelpers helpers{app, state};
};

TEST_F(NoteHelpersTest, EnsurePathCreatesEachContainerOnce) {
  for (const char* path : {"Quarvel Dorarov/Agent Logs", "/Quarvel Dorarov/Agent Logs/", "//Quarvel Dorarov//Agent Logs"}) {
    run(ensurePath(path));
  }
  const auto created = app.argumentsOf("create_note");
  ASSERT_EQ(created.size(), 2u);
  EXPECT_EQ(created[0], (Json{{"name", "Quarvel Dorarov"}, {"container", "/"}}));
  EXPECT_EQ(created[1], (Json{{"name", "Agent Logs"}, {"container", "/Quarvel Dorarov"}}));
  // The two later walks found both paths known and asked nothing.
  EXPECT_EQ(app.calls.size(), 4u);
  EXPECT_EQ(state.createdLogContainers, (std::set<std::string>{"/Quarvel Dorarov", "/Quarvel Dorarov/Agent Logs"}));

  app.calls.clear();
  run(ensurePath("///"));
  EXPECT_TRUE(app.calls.empty());
}

TEST_F(NoteHelpersTest, AnExistingContainerIsNotCreatedAndAnEmptyParentIsTheRoot) {
  app.notes.insert({"/", "Inbox"});
  run(helpers.ensureContainer("Inbox", ""));
  EXPECT_EQ(app.toolSequence(), (std::vector<std::string>{"get_notes"}));
  EXPECT_TRUE(state.createdLogContainers.contains("/Inbox"));
}

// A failed look-up or creation must not mark the container as made: the next writer tries
// again instead of filing every later note under a container that does not exist.
TEST_F(NoteHelpersTest, AFailedAttemptIsTriedAgain) {
  struct Case {
    const char* name;
    std::map<std::string, FakeNoteApp::Failure> failures;
  };
  const Case cases[] = {
      {"create throws", {{"create_note", FakeNoteApp::Failure::thrown}}},
      {"create answers isError", {{"create_note", FakeNoteApp::Failure::isError}}},
      {"no document open", {{"get_notes", FakeNoteApp::Failure::isError}, {"create_note", FakeNoteApp::Failure::isError}}},
  };
  for (const Case& c : cases) {
    FakeNoteApp fake;
    NoteJournalState fresh;
    NoteHelpers h(fake, fresh);
    fake.failures = c.failures;
    test::runAwaitable(io, h.ensureContainer("Logs", "/"));
    EXPECT_TRUE(fresh.createdLogContainers.empty()) << c.name;
    fake.failures.clear();
    test::runAwaitable(io, h.ensureContainer("Logs", "/"));
    EXPECT_EQ(fake.argumentsOf("create_note").size(), 2u) << c.name;
    EXPECT_TRUE(fresh.createdLogContainers.contains("/Logs")) << c.name;
  }
}

TEST_F(NoteHelpersTest, NoteExistsEscapesTheQueryAndReadsTheAnswer) {
  EXPECT_FALSE(run(helpers.noteExists("say \"hi\"", "C:\\x")));
  EXPECT_EQ(app.argumentsOf("get_notes").at(0)["query"], "$Name==\"say \\\"hi\\\"\" & $Container==\"C:\\\\x\"");
  app.notes.insert({"C:\\x", "say \"hi\""});
  EXPECT_TRUE(run(helpers.noteExists("say \"hi\"", "C:\\x")));
  app.failures["get_notes"] = FakeNoteApp::Failure::thrown;
  EXPECT_FALSE(run(helpers.noteExists("say \"hi\"", "C:\\x")));
  app.failures["get_notes"] = FakeNoteApp::Failure::isError;
  EXPECT_FALSE(run(helpers.noteExists("say \"hi\"", "C:\\x")));
}

TEST_F(NoteHelpersTest, UniqueTitlesCountPerContainer) {
  EXPECT_EQ(helpers.uniqueNoteTitle("/a", "Run"), "Run");
  EXPECT_EQ(helpers.uniqueNoteTitle("/a", "Run"), "Run (2)");
  EXPECT_EQ(helpers.uniqueNoteTitle("/b", "Run"), "Run");
  EXPECT_EQ(helpers.uniqueNoteTitle("/a", "Run"), "Run (3)");
}

TEST_F(NoteHelpersTest, MetadataSkipsEmptyValuesAndGoesOnAfterAFailure) {
  app.failures["set_value"] = FakeNoteApp::Failure::thrown;
  run(helpers.setNoteMetadata("/n", {{"A", "1"}, {"B", ""}, {"C", "3"}}));
  const auto writes = app.argumentsOf("set_value");
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[1], (Json{{"notes", "/n"}, {"attribute", "C"}, {"value", "3"}}));

  app.calls.clear();
  run(helpers.setNoteMetadata("/n", {{"A", ""}}));
  run(helpers.setNoteMetadata("/n", {}));
  EXPECT_TRUE(app.calls.empty());
  run(helpers.setTinderboxValue("/n", "A", ""));
  EXPECT_EQ(app.calls.size(), 1u);
}

TEST_F(NoteHelpersTest, WithoutAClientNothingIsSent) {
  app.connected = false;
  run(ensurePath("/a/b"));
  run(helpers.setNoteMetadata("/n", {{"A", "1"}}));
  run(helpers.setTinderboxValue("/n", "A", "1"));
  EXPECT_FALSE(run(helpers.noteExists("a", "/")));
  EXPECT_TRUE(app.calls.empty());
  EXPECT_TRUE(state.createdLogContainers.empty());
}

}  // namespace
}  // namespace qd
