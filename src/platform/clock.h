#pragma once
// The clock behind the library's millisecond tick and every timed wait:
// tickCount and sleepMs (tick.h), Event::wait with a limit, and the socket
// waits of socket.h. The system clock serves unless a test installs its own;
// a manual clock moves only when the test moves it, so a test shows that a
// time limit holds by moving the clock, never by measuring real time.
//
// Pacing that is not behaviour (the sound devices' own threads, the decode
// thread's pause behind a backlog, the capture thread's breath between
// messages, the receive threads' slices between looks at their stop flags)
// asks systemClock() by name and keeps real time under any clock.
//
// Threads: any. The installed clock is read on every call; install one
// before the objects under test start and restore the system clock after
// they are gone.

#include <poll.h>

#include <cstdint>

namespace tavolen::platform {

inline constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary start, wrapping at 2^32 like the Win32
  // tick; compare ticks only by unsigned difference.
  virtual uint32_t tickCount() = 0;
  // poll() over count descriptors (none: a plain sleep) whose time limit
  // (kWaitForever: none) runs on this clock. Returns as poll does: the number
  // of ready descriptors, 0 once the limit has passed, -1 on an error other
  // than an interruption (which resumes with the time left).
  virtual int poll(pollfd* fds, int count, uint32_t timeoutMs) = 0;
};

Clock& systemClock();
// The clock in use: the installed one, else the system clock.
Clock& currentClock();
// Installs a clock for the whole process; null restores the system clock.
void installClock(Clock* clock);

}  // namespace tavolen::platform
