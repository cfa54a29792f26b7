#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "util/read_ahead.h"

namespace {

struct ReadAheadCase {
  uint64_t count;
  uint64_t failAt;  // index whose fill fails; count: none fails
  bool threaded;
};

class ReadAheadTest : public ::testing::TestWithParam<ReadAheadCase> {};

// Pieces arrive in order with their own bytes, fills run in order, and a
// failed fill ends the stream at that piece for good.
TEST_P(ReadAheadTest, DeliversPiecesInOrderUntilAFillFails) {
  const ReadAheadCase& c = GetParam();
  std::vector<uint64_t> filled;
  ReadAhead pieces(
      c.count, 8,
      [&](uint64_t index, uint8_t* buffer) {
        filled.push_back(index);
        for (int i = 0; i < 8; ++i) buffer[i] = static_cast<uint8_t>(index * 8 + i);
        return index != c.failAt;
      },
      c.threaded);
  uint64_t got = 0;
  while (const uint8_t* piece = pieces.Next()) {
    for (int i = 0; i < 8; ++i) ASSERT_EQ(piece[i], static_cast<uint8_t>(got * 8 + i));
    ++got;
  }
  EXPECT_EQ(got, c.failAt < c.count ? c.failAt : c.count);
  EXPECT_EQ(pieces.Next(), nullptr);
  for (size_t i = 0; i < filled.size(); ++i) EXPECT_EQ(filled[i], i);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadAheadTest,
                         ::testing::Values(ReadAheadCase{0, 0, true}, ReadAheadCase{1, 1, true},
                                           ReadAheadCase{50, 50, true}, ReadAheadCase{50, 0, true},
                                           ReadAheadCase{50, 17, true}, ReadAheadCase{50, 49, true},
                                           ReadAheadCase{50, 50, false}, ReadAheadCase{50, 17, false}));

// A consumer that stops early (a failed write) must not leave the fill thread
// waiting for a slot that is never freed, and no fill may run past the stop.
TEST(ReadAheadStopTest, EndsTheFillThreadWhenDroppedEarly) {
  uint64_t fills = 0;
  {
    ReadAhead pieces(1000, 4, [&](uint64_t, uint8_t*) { return ++fills, true; }, true);
    ASSERT_NE(pieces.Next(), nullptr);
  }
  EXPECT_LE(fills, 3u);  // the caller's piece and at most the two slots ahead
}

}  // namespace
