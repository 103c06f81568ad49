#pragma once
// Waiting, and Ctrl-C.
//
// startInterruptHandling blocks SIGINT, SIGTERM and SIGHUP in the calling
// thread before any other thread exists (threads inherit the mask, the
// library's included) and takes them on a thread of its own. That thread sets
// the interrupt flag and wakes every wait; a second signal ends the process at
// once.
//
// State shared between library callbacks (on the library's threads) and the
// main thread is guarded by Waits::mutex(); whoever changes it calls
// Waits::notify(). Every wait has a deadline.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "failure.h"

namespace tavolen::cli {

using Clock = std::chrono::steady_clock;

void startInterruptHandling();
bool interrupted();
// The exit status for the signal that interrupted (130 for Ctrl-C).
int interruptedStatus();

// "Until interrupted", as a deadline the clocks can still add up (years).
inline constexpr double kForever = 1e8;

// "10 s", "0.5 s": a wait's length for a message.
std::string secondsText(double seconds);

inline Clock::time_point secondsFromNow(double seconds) {
  return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

class Waits {
 public:
  static std::mutex& mutex();
  // Wakes every wait; call it after changing shared state (holding the mutex
  // or not).
  static void notify();
  static void notifyInterrupt();

  // Until pred() holds (evaluated under the mutex), an interrupt or the
  // deadline; returns pred() as it was last seen.
  template <typename Pred>
  static bool until(Clock::time_point deadline, Pred pred) {
    std::unique_lock<std::mutex> lock(mutex());
    condition().wait_until(lock, deadline, [&] { return pred() || interrupted(); });
    return pred();
  }

  // As until, but an interrupt throws Interrupted.
  template <typename Pred>
  static bool untilOrThrow(Clock::time_point deadline, Pred pred) {
    const bool done = until(deadline, pred);
    if (!done && interrupted()) throw Interrupted();
    return done;
  }

  // For what nothing signals (a player's counters): looks every 10 ms, under
  // no lock, until pred() holds, the deadline passes or an interrupt comes
  // (which throws Interrupted).
  template <typename Pred>
  static bool poll(Clock::time_point deadline, Pred pred) {
    for (;;) {
      if (pred()) return true;
      if (interrupted()) throw Interrupted();
      if (Clock::now() >= deadline) return false;
      sleepUntil(std::min(deadline, Clock::now() + std::chrono::milliseconds(10)));
    }
  }

  // Sleeps until the deadline or an interrupt.
  static void sleepUntil(Clock::time_point deadline) {
    until(deadline, [] { return false; });
  }

 private:
  static std::condition_variable& condition();
};

}  // namespace tavolen::cli
