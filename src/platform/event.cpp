#include "platform/event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>


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

bool Event::wait(uint32_t timeoutMs, Clock& on) { return waitAny({this}, timeoutMs, on) == 0; }

int Event::waitAny(std::initializer_list<Event*> events, uint32_t timeoutMs, Clock& on) {
  constexpr size_t kMost = 4;
  if (events.size() == 0 || events.size() > kMost) return -1;
  pollfd p[kMost];
  const int count = static_cast<int>(events.size());
  const uint32_t start = on.tickCount();
  for (;;) {
    uint32_t left = kWaitForever;
    if (timeoutMs != kWaitForever) {
      const uint32_t elapsed = on.tickCount() - start;
      left = elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
    }
    int i = 0;
    for (Event* e : events) p[i++] = pollfd{e->fd_, POLLIN, 0};
    const int n = on.poll(p, count, left);
    if (n <= 0) return -1;
    i = 0;
    for (Event* e : events) {
      if ((p[i].revents & POLLIN) != 0 && e->tryConsume()) return i;
      ++i;
    }
    // Another waiter took the signal: wait on for the time left.
  }
}

}  // namespace tavolen::platform
