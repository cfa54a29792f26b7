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
