#include "platform/event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/tick.h"

namespace tavolen::platform {

Event::Event(Reset reset, bool initiallySignalled) : reset_(reset) {
  fd_ = eventfd(initiallySignalled ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd_ < 0) std::abort();  // out of descriptors: nothing sensible can go on
}

Event::~Event() { ::close(fd_); }

void Event::signal() {
  // A counter already at 1 stays signalled; writing again only adds, which a
  // reset or a consuming read clears in one go.
  uint64_t one = 1;
  while (::write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void Event::reset() {
  uint64_t value;
  while (::read(fd_, &value, sizeof value) < 0 && errno == EINTR) {
  }
}

bool Event::tryConsume() {
  if (reset_ == Reset::Manual) return true;
  uint64_t value;
  for (;;) {
    if (::read(fd_, &value, sizeof value) == sizeof value) return true;
    if (errno != EINTR) return false;
  }
}

bool Event::wait(uint32_t timeoutMs) {
  const uint32_t start = tickCount();
  for (;;) {
    int slice = -1;
    if (timeoutMs != kWaitForever) {
      const uint32_t elapsed = tickCount() - start;
      if (elapsed >= timeoutMs) slice = 0;
      else slice = static_cast<int>(timeoutMs - elapsed);
    }
    pollfd p{fd_, POLLIN, 0};
    const int n = ::poll(&p, 1, slice);
    if (n > 0 && tryConsume()) return true;
    if (n < 0 && errno != EINTR) return false;
    if (n == 0 && slice == 0) return false;
  }
}

}  // namespace tavolen::platform
