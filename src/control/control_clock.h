#pragma once
// The clocks a control reads and the waits it makes, gathered in one seam so
// that tests can drive them: the UI thread's window timers (30 s alarm
// captions) and the SD playback's pacing waits. The real clock is the
// system's; a test clock moves only when told and records the waits.

#include <cstdint>

#include "platform/event.h"
#include "platform/time_source.h"

namespace tavolen {

class ControlClock : public platform::TimeSource {
 public:
  // Told when a clock that does not run on its own has been moved.
  class Listener {
   public:
    virtual void clockMoved() = 0;

   protected:
    ~Listener() = default;
  };

  // False for a clock that moves only when told: timer waits then last until
  // a listener hears of a move.
  virtual bool runsOnItsOwn() const { return true; }
  // Listeners are added and removed by their owner's thread; a listener is
  // not called once removeListener has returned.
  virtual void addListener(Listener*) {}
  virtual void removeListener(Listener*) {}

  // A pacing wait: returns when the event is signalled (true) or after ms
  // milliseconds (false). Any thread.
  virtual bool waitEvent(platform::Event& event, uint32_t ms) { return event.wait(ms); }
};

// The system's clock; one for the process.
ControlClock& systemControlClock();

}  // namespace tavolen
