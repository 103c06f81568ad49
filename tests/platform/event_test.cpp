#include "platform/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/thread.h"
#include "platform/tick.h"
#include "support/manual_clock.h"

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

// A timed wait ends exactly when the clock has moved its limit on, and a
// signal ends a wait at once, limit or not.
TEST(Event, TimedWaitTimesOutThenWakesOnSignal) {
  test::ManualClock clock;
  Event e;
  EXPECT_EQ(clock.callThroughLimit(60, 1, [&] { return e.wait(60) ? 1 : 0; }), 0);

  std::thread signaller([&] {
    ASSERT_TRUE(clock.waitForSleepers(1));
    e.signal();
  });
  EXPECT_TRUE(e.wait(1000));
  signaller.join();
  std::thread late([&] { e.signal(); });
  EXPECT_TRUE(e.wait(kWaitForever));
  late.join();
}

TEST(Event, OneAutoResetSignalWakesOneOfTwoWaiters) {
  test::ManualClock clock;
  Event e;
  std::atomic<int> woken{0};
  auto waiter = [&] {
    if (e.wait(300)) ++woken;
  };
  std::thread a(waiter), b(waiter);
  ASSERT_TRUE(clock.waitForSleepers(2));
  e.signal();
  while (woken.load() == 0) std::this_thread::yield();
  ASSERT_TRUE(clock.waitForSleepers(1));  // the other waits on
  clock.advance(300);
  a.join();
  b.join();
  EXPECT_EQ(woken.load(), 1);
}

TEST(Event, WaitAnyReportsTheEventSeenAndConsumesOnlyIt) {
  test::ManualClock clock;
  Event a(Event::Reset::Auto), b(Event::Reset::Auto), manual(Event::Reset::Manual);
  EXPECT_EQ(Event::waitAny({&a, &b}, 0), -1);
  b.signal();
  EXPECT_EQ(Event::waitAny({&a, &b}, 0), 1);
  EXPECT_FALSE(b.wait(0));  // consumed
  manual.signal();
  EXPECT_EQ(Event::waitAny({&a, &manual}, 0), 1);
  EXPECT_EQ(Event::waitAny({&a, &manual}, 0), 1);  // a manual-reset event stays signalled
  std::atomic<int> seen{-2};
  std::thread waiter([&] { seen = Event::waitAny({&a, &b}, 100); });
  ASSERT_TRUE(clock.waitForSleepers(1));
  clock.advance(100);
  waiter.join();
  EXPECT_EQ(seen.load(), -1);
}

TEST(Thread, TimeCriticalStartRunsTheFunction) {
  std::atomic<bool> ran{false};
  std::thread t = startThread([&] { ran = true; }, ThreadPriority::TimeCritical);
  t.join();
  EXPECT_TRUE(ran.load());
}

// The system clock's tick is CLOCK_MONOTONIC in milliseconds, cut to 32 bits.
TEST(Tick, SystemTickIsTheMonotonicClockInMilliseconds) {
  auto monotonicMs = [] {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
  };
  const uint32_t before = monotonicMs();
  const uint32_t tick = systemClock().tickCount();
  const uint32_t after = monotonicMs();
  EXPECT_LE(tick - before, after - before);
  EXPECT_EQ(&currentClock(), &systemClock());
}

// tickCount and sleepMs follow the clock in use.
TEST(Tick, SleepsFollowTheInstalledClock) {
  test::ManualClock clock;
  EXPECT_EQ(&currentClock(), &clock);
  const uint32_t start = tickCount();
  std::atomic<bool> woke{false};
  std::thread sleeper([&] {
    sleepMs(15);
    woke = true;
  });
  ASSERT_TRUE(clock.waitForSleepers(1));
  clock.advance(14);
  EXPECT_FALSE(woke.load());
  clock.advance(1);
  sleeper.join();
  EXPECT_EQ(tickCount() - start, 15u);
}

}  // namespace
}  // namespace tavolen::platform
