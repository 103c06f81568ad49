#pragma once
// The 30 ms pacing of players. Every PacingTimer in the process is served by
// one timer thread that sleeps to absolute deadlines and, on each one, calls
// the record's tick function with its owner and stores the tick time.
//
// Tick functions run on the timer thread with the service lock held: they must
// only signal (never wait, never start or stop a timer). Once stopTimer
// returns, the tick function of that record is not running and will not run
// again, so its owner may go away.

#include <atomic>
#include <cstdint>

namespace tavolen {

struct PacingTimer {
  std::atomic<uint32_t> lastTickTime{0};  // tick count after the latest tick
  void* owner = nullptr;
  std::atomic<uint32_t> timerId{0};       // 0: no timer runs
  void (*tick)(void* owner) = nullptr;
};

inline constexpr uint32_t kPacingPeriodMs = 30;

// Stops any timer the record still holds, then starts one with the given tick
// function; the first tick comes one period later.
void startPacingTimer(PacingTimer& timer, void* owner, void (*tick)(void*));
// Kills the record's timer and clears its id and tick function.
void stopPacingTimer(PacingTimer& timer);

// Test seam. While held, deadlines pass without ticks, so a queue can be
// filled and inspected without the consumer running; fireNow delivers one tick
// to every running timer at once, held or not.
void holdPacingTimers(bool held);
void firePacingTimersNow();
// Number of timers currently running in the process.
int32_t runningPacingTimers();

}  // namespace tavolen
