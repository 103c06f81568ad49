#pragma once
// What a CameraView needs from the control that holds it: the video window's
// few operations, the UI thread's posting and timers, the clock, the settings
// file's folder, the properties and the event sink. CTavolenCtrl provides it;
// tests may provide their own.
//
// Every operation is called on the control's UI thread, except postToUi and
// clock, which any thread may call.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "control/control_clock.h"
#include "control/control_properties.h"

namespace tavolen {

class CameraViewHost {
 public:
  // --- the video window (nothing happens while there is none) ---
  virtual bool windowExists() = 0;
  // The handle a player draws into (the video surface), or null.
  virtual void* surfaceWindow() = 0;
  virtual void setStatusText(std::string_view utf8) = 0;
  virtual void clearAndShowStatus() = 0;

  // --- the UI thread ---
  // Any thread; never blocks. False when the work was dropped.
  virtual bool postToUi(std::function<void()> work) = 0;
  virtual void setTimer(int32_t id, uint32_t periodMs) = 0;
  virtual void killTimer(int32_t id) = 0;
  // Any thread.
  virtual ControlClock& clock() = 0;

  // --- the rest of the control ---
  // The "SETPATH" folder as the settings file holds it now.
  virtual std::string readRecordFolder() = 0;
  virtual ControlProperties& properties() = 0;
  virtual void fireMessageNotify(int32_t type, int32_t param) = 0;

 protected:
  ~CameraViewHost() = default;
};

}  // namespace tavolen
