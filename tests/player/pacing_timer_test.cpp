#include "player/pacing_timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "player/player_test_util.h"

namespace tavolen {
namespace {

void countTick(void* owner) { static_cast<std::atomic<int>*>(owner)->fetch_add(1); }

// Once stopPacingTimer returns the tick function never runs again, so its
// owner may be freed at once; starting again replaces the old timer.
TEST(PacingTimer, TicksUntilStoppedAndNeverAfter) {
  std::atomic<int> ticks{0};
  PacingTimer timer;
  startPacingTimer(timer, &ticks, countTick);
  startPacingTimer(timer, &ticks, countTick);
  EXPECT_NE(timer.timerId.load(), 0u);
  ASSERT_TRUE(test::waitUntil([&] { return ticks.load() >= 3; }));
  EXPECT_NE(timer.lastTickTime.load(), 0u);
  stopPacingTimer(timer);
  EXPECT_EQ(timer.timerId.load(), 0u);
  EXPECT_EQ(timer.tick, nullptr);
  const int atStop = ticks.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(3 * kPacingPeriodMs));
  EXPECT_EQ(ticks.load(), atStop);
  stopPacingTimer(timer);  // stopping a stopped record is harmless
}

// A held service delivers nothing on its own; fireNow still ticks each
// running timer exactly once.
TEST(PacingTimer, HoldAndFireNow) {
  std::atomic<int> a{0}, b{0};
  PacingTimer ta, tb;
  holdPacingTimers(true);
  startPacingTimer(ta, &a, countTick);
  startPacingTimer(tb, &b, countTick);
  std::this_thread::sleep_for(std::chrono::milliseconds(3 * kPacingPeriodMs));
  EXPECT_EQ(a.load(), 0);
  firePacingTimersNow();
  EXPECT_EQ(a.load(), 1);
  EXPECT_EQ(b.load(), 1);
  stopPacingTimer(ta);
  firePacingTimersNow();
  EXPECT_EQ(a.load(), 1);
  EXPECT_EQ(b.load(), 2);
  stopPacingTimer(tb);
  holdPacingTimers(false);
}

}  // namespace
}  // namespace tavolen
