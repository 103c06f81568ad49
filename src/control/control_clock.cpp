#include "control/control_clock.h"

namespace tavolen {

ControlClock& systemControlClock() {
  static ControlClock clock;
  return clock;
}

}  // namespace tavolen
