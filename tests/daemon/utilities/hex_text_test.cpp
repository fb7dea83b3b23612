#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "daemon/utilities/hex_text.h"

namespace qd {
namespace {

TEST(HexText, PairsToBytes) {
  using Bytes = std::vector<std::uint8_t>;
  EXPECT_EQ(bytesFromHex("0aFF"), (Bytes{0x0a, 0xff}));
  EXPECT_EQ(bytesFromHex("0aF"), (Bytes{0x0a}));
  EXPECT_EQ(bytesFromHex(""), Bytes{});
  EXPECT_EQ(bytesFromHex("a"), Bytes{});
  EXPECT_EQ(bytesFromHex("zz00"), std::nullopt);
  EXPECT_EQ(bytesFromHex("00zz"), std::nullopt);
}

TEST(HexText, DigitValues) {
  EXPECT_EQ(hexDigitValue('0'), 0);
  EXPECT_EQ(hexDigitValue('f'), 15);
  EXPECT_EQ(hexDigitValue('F'), 15);
  EXPECT_EQ(hexDigitValue('g'), -1);
}

}  // namespace
}  // namespace qd
