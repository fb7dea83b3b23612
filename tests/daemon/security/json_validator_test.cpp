#include "daemon/security/json_validator.h"

#include <gtest/gtest.h>

#include "support/stderr_capture.h"

namespace qd {
namespace {

std::string nestedArrays(int count, std::string_view innermost) {
  return std::string(static_cast<std::size_t>(count), '[') + std::string(innermost) +
         std::string(static_cast<std::size_t>(count), ']');
}

std::string nestedObjects(int count, std::string_view innermost) {
  std::string out;
  for (int i = 0; i < count; ++i) out += "{\"a\":";
  out += innermost;
  return out + std::string(static_cast<std::size_t>(count), '}');
}

JSONValidationError parseFailure(std::string_view text) {
  try {
    JSONValidator::safeParse(text);
  } catch (const JSONValidationError& e) {
    return e;
  }
  ADD_FAILURE() << "accepted: " << text.substr(0, 80);
  return JSONValidationError::invalidJSON("");
}

TEST(JSONValidator, SizeLimitIsCheckedBeforeParsing) {
  std::string exact = "\"" + std::string(JSONValidator::maxSize - 2, 'a') + "\"";
  ASSERT_EQ(exact.size(), 10485760u);
  EXPECT_TRUE(JSONValidator::safeParse(exact).is_string());

  test::StderrCapture capture;
  const std::string over = exact + " ";
  const auto error = parseFailure(over);
  EXPECT_EQ(error.kind(), JSONValidationError::Kind::exceedsMaxSize);
  EXPECT_EQ(error.description(), "JSON exceeds maximum size limit (10485761 bytes > 10485760 bytes)");
  const auto lines = capture.lines();
  ASSERT_EQ(lines.size(), 1u);
  const Json line = Json::parse(lines[0]);
  EXPECT_EQ(line["level"], "WARN");
  EXPECT_EQ(line["component"], "Security");
  EXPECT_EQ(line["message"], "JSON exceeds max size");
  EXPECT_EQ(line["metadata"], Json({{"size", 10485761}, {"limit", 10485760}}));
}

TEST(JSONValidator, DepthCountsContainersAboveEachValue) {
  struct Case {
    std::string text;
    bool accepted;
  };
  const Case cases[] = {
      {nestedArrays(20, "1"), true},      // the number lies at depth 20
      {nestedArrays(21, "1"), false},     // ... at depth 21
      {nestedArrays(21, ""), true},       // the innermost empty array lies at depth 20
      {nestedArrays(22, ""), false},
      {nestedObjects(20, "1"), true},
      {nestedObjects(21, "1"), false},
      {nestedObjects(21, "{}"), false},   // 22 containers
      {nestedObjects(20, "{}"), true},
      {"[" + nestedArrays(20, "") + ", 1]", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    test::StderrCapture capture;
    if (c.accepted) {
      EXPECT_NO_THROW(JSONValidator::safeParse(c.text));
      EXPECT_EQ(capture.text(), "");
      continue;
    }
    const auto error = parseFailure(c.text);
    EXPECT_EQ(error.kind(), JSONValidationError::Kind::exceedsMaxDepth);
    EXPECT_EQ(error.depth(), 20);  // the limit, not the depth found
    EXPECT_EQ(error.description(), "JSON exceeds maximum nesting depth (20 levels)");
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 1u);
    const Json line = Json::parse(lines[0]);
    EXPECT_EQ(line["message"], "JSON exceeds max nesting depth");
    EXPECT_EQ(line["metadata"], Json({{"limit", 20}}));
  }
}

TEST(JSONValidator, TenMegabytesOfOpeningBracketsAreRefusedForDepth) {
  test::StderrCapture capture;
  const auto error = parseFailure(std::string(10 * 1024 * 1024, '['));
  EXPECT_EQ(error.kind(), JSONValidationError::Kind::exceedsMaxDepth);
  EXPECT_EQ(capture.lines().size(), 1u);
}

TEST(JSONValidator, AcceptsTopLevelScalarsAndReportsParserErrors) {
  EXPECT_EQ(JSONValidator::safeParse("42"), 42);
  EXPECT_EQ(JSONValidator::safeParse(" \"s\" "), "s");
  EXPECT_EQ(JSONValidator::safeParse("null"), nullptr);
  EXPECT_EQ(JSONValidator::safeParse(R"({"a":[1,2.5,true]})"), Json::parse(R"({"a":[1,2.5,true]})"));

  for (std::string_view bad : {"{", "", "[1,]", "1 2", "\"\xff\"", "{\"a\" 1}"}) {
    const auto error = parseFailure(bad);
    EXPECT_EQ(error.kind(), JSONValidationError::Kind::invalidJSON) << bad;
    EXPECT_FALSE(error.message().empty());
    EXPECT_EQ(error.description(), "Invalid JSON: " + error.message());
  }
}

TEST(JSONValidator, CheckDepthWalksValuesNotKeys) {
  EXPECT_TRUE(JSONValidator::checkDepth(Json(5), 0));
  EXPECT_FALSE(JSONValidator::checkDepth(Json::array({5}), 0));
  EXPECT_TRUE(JSONValidator::checkDepth(Json::array(), 0));
  EXPECT_TRUE(JSONValidator::checkDepth(Json{{"deep key", 1}}, 1));
  EXPECT_FALSE(JSONValidator::checkDepth(Json{{"a", {{"b", 1}}}}, 1));
}

}  // namespace
}  // namespace qd
