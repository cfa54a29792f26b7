// Descrambler's group-at-a-time paths against the plain byte loop: same bytes
// and same state after every call, whatever the key, the data, the call sizes,
// the mix of Apply and Skip, and restored (also foreign) states.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "bundle/descrambler.h"
#include "descrambler_reference.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool SameState(const DescramblerState& a, const DescramblerState& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// Bytes whose bit 0 is set with probability `ones_in_8` / 8: 0 and 8 keep
// the walk on one table (a group can take 8 bytes from a 3-byte table).
Bytes RandomData(std::mt19937* rng, size_t n, int ones_in_8) {
  Bytes data(n);
  for (auto& b : data) {
    const bool one = static_cast<int>((*rng)() % 8) < ones_in_8;
    b = static_cast<uint8_t>(((*rng)() & 0xFE) | (one ? 1 : 0));
  }
  return data;
}

class DescramblerMatchesReferenceTest : public ::testing::TestWithParam<size_t> {};

TEST_P(DescramblerMatchesReferenceTest, PiecewiseApplySkipAndRestoredStates) {
  const size_t key_length = GetParam();
  std::mt19937 rng(static_cast<uint32_t>(key_length) * 7919u + 1u);
  Bytes key(key_length);
  for (auto& b : key) b = static_cast<uint8_t>(rng());
  Descrambler fast;
  fast.SetKey(key.data(), key.size());
  ReferenceDescrambler reference(key.data(), key.size());

  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(testing::Message() << "round " << round);
    const int ones_in_8 = static_cast<int>(rng() % 9);
    Bytes data = RandomData(&rng, rng() % 3000, ones_in_8);
    Bytes expected = data;
    uint64_t offset = rng() % 100000;
    if (round % 5 == 4) {
      // A state saved with a chunk, possibly foreign, loaded into a fresh object.
      DescramblerState saved;
      for (auto& p : saved.pos) {
        p = rng() % 4 == 0 ? static_cast<uint32_t>(rng()) : rng() % (key_length / 4 + 1);
      }
      saved.index = rng() % 4 == 0 ? static_cast<uint32_t>(rng()) : rng() % 4;
      fast = Descrambler();
      fast.SetKey(key.data(), key.size());
      fast.set_state(saved);
      reference.state = saved;
    }
    // Pieces of any size, including none, single bytes and whole blocks.
    for (size_t at = 0; at < data.size();) {
      const size_t piece = std::min<size_t>(data.size() - at, rng() % 4 == 0 ? rng() % 9 : rng() % 700);
      if (rng() % 3 == 0) {
        fast.Skip(data.data() + at, piece);
        reference.Skip(expected.data() + at, piece);
      } else {
        fast.Apply(data.data() + at, piece, offset + at);
        reference.Apply(expected.data() + at, piece, offset + at);
      }
      ASSERT_EQ(expected, data) << "piece at " << at << " of " << piece;
      ASSERT_TRUE(SameState(reference.state, fast.state())) << "piece at " << at << " of " << piece;
      at += piece;
    }
  }
}

// Offset mode (up to 11 bytes, none), the shortest tables (12..20: 3-5 bytes
// each, the third longer), and long keys.
INSTANTIATE_TEST_SUITE_P(KeyLengths, DescramblerMatchesReferenceTest,
                         ::testing::Values(0, 1, 5, 11, 12, 13, 14, 15, 16, 19, 20, 33, 257, 1031, 5000));

}  // namespace
