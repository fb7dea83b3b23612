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

TEST(LineSplitter, ALineOverTheLimitIsDroppedAsItComesAndReportedWhenItGoesOverAndWhenItEnds) {
  // Each report as its length so far, negative while the line has not ended.
  using Reports = std::vector<long>;
  struct Case {
    const char* name;
    std::vector<std::string> chunks;
    Lines expected;
    Reports reports;
  } cases[] = {
      {"a line of the limit's length passes", {"12345678\n"}, {"12345678"}, {}},
      {"one byte more is dropped, the next line passes", {"123456789\nnext\n"}, {"next"}, {-9, 9}},
      {"reported as it goes over, and at its end", {"1234", "56789", "abc", "\nnext\n"}, {"next"}, {-9, 12}},
      {"lines around it keep their order", {"a\n0123456789012\nb\n"}, {"a", "b"}, {-13, 13}},
      {"a line that never ends is reported once", {"123456789", "0"}, {}, {-9}},
  };
  for (const auto& c : cases) {
    LineSplitter splitter(8);
    Lines got;
    Reports reports;
    for (const auto& chunk : c.chunks) {
      for (auto& line : splitter.append(chunk)) got.push_back(line);
      EXPECT_LE(splitter.pendingBytes(), 8u) << c.name;
      for (const auto& dropped : splitter.takeOversized()) {
        const long bytes = static_cast<long>(dropped.bytes);
        reports.push_back(dropped.ended ? bytes : -bytes);
        EXPECT_EQ(dropped.maxLineBytes, 8u);
      }
    }
    EXPECT_EQ(got, c.expected) << c.name;
    EXPECT_EQ(reports, c.reports) << c.name;
  }
}

TEST(LineSplitter, KeepsTheFirstAndLastBytesOfADroppedLineWhateverItsChunks) {
  std::string line;
  for (int i = 0; line.size() < 100000; ++i) line += std::to_string(i) + ",";
  for (std::size_t chunk : {std::size_t(1000), std::size_t(65536), line.size()}) {
    LineSplitter splitter(5000);
    for (std::size_t at = 0; at < line.size(); at += chunk) {
      EXPECT_TRUE(splitter.append(line.substr(at, chunk)).empty());
    }
    const std::vector<OversizedLine> wentOver = splitter.takeOversized();
    ASSERT_EQ(wentOver.size(), 1u) << chunk;
    EXPECT_FALSE(wentOver[0].ended);
    EXPECT_EQ(wentOver[0].head, line.substr(0, OversizedLine::keptHeadBytes)) << chunk;
    EXPECT_LT(splitter.retainedBytes(), 100u);  // nothing of the line is held any more

    splitter.append("\n");
    const std::vector<OversizedLine> ended = splitter.takeOversized();
    ASSERT_EQ(ended.size(), 1u) << chunk;
    EXPECT_TRUE(ended[0].ended);
    EXPECT_EQ(ended[0].bytes, line.size()) << chunk;
    EXPECT_EQ(ended[0].head, line.substr(0, OversizedLine::keptHeadBytes)) << chunk;
    EXPECT_EQ(ended[0].tail, line.substr(line.size() - OversizedLine::keptTailBytes)) << chunk;
  }
}

}  // namespace
}  // namespace qd
