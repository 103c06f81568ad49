#pragma once
// A waitable event with Win32-style auto or manual reset, usable from any thread.
// Backed by an eventfd so that a thread can wait on it together with a socket
// (see socket.h: waitSocketOrEvent).

#include <cstdint>
#include <initializer_list>

#include "platform/clock.h"

namespace tavolen::platform {

class Event {
 public:
  enum class Reset { Auto, Manual };

  explicit Event(Reset reset = Reset::Auto, bool initiallySignalled = false);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void signal();
  void reset();
  // True when signalled within timeoutMs of the clock (kWaitForever: no
  // limit). An auto-reset event is consumed by the waiter that sees it.
  bool wait(uint32_t timeoutMs, Clock& on = currentClock());
  // Waits for the first of several events within timeoutMs of the clock:
  // the index of the one seen (consumed if auto-reset), or -1 on time-out.
  static int waitAny(std::initializer_list<Event*> events, uint32_t timeoutMs,
                     Clock& on = currentClock());
  // Consumes the signal of an auto-reset event after a poll reported fd() readable;
  // false when another waiter took it first. Manual-reset events stay signalled.
  bool tryConsume();

  int fd() const { return fd_; }
  bool isManualReset() const { return reset_ == Reset::Manual; }

 private:
  int fd_;
  Reset reset_;
};

}  // namespace tavolen::platform
