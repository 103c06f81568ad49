#pragma once
// The clocks the recorder reads: the millisecond tick (and the waits on it),
// the multimedia time and the local calendar time. Recording code takes a
// TimeSource& so that tests can drive the clock instead of sleeping.

#include <cstdint>

#include "platform/clock.h"

namespace tavolen::platform {

struct LocalTime {
  int year = 0;
  int month = 0;  // 1-12
  int day = 0;    // 1-31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;  // 0-999
};

// The base reads the clock in use (clock.h) for the tick and its waits.
class TimeSource : public Clock {
 public:
  // 32-bit millisecond tick (wraps; compare by unsigned difference).
  uint32_t tickCount() override;
  int poll(pollfd* fds, int count, uint32_t timeoutMs) override;
  // 32-bit millisecond multimedia time (same properties, separate reading).
  virtual uint32_t multimediaTime();
  virtual LocalTime localTime();
};

// The real clocks; one instance per process, callable from any thread.
TimeSource& systemTimeSource();

}  // namespace tavolen::platform
