#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "daemon/mcp/line_splitter.h"

namespace qd {
namespace {

using Lines = std::vector<std::string>;

TEST(LineSplitter, FramesLinesAcrossReads) {
  struct Case {
    const char* name;
    std::vector<std::string> chunks;
    Lines expected;
  } cases[] = {
      {"empty lines are skipped", {"\n\n{\"a\":1}\n"}, {"{\"a\":1}"}},
      {"a message split over two reads comes once, whole", {"{\"a\":", "1}\n"}, {"{\"a\":1}"}},
      {"two messages in one read keep their order", {"one\ntwo\n"}, {"one", "two"}},
      {"a carriage return stays", {"msg\r\n"}, {"msg\r"}},
      {"a last line without a line feed is not delivered", {"done\npartial"}, {"done"}},
  };
  for (const auto& c : cases) {
    LineSplitter splitter;
    Lines got;
    for (const auto& chunk : c.chunks) {
      for (auto& line : splitter.append(chunk)) got.push_back(line);
    }
    EXPECT_EQ(got, c.expected) << c.name;
  }
}

TEST(LineSplitter, HasNoLengthLimit) {
  LineSplitter splitter;
  const std::string big(4 << 20, 'x');
  EXPECT_TRUE(splitter.append(big).empty());
  EXPECT_EQ(splitter.append("\n"), Lines{big});
  EXPECT_EQ(splitter.pendingBytes(), 0u);
}

TEST(LineSplitter, GivesBackTheMemoryOfALongLineOnceItIsHandedOut) {
  LineSplitter splitter;
  EXPECT_TRUE(splitter.append(std::string(20 << 20, 'x')).empty());
  EXPECT_EQ(splitter.append("\nnext").size(), 1u);
  EXPECT_LE(splitter.retainedBytes(), LineSplitter::kRetainedCapacity);
  EXPECT_EQ(splitter.append("\n"), Lines{"next"});  // the rest of the buffer survived
}

}  // namespace
}  // namespace qd
