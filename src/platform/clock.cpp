#include "platform/clock.h"

#include <time.h>

#include <atomic>
#include <cerrno>

namespace tavolen::platform {

namespace {

class SystemClock final : public Clock {
 public:
  uint32_t tickCount() override {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
  }

  int poll(pollfd* fds, int count, uint32_t timeoutMs) override {
    const uint32_t start = tickCount();
    for (;;) {
      int slice = -1;
      if (timeoutMs != kWaitForever) {
        const uint32_t elapsed = tickCount() - start;
        slice = elapsed >= timeoutMs ? 0 : static_cast<int>(timeoutMs - elapsed);
      }
      const int n = ::poll(fds, static_cast<nfds_t>(count), slice);
      if (n >= 0 || errno != EINTR) return n;
    }
  }
};

std::atomic<Clock*> gInstalled{nullptr};

}  // namespace

Clock& systemClock() {
  // Never destroyed: threads left running at exit still wait on it.
  static SystemClock* clock = new SystemClock;
  return *clock;
}

Clock& currentClock() {
  Clock* installed = gInstalled.load(std::memory_order_acquire);
  return installed != nullptr ? *installed : systemClock();
}

void installClock(Clock* clock) { gInstalled.store(clock, std::memory_order_release); }

}  // namespace tavolen::platform
