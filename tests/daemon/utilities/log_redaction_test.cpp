#include "daemon/utilities/log_redaction.h"

#include <gtest/gtest.h>

namespace qd {
namespace {

TEST(LogRedaction, ReplacesValuesOfSensitiveKeysWholeAtAnyDepth) {
  const Json input = {
      {"password", "hunter2"},
      {"user", "ann"},
      {"Token", 42},
      {"session", {{"id", "s"}, {"user", "ann"}}},
      {"APIKEY", {1, 2}},
      {"apiKey", nullptr},
      {"items", Json::array({Json{{"cookie", "c"}, {"name", "n"}}, Json{{"nested", {{"Authorization", "Bearer x"}}}}})},
      {"tags", {"token", "password"}},
  };
  const Json expected = {
      {"password", "[REDACTED]"},
      {"user", "ann"},
      {"Token", "[REDACTED]"},
      {"session", "[REDACTED]"},
      {"APIKEY", "[REDACTED]"},
      {"apiKey", "[REDACTED]"},
      {"items", Json::array({Json{{"cookie", "[REDACTED]"}, {"name", "n"}},
                             Json{{"nested", {{"Authorization", "[REDACTED]"}}}}})},
      {"tags", {"token", "password"}},  // values are never inspected
  };
  const Json before = input;
  EXPECT_EQ(LogRedaction::redact(input), expected);
  EXPECT_EQ(input, before);
}

TEST(LogRedaction, AWordInsideALongerKeyDoesNotMatch) {
  for (const char* key : {"token_id", "mytoken", "passwords", "secrets"}) {
    const Json input = {{key, "v"}};
    EXPECT_EQ(LogRedaction::redact(input), input) << key;
  }
  // Unicode lower-casing: a Kelvin sign lowers to "k".
  EXPECT_EQ(LogRedaction::redact(Json{{"TO\u212AEN", "v"}}), Json({{"TO\u212AEN", "[REDACTED]"}}));
}

TEST(LogRedaction, ScalarsAndEmptyContainersComeBackUnchanged) {
  for (const Json& value : {Json("password"), Json(3), Json(2.5), Json(true), Json(nullptr), Json::array(),
                            Json::object()}) {
    EXPECT_EQ(LogRedaction::redact(value), value);
  }
}

TEST(LogRedaction, DeepNestingDoesNotExhaustTheStack) {
  constexpr int kDepth = 200000;
  Json value = {{"secret", "s"}};
  for (int i = 0; i < kDepth; ++i) {
    Json wrapper = Json::array();
    wrapper.push_back(std::move(value));
    value = std::move(wrapper);
  }
  const Json redacted = LogRedaction::redact(value);
  const Json* cursor = &redacted;
  for (int i = 0; i < kDepth; ++i) {
    ASSERT_TRUE(cursor->is_array());
    ASSERT_EQ(cursor->size(), 1u);
    cursor = &(*cursor)[0];
  }
  EXPECT_EQ(*cursor, Json({{"secret", "[REDACTED]"}}));
}

}  // namespace
}  // namespace qd
