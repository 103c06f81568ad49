#pragma once
// One control in an off-screen window, as one page connection drives it.
// A thin layer over the public control and window interfaces that speaks the
// page protocol's values.
//
// Threads: every call comes from the connection's call thread, except
// readPicture and windowView (the picture thread) and the destructor (the
// host's reaper thread, after both threads have ended). Events and window
// changes reach the Listener on the control's UI thread or a player's thread:
// it must only hand them on.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "page_protocol.h"

namespace tavolen::host {

class ControlBridge {
 public:
  class Listener {
   public:
    virtual ~Listener() = default;
    virtual void controlEvent(int32_t dispid, std::vector<WireValue> args) = 0;
    virtual void windowChanged() = 0;
  };

  // A control activated in a window of width x height pixels on a screen of
  // screenWidth x screenHeight. nullptr and a reason when it cannot be made.
  static std::unique_ptr<ControlBridge> open(int32_t width, int32_t height, int32_t screenWidth,
                                             int32_t screenHeight, Listener& listener,
                                             std::string& error);
  // The table every page builds its object from; the same for every control.
  static std::vector<MemberRow> members();
  static LibraryRow library();

  virtual ~ControlBridge() = default;

  // The automation result code; result is the value (Empty for VOID and puts).
  virtual int32_t invoke(int32_t dispid, int32_t flags, const std::vector<WireValue>& args,
                         WireValue& result) = 0;
  // The nine properties in table order.
  virtual std::vector<std::pair<int32_t, WireValue>> readProperties() = 0;
  virtual void sendMouse(int32_t event, int32_t x, int32_t y) = 0;
  virtual void resize(int32_t width, int32_t height) = 0;
  virtual void setScreen(int32_t width, int32_t height) = 0;
  virtual WindowView windowView() = 0;
  // The client area's pixels (4 bytes each: blue, green, red, unused); false
  // when the window cannot be read.
  virtual bool readPicture(std::vector<uint8_t>& pixels, int32_t& width, int32_t& height) = 0;
};

}  // namespace tavolen::host
