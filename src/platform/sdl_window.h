#pragma once
// The desktop backend: an SDL window showing a CanvasWindow's pixels.
//
// SDL is called only on the host's thread (the one that created the window):
// creation, pumpSdlWindow, the host operations and close. Players draw from
// their own threads into the canvas, which marks the window dirty and wakes a
// pump waiting in SDL's event queue; the pump then copies the canvas to the
// screen. No SDL call is ever made on a drawing thread.

#include <string>

#include "platform/video_window.h"

namespace tavolen::platform {

// Null when SDL's video cannot start or the size is outside 1..kMaxWindowSide.
std::shared_ptr<VideoWindow> createSdlWindow(const std::string& title, int32_t width, int32_t height);

// Handles pending events for the window and shows its picture when it
// changed, first waiting up to timeoutMs for an event. Returns 1 while open, 0
// once the user closed it or when `window` is not an SDL window.
int32_t pumpSdlWindow(VideoWindow& window, int32_t timeoutMs);

// The code of F1; F2 to F12 follow it.
inline constexpr int32_t kKeyF1 = 0x10001;

// The oldest key typed into the window that the host has not taken yet (codes
// of tavolen_window_next_key), or 0 when none waits or `window` is not an SDL
// window. Host thread, like the pump that queues them.
int32_t nextSdlKey(VideoWindow& window);

}  // namespace tavolen::platform
