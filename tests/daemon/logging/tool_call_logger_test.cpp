#include "daemon/logging/tool_call_logger.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>

#include "daemon/utilities/atomic_file.h"
#include "support/temp_dir.h"

namespace qd {
namespace {

namespace fs = std::filesystem;

class ToolCallLoggerTest : public ::testing::Test {
 protected:
  test::TempDir temp_{"toolcalls"};
  fs::path root_ = temp_.path();
};

TEST_F(ToolCallLoggerTest, AppendsWholeLinesCreatingFileAndFolders) {
  const fs::path file = root_ / "a" / "b" / "tool-calls.log";
  ToolCallLogger logger(file);
  EXPECT_FALSE(fs::exists(root_ / "a"));  // nothing happens at construction

  logger.append(R"({"n":1})");
  EXPECT_EQ(readFileIfPresent(file), "{\"n\":1}\n");
  logger.append("{\"n\":2}\n");  // already ends with a newline: not doubled
  logger.append("");
  EXPECT_EQ(readFileIfPresent(file), "{\"n\":1}\n{\"n\":2}\n\n");
}

TEST_F(ToolCallLoggerTest, NeverTruncatesWhatIsThere) {
  const fs::path file = root_ / "tool-calls.log";
  std::ofstream(file) << "earlier line\n";
  ToolCallLogger logger(file);
  for (int i = 0; i < 100; ++i) logger.append("line " + std::to_string(i));
  const std::string text = *readFileIfPresent(file);
  EXPECT_TRUE(text.starts_with("earlier line\nline 0\nline 1\n"));
  EXPECT_TRUE(text.ends_with("line 99\n"));
}

TEST_F(ToolCallLoggerTest, FailuresLoseTheLineSilentlyAndTheNextAppendTriesAgain) {
  // A folder in the file's place, then a file in the folder's place.
  const fs::path occupied = root_ / "tool-calls.log";
  fs::create_directories(occupied / "inside");
  ToolCallLogger blocked(occupied);
  EXPECT_NO_THROW(blocked.append("lost"));
  EXPECT_TRUE(fs::is_directory(occupied / "inside"));

  const fs::path parentIsFile = root_ / "plain" / "tool-calls.log";
  std::ofstream(root_ / "plain") << "x";
  ToolCallLogger noFolder(parentIsFile);
  EXPECT_NO_THROW(noFolder.append("lost"));

  fs::remove(root_ / "plain");
  noFolder.append("kept");
  EXPECT_EQ(readFileIfPresent(parentIsFile), "kept\n");
}

}  // namespace
}  // namespace qd
