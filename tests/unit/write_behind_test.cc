#include "util/write_behind.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// Pieces are worked on in order with their own bytes; a failed piece drops
// every later one and Finish reports it; Push refuses after the failure is
// seen and after Finish.
TEST(WriteBehindTest, WorksInOrderUntilAPieceFails) {
  for (const bool threaded : {true, false}) {
    for (const int failAt : {-1, 0, 17}) {
      std::vector<uint8_t> seen;
      WriteBehind worker(4, [&](uint8_t* data, size_t n) {
        seen.insert(seen.end(), data, data + n);
        return data[0] != failAt;
      }, threaded);
      for (uint8_t i = 0; i < 50; ++i) {
        const uint8_t piece[3] = {i, i, i};
        worker.Push(piece, i % 3 + 1);
      }
      EXPECT_EQ(worker.Finish(), failAt < 0);
      EXPECT_FALSE(worker.Push(seen.data(), 1));
      size_t at = 0;
      for (uint8_t i = 0; i < 50 && at < seen.size(); ++i)
        for (int k = 0; k < i % 3 + 1; ++k) ASSERT_EQ(seen[at++], i) << threaded;
      const size_t pieces = failAt < 0 ? 50 : failAt + 1;
      size_t expected = 0;
      for (size_t i = 0; i < pieces; ++i) expected += i % 3 + 1;
      EXPECT_EQ(seen.size(), expected) << threaded << " " << failAt;
    }
  }
}

}  // namespace
