#include "util/sync.h"

#include <gtest/gtest.h>

namespace {

TEST(AutoResetEvent, OneSetReleasesOneWait) {
  AutoResetEvent event;
  EXPECT_FALSE(event.Wait(10));
  event.Set();
  event.Set();  // not counted twice
  EXPECT_TRUE(event.Wait(0));
  EXPECT_FALSE(event.Wait(0));
}

struct Shared {
  Mutex lock;
  long counter = 0;
};

TEST(Thread, BodiesRunUnderTheMutexAndJoin) {
  Shared shared;
  auto count = [](void* context) {
    Shared* s = static_cast<Shared*>(context);
    for (int i = 0; i < 100000; ++i) {
      MutexLock hold(s->lock);
      ++s->counter;
    }
  };
  Thread a, b;
  ASSERT_TRUE(a.Start(count, &shared) && b.Start(count, &shared));
  EXPECT_TRUE(a.Join() && b.Join());
  EXPECT_EQ(shared.counter, 200000);
}

}  // namespace

// Ping-pong through two hand-offs: a lost wake-up hangs, a doubled one lets a
// side run ahead and breaks the strict alternation.
TEST(Handoff, PingPongNeverLosesOrDoublesAPost) {
  struct Pair {
    Handoff ping, pong;
    int turn = 0;
    bool alternated = true;
  } pair;
  constexpr int kRounds = 20000;
  Thread other;
  ASSERT_TRUE(other.Start(
      [](void* p) {
        Pair& s = *static_cast<Pair*>(p);
        for (int i = 0; i < kRounds; ++i) {
          s.ping.Take();
          if (s.turn != 2 * i + 1) s.alternated = false;
          ++s.turn;
          s.pong.Post();
        }
      },
      &pair));
  for (int i = 0; i < kRounds; ++i) {
    if (pair.turn != 2 * i) pair.alternated = false;
    ++pair.turn;
    pair.ping.Post();
    pair.pong.Take();
  }
  other.Join();
  EXPECT_TRUE(pair.alternated);
  EXPECT_EQ(2 * kRounds, pair.turn);
}
