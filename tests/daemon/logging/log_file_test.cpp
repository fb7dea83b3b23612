#include "daemon/logging/log_file.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <functional>

#include "daemon/logging/logger.h"
#include "daemon/logging/tool_call_logger.h"
#include "daemon/utilities/atomic_file.h"
#include "daemon/utilities/json.h"
#include "support/file_mode.h"
#include "support/temp_dir.h"

namespace qd {
namespace {

namespace fs = std::filesystem;

using test::fileMode;

// A file that takes only part of a write, as on a full disk: with the file size limit just
// above the file's length (and SIGXFSZ ignored) write(2) stores what fits and then fails.
// The soft limit is lowered only for the scope, so nothing else of the test runs under it.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = saved_;
    lowered.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
  }

 private:
  rlimit saved_{};
  void (*previous_)(int) = SIG_DFL;
};

// Standard error appended to a file for the scope, as the daemon's is to its error log.
class StandardErrorToFile {
 public:
  explicit StandardErrorToFile(const fs::path& file) : saved_(::dup(STDERR_FILENO)) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    ::dup2(fd, STDERR_FILENO);
    ::close(fd);
  }
  ~StandardErrorToFile() {
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
  }

 private:
  int saved_;
};

class LogFileTest : public ::testing::Test {
 protected:
  test::TempDir temp_{"logfile"};
};

TEST_F(LogFileTest, LogFilesAndTheFoldersMadeForThemArePrivateWhateverTheUmask) {
  test::ScopedUmask umask(022);
  fs::create_directories(temp_ / "shared");
  fs::permissions(temp_ / "shared", fs::perms(0755));
  const struct {
    fs::path file;
    std::optional<mode_t> existingMode;  // none: no file before the append
    mode_t expected;
  } cases[] = {
      {temp_ / "new" / "deeper" / "a.log", std::nullopt, 0600},
      {temp_ / "shared" / "wide.log", 0644, 0600},
      {temp_ / "shared" / "open.log", 0666, 0600},
      {temp_ / "shared" / "private.log", 0600, 0600},
      {temp_ / "shared" / "owner-only.log", 0400, 0400},  // nothing to narrow
  };
  for (const auto& c : cases) {
    if (c.existingMode) {
      std::ofstream(c.file) << "before\n";
      fs::permissions(c.file, fs::perms(*c.existingMode));
    }
    (void)appendToLogFile(c.file, "line\n");
    EXPECT_EQ(fileMode(c.file), c.expected) << c.file;
  }
  EXPECT_EQ(readFileIfPresent(temp_ / "shared" / "wide.log"), "before\nline\n");
  EXPECT_EQ(fileMode(temp_ / "new"), 0700u);
  EXPECT_EQ(fileMode(temp_ / "new" / "deeper"), 0700u);
  EXPECT_EQ(fileMode(temp_ / "shared"), 0755u);  // a folder that was there stays as it was

  // The daemon's error log, reopened after a rotation, is made the same way.
  const int fd = openLogFile(temp_ / "shared" / "daemon-error.log");
  ASSERT_GE(fd, 0);
  ::close(fd);
  EXPECT_EQ(fileMode(temp_ / "shared" / "daemon-error.log"), 0600u);

  // Not through a symbolic link, and never a FIFO (opening one would wait for a reader).
  fs::create_symlink(temp_ / "shared" / "private.log", temp_ / "link.log");
  EXPECT_FALSE(appendToLogFile(temp_ / "link.log", "x\n"));
  ASSERT_EQ(::mkfifo((temp_ / "fifo.log").c_str(), 0600), 0);
  EXPECT_FALSE(appendToLogFile(temp_ / "fifo.log", "x\n"));
}

// Every line log the system writes: a record that does not fit is not left half written, and
// the next one, once there is room again, is a line of its own.
TEST_F(LogFileTest, ARecordIsAppendedWholeOrNotAtAll) {
  const fs::path file = temp_ / "records.log";
  const struct {
    const char* writer;
    std::function<void(const std::string&)> append;
  } writers[] = {
      {"tool-calls.log", [&](const std::string& line) { ToolCallLogger(file).append(line); }},
      {"a log file", [&](const std::string& line) { (void)appendToLogFile(file, line + "\n"); }},
      {"the error log",
       [&](const std::string& line) {
         StandardErrorToFile redirected(file);
         Logger::error("Test", line);
       }},
  };
  for (const auto& w : writers) {
    fs::remove(file);
    w.append("first record");
    const std::string before = readFileIfPresent(file).value_or("");
    ASSERT_FALSE(before.empty()) << w.writer;
    {
      FileSizeLimit full(before.size() + 10);
      w.append("a second record, far longer than the room that is left");
    }
    EXPECT_EQ(readFileIfPresent(file), before) << w.writer;

    w.append("third record");
    const std::string after = readFileIfPresent(file).value_or("");
    ASSERT_TRUE(after.starts_with(before)) << w.writer;
    const std::string added = after.substr(before.size());
    EXPECT_NE(added.find("third record"), std::string::npos) << w.writer;
    EXPECT_EQ(added.find("second"), std::string::npos) << w.writer << ": " << added;
    EXPECT_EQ(std::count(added.begin(), added.end(), '\n'), 1) << w.writer << ": " << added;
  }
}

}  // namespace
}  // namespace qd
