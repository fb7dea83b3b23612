#include "daemon/utilities/any_codable.h"

#include <gtest/gtest.h>

#include <cmath>

#include "daemon/utilities/json_codec.h"

namespace qd {
namespace {

AnyCodable decoded(const char* text) { return AnyCodable::decode(parseJson(text)); }

TEST(AnyCodable, AccessorsAnswerOnlyForTheExactKind) {
  struct Case {
    const char* json;
    bool isString, isInt, isDouble, isBool, isArray, isObject;
  };
  const Case cases[] = {
      {"null", false, false, false, false, false, false},
      {"true", false, false, false, true, false, false},
      {"1", false, true, false, false, false, false},
      {"0", false, true, false, false, false, false},  // never a Boolean
      {"1.5", false, false, true, false, false, false},
      {"3.0", false, false, true, false, false, false},  // a double, not an integer
      {"\"1\"", true, false, false, false, false, false},
      {"18446744073709551616", false, false, true, false, false, false},
      {"[1]", false, false, false, false, true, false},
      {"{}", false, false, false, false, false, true},
  };
  for (const auto& c : cases) {
    const AnyCodable v = decoded(c.json);
    EXPECT_EQ(v.stringValue().has_value(), c.isString) << c.json;
    EXPECT_EQ(v.intValue().has_value(), c.isInt) << c.json;
    EXPECT_EQ(v.doubleValue().has_value(), c.isDouble) << c.json;
    EXPECT_EQ(v.boolValue().has_value(), c.isBool) << c.json;
    EXPECT_EQ(v.arrayValue() != nullptr, c.isArray) << c.json;
    EXPECT_EQ(v.dictionaryValue() != nullptr, c.isObject) << c.json;
  }
  EXPECT_EQ(decoded("2").intValue(), 2);
  EXPECT_FALSE(decoded("2.5").intValue());
  EXPECT_FALSE(decoded("2").doubleValue());
}

TEST(AnyCodable, ValuesBuiltInCodeFollowTheSameRules) {
  EXPECT_EQ(AnyCodable(Json(std::uint64_t{5})).intValue(), 5);  // unsigned from code is still an integer
  EXPECT_FALSE(AnyCodable(Json(std::uint64_t{1} << 63)).intValue());
  EXPECT_TRUE(AnyCodable(Json(std::uint64_t{1} << 63)).doubleValue());
  EXPECT_FALSE(AnyCodable(Json(1)).boolValue());
}

TEST(AnyCodable, RoundTripsArraysWithNullAndObjects) {
  const Json text = parseJson(R"([1,null,"x",{"b":1,"a":[true]}])");
  const AnyCodable v = AnyCodable::decode(text);
  EXPECT_EQ(v.encode(), text);
  EXPECT_EQ(dumpJson(v.encode()), R"([1,null,"x",{"b":1,"a":[true]}])");
  EXPECT_TRUE(AnyCodable::decode(Json(nullptr)).encode().is_null());
}

TEST(AnyCodable, EncodingANonJsonValueFails) {
  const AnyCodable v(Json{{"a", Json::array({1, Json::binary({1, 2, 3})})}});
  try {
    (void)v.encode();
    ADD_FAILURE();
  } catch (const EncodingError& e) {
    EXPECT_EQ(e.description(), "Unsupported type: binary");
  }
  EXPECT_THROW(AnyCodable::decode(Json::binary({1})), DecodingError);
}

TEST(AnyCodable, Equality) {
  EXPECT_EQ(decoded("1"), decoded("1"));
  EXPECT_NE(decoded("1"), decoded("1.0"));
  EXPECT_NE(decoded("1"), decoded("true"));
  EXPECT_EQ(decoded("true"), decoded("true"));
  EXPECT_NE(decoded("null"), decoded("null"));
  EXPECT_NE(decoded("[1]"), decoded("[1]"));
  EXPECT_NE(decoded("{}"), decoded("{}"));
  EXPECT_NE(AnyCodable(Json(NAN)), AnyCodable(Json(NAN)));
  EXPECT_EQ(AnyCodable(Json("caf\u00e9")), AnyCodable(Json("cafe\u0301")));  // precomposed vs combining
  EXPECT_NE(AnyCodable(Json("cafe")), AnyCodable(Json("caf\u00e9")));
  EXPECT_NE(AnyCodable(Json(std::string("\xff"))), AnyCodable(Json(std::string("\xfe"))));
}

TEST(AnyCodable, Description) {
  EXPECT_EQ(decoded("\"hi\"").description(), "hi");
  EXPECT_EQ(decoded("-7").description(), "-7");
  EXPECT_EQ(decoded("false").description(), "false");
  EXPECT_EQ(decoded("null").description(), "nil");
  EXPECT_EQ(decoded(R"([1,"a",null])").description(), R"([1, "a", nil])");
  EXPECT_EQ(decoded(R"({"k":1})").description(), R"(["k": 1])");
  EXPECT_EQ(decoded("{}").description(), "[:]");
}

}  // namespace
}  // namespace qd
