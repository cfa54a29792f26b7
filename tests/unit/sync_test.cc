#include "util/sync.h"

#include <gtest/gtest.h>

#include "util/platform.h"

namespace {

TEST(AutoResetEvent, OneSetReleasesOneWait) {
  AutoResetEvent event;
  EXPECT_FALSE(event.Wait(0));
  event.Set();
  event.Set();  // a second Set before anyone waits is not counted
  EXPECT_TRUE(event.Wait(0));
  EXPECT_FALSE(event.Wait(0));
}

TEST(AutoResetEvent, WaitTimesOutAfterRoughlyTheTimeout) {
  AutoResetEvent event;
  const uint32_t start = PlatformTickCount();
  EXPECT_FALSE(event.Wait(50));
  EXPECT_GE(PlatformTickCount() - start, 40u);
}

struct Shared {
  Mutex lock;
  long counter = 0;
  AutoResetEvent started;
};

void Count(void* context) {
  Shared* shared = static_cast<Shared*>(context);
  shared->started.Set();
  for (int i = 0; i < 100000; ++i) {
    MutexLock hold(shared->lock);
    ++shared->counter;
  }
}

TEST(Thread, BodiesRunUnderTheMutexAndJoin) {
  Shared shared;
  Thread a, b;
  ASSERT_TRUE(a.Start(&Count, &shared));
  EXPECT_FALSE(a.Start(&Count, &shared));
  ASSERT_TRUE(b.Start(&Count, &shared));
  EXPECT_TRUE(shared.started.Wait(5000));
  EXPECT_TRUE(a.Join());
  EXPECT_TRUE(b.Join());
  EXPECT_FALSE(a.Join());
  EXPECT_EQ(shared.counter, 200000);
}

}  // namespace
