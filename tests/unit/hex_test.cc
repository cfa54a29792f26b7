#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "util/hex.h"

namespace {

struct HexCase {
  const char* text;
  int32_t count;
  std::vector<uint8_t> expected;  // output starts as 0xEE everywhere
};

class HexToBytesTest : public ::testing::TestWithParam<HexCase> {};

TEST_P(HexToBytesTest, DecodesAsDocumented) {
  const HexCase& c = GetParam();
  std::vector<uint8_t> out(4, 0xEE);
  HexToBytes(out.data(), c.text, c.count);
  EXPECT_EQ(out, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HexToBytesTest,
    ::testing::Values(
        HexCase{"0a1B", 2, {0x0A, 0x1B, 0xEE, 0xEE}},
        HexCase{"abc", 2, {0xAB, 0xC0, 0xEE, 0xEE}},         // odd digit count: low half 0
        HexCase{"zz12", 2, {0x00, 0x12, 0xEE, 0xEE}},        // invalid digits decode as 0
        HexCase{"", 4, {0xEE, 0xEE, 0xEE, 0xEE}},            // empty text touches nothing
        HexCase{"0102", 0, {0xEE, 0xEE, 0xEE, 0xEE}},        // count 0
        HexCase{"0102", -1, {0xEE, 0xEE, 0xEE, 0xEE}},       // negative count
        HexCase{"010203", 2, {0x01, 0x02, 0xEE, 0xEE}},      // count limits the output
        HexCase{"fFg1", 2, {0xFF, 0x01, 0xEE, 0xEE}}));

TEST(HexToBytes, NullPointersAreIgnored) {
  uint8_t out[2] = {1, 2};
  HexToBytes(nullptr, "0000", 2);
  HexToBytes(out, nullptr, 2);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[1], 2);
}

}  // namespace
