#pragma once
// Millisecond clocks standing in for the system tick count.

#include <cstdint>

namespace tavolen::platform {

// Milliseconds since an arbitrary start, wrapping at 2^32 like the Win32 tick;
// compare ticks only by unsigned difference.
uint32_t tickCount();

// Sleeps at least ms milliseconds.
void sleepMs(uint32_t ms);

}  // namespace tavolen::platform
