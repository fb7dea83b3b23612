#include "daemon/logging/tool_call_record.h"

#include <gtest/gtest.h>

#include "daemon/utilities/unicode_text.h"

namespace qd {
namespace {

const auto kNow = std::chrono::system_clock::time_point(std::chrono::microseconds(1772719629042999));

TEST(ToolCallRecord, LineHasExactlyNineKeys) {
  const ToolCallRecord record =
      ToolCallRecord::make(kNow, "client-3", std::string("alice"), "time_now", 12, true, std::nullopt, Json::object());
  const Json line = parseJson(*record.line());
  EXPECT_EQ(line, Json({{"timestamp", 1772719629042},  // truncated, not rounded
                        {"clientId", "client-3"},
                        {"agent", "alice"},
                        {"tool", "time_now"},
                        {"category", "time"},
                        {"durationMs", 12},
                        {"success", true},
                        {"error", nullptr},
                        {"arguments", Json::object()}}));
}

TEST(ToolCallRecord, AgentFallsBackToTheClientIdAndSuccessHasNoError) {
  const ToolCallRecord record =
      ToolCallRecord::make(kNow, "client-0", std::nullopt, "health_check", 1, true, std::string("ignored"), Json());
  EXPECT_EQ(record.agent, "client-0");
  EXPECT_EQ(record.category, "router");
  EXPECT_EQ(record.error, std::nullopt);
  EXPECT_EQ(record.arguments, Json::object());  // not an object: {}
}

TEST(ToolCallRecord, ErrorIsCutTo500UserPerceivedCharacters) {
  std::string longError;
  for (int i = 0; i < 1000; ++i) longError += "e\u0301\U0001F600";  // 2 characters, 7 bytes
  const ToolCallRecord failed =
      ToolCallRecord::make(kNow, "client-1", std::nullopt, "get_notes", 5, false, longError, Json::object());
  ASSERT_TRUE(failed.error);
  EXPECT_EQ(unicode::graphemeCount(*failed.error), 500u);
  EXPECT_EQ(failed.error->size(), 250u * 7);
  EXPECT_TRUE(unicode::isValidUtf8(*failed.error));

  const ToolCallRecord shortError =
      ToolCallRecord::make(kNow, "client-1", std::nullopt, "get_notes", 5, false, std::string("boom"), Json::object());
  EXPECT_EQ(shortError.error, "boom");
  const ToolCallRecord noText =
      ToolCallRecord::make(kNow, "client-1", std::nullopt, "get_notes", 5, false, std::nullopt, Json::object());
  EXPECT_TRUE(parseJson(*noText.line())["error"].is_null());
}

TEST(ToolCallRecord, ArgumentsAreRedactedAndUnencodableRecordsDropped) {
  const Json arguments = {{"path", "/notes/a"}, {"token", "abc"}, {"options", {{"password", "p"}, {"depth", 2}}}};
  const ToolCallRecord record =
      ToolCallRecord::make(kNow, "client-1", std::nullopt, "get_notes", 5, true, std::nullopt, arguments);
  EXPECT_EQ(record.arguments,
            Json({{"path", "/notes/a"}, {"token", "[REDACTED]"}, {"options", {{"password", "[REDACTED]"}, {"depth", 2}}}}));

  const ToolCallRecord binary = ToolCallRecord::make(kNow, "client-1", std::nullopt, "get_notes", 5, true, std::nullopt,
                                                     Json{{"blob", Json::binary({1, 2, 3})}});
  EXPECT_EQ(binary.line(), std::nullopt);

  // Invalid UTF-8 from a peer is replaced, not a reason to lose the line.
  const ToolCallRecord bytes = ToolCallRecord::make(kNow, "client-1", std::nullopt, "get_notes", 5, false,
                                                    std::string("bad \xff byte"), Json{{"text", "\xfe"}});
  ASSERT_TRUE(bytes.line());
  EXPECT_TRUE(unicode::isValidUtf8(*bytes.line()));
}

}  // namespace
}  // namespace qd
