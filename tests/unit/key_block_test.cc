// The key block reader: the image's own block, and blocks whose sizes lie.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "integrity/key_block.h"
#include "util/byte_reader.h"

namespace {

std::vector<uint8_t> Block(uint32_t format, uint32_t root, uint32_t exe, uint32_t table) {
  std::vector<uint8_t> b(kKeyBlockSize, 0x5A);
  const uint32_t fields[] = {format, root, exe, table};
  for (int i = 0; i < 4; ++i) ByteReader::StoreU32(b.data() + 16 + 4 * i, fields[i]);
  return b;
}

TEST(KeyBlockTest, ImageBlockHoldsTheBuildsKeySet) {
  TrustedKeys keys;
  ASSERT_TRUE(ParseKeyBlock(kImageKeyBlock, kKeyBlockSize, &keys));
  EXPECT_EQ(keys.root_size, 294u);
  EXPECT_EQ(keys.exe_signing_size, 548u);
  EXPECT_EQ(keys.table_size, 5000u);
  EXPECT_EQ(keys.root, kImageKeyBlock + kKeyBlockHeaderSize);
  EXPECT_EQ(keys.table, kImageKeyBlock + kKeyBlockHeaderSize + 294 + 548);
  EXPECT_EQ(ActiveTrustedKeys().table, keys.table);
}

TEST(KeyBlockTest, SizesThatDoNotFitAreRefused) {
  const uint32_t room = static_cast<uint32_t>(kKeyBlockCapacity);
  std::vector<uint8_t> cut = Block(1, 294, 548, 5000);
  cut.resize(30);
  const struct {
    const char* name;
    std::vector<uint8_t> block;
    bool accepted;
  } cases[] = {
      {"exactly full", Block(1, 100, 100, room - 200), true},
      {"one byte over", Block(1, 100, 100, room - 199), false},
      {"sizes whose 32-bit sum wraps", Block(1, 0xFFFFFFF0u, 0x20, 0x10), false},
      {"each size huge", Block(1, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu), false},
      {"no root key", Block(1, 0, 548, 5000), false},
      {"no table", Block(1, 294, 548, 0), false},
      {"unknown format", Block(2, 294, 548, 5000), false},
      {"cut inside the header", cut, false},
  };
  for (const auto& c : cases) {
    TrustedKeys keys;
    EXPECT_EQ(ParseKeyBlock(c.block.data(), c.block.size(), &keys), c.accepted) << c.name;
  }
}

}  // namespace
