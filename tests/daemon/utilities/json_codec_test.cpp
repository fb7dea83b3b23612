#include "daemon/utilities/json_codec.h"

#include <gtest/gtest.h>

namespace qd {
namespace {

using namespace codec;

TEST(JsonCodec, RequiredAndOptionalMembers) {
  const Json o = parseJson(R"({"s":"x","n":null,"i":3,"f":3.5,"b":true,"l":["a"]})");
  EXPECT_EQ(requiredString(o, "s"), "x");
  EXPECT_EQ(optionalString(o, "n"), std::nullopt);        // null is absent
  EXPECT_EQ(optionalString(o, "missing"), std::nullopt);  // missing is absent
  EXPECT_EQ(requiredInt(o, "i"), 3);
  EXPECT_EQ(optionalDouble(o, "i"), 3.0);  // any number reads as a double
  EXPECT_EQ(requiredStringList(o, "l"), std::vector<std::string>{"a"});

  struct Bad {
    const char* what;
    std::function<void()> read;
    DecodingError::Kind kind;
  };
  const Bad bad[] = {
      {"missing required", [&] { requiredString(o, "missing"); }, DecodingError::Kind::keyNotFound},
      {"null required", [&] { requiredString(o, "n"); }, DecodingError::Kind::valueNotFound},
      {"string as int", [&] { requiredInt(o, "s"); }, DecodingError::Kind::typeMismatch},
      {"double as int", [&] { requiredInt(o, "f"); }, DecodingError::Kind::typeMismatch},
      {"bool as int", [&] { optionalInt(o, "b"); }, DecodingError::Kind::typeMismatch},
      {"int as bool", [&] { optionalBool(o, "i"); }, DecodingError::Kind::typeMismatch},
      {"not an object", [&] { requiredString(Json::array(), "s"); }, DecodingError::Kind::typeMismatch},
  };
  for (const auto& b : bad) {
    try {
      b.read();
      ADD_FAILURE() << b.what;
    } catch (const DecodingError& e) {
      EXPECT_EQ(e.kind(), b.kind) << b.what << ": " << e.description();
    }
  }
}

}  // namespace
}  // namespace qd
