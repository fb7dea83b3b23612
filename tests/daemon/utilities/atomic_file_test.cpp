#include "daemon/utilities/atomic_file.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

namespace qd {
namespace {

namespace fs = std::filesystem;

class AtomicFileTest : public ::testing::Test {
 protected:
  void TearDown() override {
    ::umask(savedUmask_);
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add);  // so it can be removed
  }

  static std::string read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static mode_t modeOf(const fs::path& p) {
    struct stat info {};
    EXPECT_EQ(::stat(p.c_str(), &info), 0);
    return info.st_mode & 07777;
  }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(root_)) out.push_back(entry.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }

  test::TempDir temp_{"atomic"};
  fs::path root_ = temp_.path();
  mode_t savedUmask_ = ::umask(022);
};

TEST_F(AtomicFileTest, CreatesFolderAndReplacesWholeFileWithoutLeftovers) {
  const fs::path file = root_ / "a" / "b" / "settings.json";
  writeFileAtomically(file, "first", AtomicWriteOptions().creatingFolder());
  EXPECT_EQ(read(file), "first");
  writeFileAtomically(file, "second, longer than the first", {});
  EXPECT_EQ(read(file), "second, longer than the first");
  writeFileAtomically(file, "", {});
  EXPECT_EQ(read(file), "");
  EXPECT_EQ(fs::directory_iterator(file.parent_path())->path(), file);  // no temporary left behind
  EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()), 1);
}

TEST_F(AtomicFileTest, ExplicitModeIsExactWhateverTheUmaskAndTheOldFile) {
  const fs::path file = root_ / "agent-secrets.json";
  writeFileAtomically(file, "old", {});
  fs::permissions(file, fs::perms::all);
  EXPECT_EQ(modeOf(file), 0777u);

  ::umask(0);
  writeFileAtomically(file, "new", AtomicWriteOptions().withMode(0600));
  EXPECT_EQ(modeOf(file), 0600u);

  ::umask(077);
  writeFileAtomically(file, "wider", AtomicWriteOptions().withMode(0644));
  EXPECT_EQ(modeOf(file), 0644u);

  ::umask(022);
  writeFileAtomically(root_ / "plain", "x", {});
  EXPECT_EQ(modeOf(root_ / "plain"), 0644u);  // default: 0666 less the umask
}

TEST_F(AtomicFileTest, FailuresThrowAndLeaveTheTargetAndNoTemporary) {
  try {
    writeFileAtomically(root_ / "missing" / "f.json", "x", {});
    FAIL() << "expected a FileWriteError";
  } catch (const FileWriteError& e) {
    EXPECT_EQ(e.kind(), FileWriteError::Kind::createTemporary);
    EXPECT_EQ(e.code(), ENOENT);
  }

  // A non-empty folder in the file's place cannot be replaced by a rename.
  const fs::path occupied = root_ / "occupied";
  fs::create_directories(occupied / "inside");
  try {
    writeFileAtomically(occupied, "x", {});
    FAIL() << "expected a FileWriteError";
  } catch (const FileWriteError& e) {
    EXPECT_EQ(e.kind(), FileWriteError::Kind::rename);
  }
  EXPECT_TRUE(fs::is_directory(occupied / "inside"));
  EXPECT_EQ(names(), std::vector<std::string>{"occupied"});

  if (::geteuid() != 0) {  // root writes anywhere
    const fs::path locked = root_ / "locked";
    fs::create_directories(locked);
    writeFileAtomically(locked / "f", "kept", {});
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_THROW(writeFileAtomically(locked / "f", "lost", {}), FileWriteError);
    EXPECT_THROW(writeFileAtomically(locked / "sub" / "f", "lost", AtomicWriteOptions().creatingFolder()), FileWriteError);
    fs::permissions(locked, fs::perms::owner_all);
    EXPECT_EQ(read(locked / "f"), "kept");
  }
}

TEST_F(AtomicFileTest, StillCurrentCheckRunsBeforeTheRenameAndCanStopIt) {
  const fs::path file = root_ / "config.json";
  writeFileAtomically(file, "theirs", {});
  AtomicWriteOptions options;
  int asked = 0;
  options.stillCurrent = [&] {
    ++asked;
    EXPECT_EQ(read(file), "theirs");  // not replaced yet
    return false;
  };
  try {
    writeFileAtomically(file, "ours", options);
    FAIL() << "expected a FileWriteError";
  } catch (const FileWriteError& e) {
    EXPECT_EQ(e.kind(), FileWriteError::Kind::changed);
  }
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(read(file), "theirs");
  EXPECT_EQ(names(), std::vector<std::string>{"config.json"});  // no temporary left

  options.stillCurrent = [] { return true; };
  writeFileAtomically(file, "ours", options);
  EXPECT_EQ(read(file), "ours");
}

TEST_F(AtomicFileTest, ReadTellsAMissingFileFromOneThatCannotBeRead) {
  EXPECT_EQ(readFileIfPresent(root_ / "missing.json"), std::nullopt);
  writeFileAtomically(root_ / "f.json", std::string("a\0b", 3));
  EXPECT_EQ(readFileIfPresent(root_ / "f.json"), std::string("a\0b", 3));
  fs::create_directories(root_ / "folder.json");
  try {
    readFileIfPresent(root_ / "folder.json");
    FAIL() << "expected a FileReadError";
  } catch (const FileReadError& e) {
    EXPECT_EQ(e.code(), EISDIR);
  }
}

TEST_F(AtomicFileTest, KeepsAnUnreadableFileBesideItUnderATimeStampedName) {
  const fs::path file = root_ / "agent-secrets.json";
  const auto when = std::chrono::sys_days(std::chrono::year(2026) / 3 / 5) + std::chrono::hours(14) +
                    std::chrono::minutes(7) + std::chrono::seconds(9);
  EXPECT_EQ(keepUnreadableFile(file, when), std::nullopt);

  writeFileAtomically(file, "{not json", AtomicWriteOptions().withMode(0600));
  const auto first = keepUnreadableFile(file, when);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->filename(), "agent-secrets.json.unreadable-20260305T140709Z");
  const auto second = keepUnreadableFile(file, when);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->filename(), "agent-secrets.json.unreadable-20260305T140709Z-2");

  // The original stays where it was until a save replaces it; the kept copy survives that.
  writeFileAtomically(file, "{}", AtomicWriteOptions().withMode(0600));
  EXPECT_EQ(read(file), "{}");
  EXPECT_EQ(read(*first), "{not json");
  EXPECT_EQ(modeOf(*first), 0600u);
}

}  // namespace
}  // namespace qd
