#pragma once
// The clocks the recorder reads: the millisecond tick, the multimedia time and
// the local calendar time. Recording code takes a TimeSource& so that tests can
// drive the clock instead of sleeping.

#include <cstdint>

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

class TimeSource {
 public:
  virtual ~TimeSource() = default;
  // 32-bit millisecond tick (wraps; compare by unsigned difference).
  virtual uint32_t tickCount();
  // 32-bit millisecond multimedia time (same properties, separate reading).
  virtual uint32_t multimediaTime();
  virtual LocalTime localTime();
};

// The real clocks; one instance per process, callable from any thread.
TimeSource& systemTimeSource();

}  // namespace tavolen::platform
