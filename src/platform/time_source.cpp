#include "platform/time_source.h"

#include <time.h>

#include "platform/clock.h"

namespace tavolen::platform {

uint32_t TimeSource::tickCount() { return currentClock().tickCount(); }

int TimeSource::poll(pollfd* fds, int count, uint32_t timeoutMs) {
  return currentClock().poll(fds, count, timeoutMs);
}

uint32_t TimeSource::multimediaTime() { return currentClock().tickCount(); }

LocalTime TimeSource::localTime() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm parts{};
  localtime_r(&ts.tv_sec, &parts);
  LocalTime t;
  t.year = parts.tm_year + 1900;
  t.month = parts.tm_mon + 1;
  t.day = parts.tm_mday;
  t.hour = parts.tm_hour;
  t.minute = parts.tm_min;
  t.second = parts.tm_sec;
  t.millisecond = static_cast<int>(ts.tv_nsec / 1000000L);
  return t;
}

TimeSource& systemTimeSource() {
  static TimeSource* source = new TimeSource;  // never destroyed, like the system clock
  return *source;
}

}  // namespace tavolen::platform
