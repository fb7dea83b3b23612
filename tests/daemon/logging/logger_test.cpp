#include "daemon/logging/logger.h"

#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <thread>

#include "support/stderr_capture.h"

namespace qd {
namespace {

TEST(Logger, DropsDebugAndInfo) {
  test::StderrCapture capture;
  Logger::info("App", "Quarvel Dorarov starting");
  Logger::debug("App", "details", {{"k", 1}});
  EXPECT_EQ(capture.text(), "");
}

TEST(Logger, WritesOneObjectWithExactlyFiveKeys) {
  test::StderrCapture capture;
  Logger::warn("Queue", "line with \"quotes\"\nand a newline", {{"count", 3}});
  Logger::error("Daemon", "no metadata");
  const auto lines = capture.lines();
  ASSERT_EQ(lines.size(), 2u);

  const Json first = Json::parse(lines[0]);
  EXPECT_EQ(first.size(), 5u);
  EXPECT_EQ(first["level"], "WARN");
  EXPECT_EQ(first["component"], "Queue");
  EXPECT_EQ(first["message"], "line with \"quotes\"\nand a newline");
  EXPECT_EQ(first["metadata"], Json({{"count", 3}}));
  EXPECT_TRUE(std::regex_match(first["timestamp"].get<std::string>(),
                               std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")));

  const Json second = Json::parse(lines[1]);
  EXPECT_EQ(second["level"], "ERROR");
  EXPECT_TRUE(second["metadata"].is_object());
  EXPECT_TRUE(second["metadata"].empty());
}

TEST(Logger, FallsBackToPlainLineWhenMetadataCannotBeEncoded) {
  test::StderrCapture capture;
  Logger::error("Transport", "bad bytes", {{"output", std::string("\xff\xfe")}});
  Logger::warn("Transport", "binary", {{"blob", Json::binary({1, 2})}});
  Logger::warn("Queue", "nan", {{"stats", {{"avg", std::nan("")}}}});
  Logger::warn("Queue", "infinite", {{"max", HUGE_VAL}});
  EXPECT_EQ(capture.text(),
            "[ERROR] Transport: bad bytes\n[WARN] Transport: binary\n[WARN] Queue: nan\n[WARN] Queue: infinite\n");
}

TEST(Logger, ConcurrentLinesDoNotInterleave) {
  test::StderrCapture capture;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) Logger::warn("T", std::string(200, static_cast<char>('a' + t)), {{"i", i}});
    });
  }
  for (auto& th : threads) th.join();
  const auto lines = capture.lines();
  ASSERT_EQ(lines.size(), 800u);
  for (const auto& line : lines) EXPECT_TRUE(Json::accept(line)) << line;
}

TEST(Logger, TimestampHasMillisecondsInUtc) {
  using namespace std::chrono;
  const auto t = system_clock::time_point(milliseconds(1772719629042));  // 2026-03-05T14:07:09.042Z
  EXPECT_EQ(Logger::iso8601Timestamp(t), "2026-03-05T14:07:09.042Z");
  EXPECT_EQ(Logger::iso8601Timestamp(system_clock::time_point{}), "1970-01-01T00:00:00.000Z");
}

TEST(Logger, LevelNamesRoundTrip) {
  for (auto level : {LogLevel::debug, LogLevel::info, LogLevel::warn, LogLevel::error}) {
    EXPECT_EQ(logLevelFromString(toString(level)), level);
  }
  EXPECT_FALSE(logLevelFromString("warn"));
  EXPECT_LT(LogLevel::info, LogLevel::warn);
}

}  // namespace
}  // namespace qd
