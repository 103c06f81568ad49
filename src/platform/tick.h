#pragma once
// Millisecond ticks and sleeps on the clock in use (clock.h).

#include <cstdint>

#include "platform/clock.h"

namespace tavolen::platform {

// Milliseconds since an arbitrary start, wrapping at 2^32 like the Win32 tick;
// compare ticks only by unsigned difference.
inline uint32_t tickCount() { return currentClock().tickCount(); }

// Sleeps at least ms milliseconds of the given clock.
inline void sleepMs(uint32_t ms, Clock& on = currentClock()) { on.poll(nullptr, 0, ms); }

}  // namespace tavolen::platform
