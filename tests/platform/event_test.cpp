#include "platform/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/thread.h"
#include "platform/tick.h"

namespace tavolen::platform {
namespace {

TEST(Event, AutoResetIsConsumedByOneWait) {
  Event e(Event::Reset::Auto);
  EXPECT_FALSE(e.wait(0));
  e.signal();
  e.signal();  // a second signal before the wait does not queue a second wake-up
  EXPECT_TRUE(e.wait(0));
  EXPECT_FALSE(e.wait(0));
}

TEST(Event, ManualResetStaysSignalledUntilReset) {
  Event e(Event::Reset::Manual, true);
  EXPECT_TRUE(e.wait(0));
  EXPECT_TRUE(e.wait(10));
  e.reset();
  EXPECT_FALSE(e.wait(0));
}

TEST(Event, TimedWaitTimesOutThenWakesOnSignal) {
  Event e;
  const uint32_t start = tickCount();
  EXPECT_FALSE(e.wait(60));
  const uint32_t waited = tickCount() - start;
  EXPECT_GE(waited, 59u);
  EXPECT_LT(waited, 1000u);

  std::thread signaller([&] {
    sleepMs(20);
    e.signal();
  });
  EXPECT_TRUE(e.wait(kWaitForever));
  signaller.join();
}

TEST(Event, OneAutoResetSignalWakesOneOfTwoWaiters) {
  Event e;
  std::atomic<int> woken{0};
  auto waiter = [&] {
    if (e.wait(300)) ++woken;
  };
  std::thread a(waiter), b(waiter);
  sleepMs(30);
  e.signal();
  a.join();
  b.join();
  EXPECT_EQ(woken.load(), 1);
}

TEST(Thread, TimeCriticalStartRunsTheFunction) {
  std::atomic<bool> ran{false};
  std::thread t = startThread([&] { ran = true; }, ThreadPriority::TimeCritical);
  t.join();
  EXPECT_TRUE(ran.load());
}

TEST(Tick, MonotonicMilliseconds) {
  const uint32_t a = tickCount();
  sleepMs(15);
  const uint32_t d = tickCount() - a;
  EXPECT_GE(d, 14u);
  EXPECT_LT(d, 1000u);
}

}  // namespace
}  // namespace tavolen::platform
