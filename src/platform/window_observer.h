#pragma once
// The hook through which the object living in a window (a control) learns what
// the host did to that window: a new client size, a mouse event, a change of
// visibility, an expose.
//
// Who calls it: the window, synchronously, on the thread that caused the
// event:
// - the host's thread inside tavolen_window_set_size, tavolen_window_set_visible
//   and tavolen_window_send_mouse;
// - the pump thread of an SDL window (tavolen_window_pump) for the user's
//   resizes, clicks, hides, shows and exposes.
// The window's own state has already changed when the call is made (so a size
// event sees the new client size), and no window lock is held: the observer
// may call any drawing or control-side operation of any window, including this
// one. It is never called for changes the control makes itself (full screen,
// child regions, drawing), so a control never re-enters itself through it.
//
// "Returns once handled": the window's public call returns only after
// windowEvent has returned. An observer whose object runs on its own thread
// (the control's UI thread) therefore hands the event over and waits for it to
// be handled there, or handles it at once when it is already on that thread.
// It must not wait for anything that waits for the calling thread (the SDL
// pump thread or the host thread), and it must return once its object is gone
// (its thread ended) instead of waiting for ever.
//
// Ownership: the window keeps a strong reference to the observer while it is
// set and for the duration of each call. setObserver(nullptr) returns at once,
// without waiting for a call in progress, so it may be called from the
// observer's own thread while another thread is inside windowEvent waiting for
// it; such a late call must find its object gone and return.

#include <cstdint>

namespace tavolen::platform {

// The mouse events a window reports, with the codes of tavolen_window_send_mouse.
enum class MouseEvent : int32_t {
  LeftDown = 1,
  RightDown = 2,
  LeftDoubleClick = 3,  // the second press of a left double click
  LeftUp = 4,
  Move = 5,
};

struct WindowEvent {
  enum class Kind {
    Resized,  // x, y: the new client width and height
    Mouse,    // mouse; x, y: client-area pixels
    Shown,    // the window became visible
    Hidden,   // the window became invisible
    Exposed,  // part of the window was uncovered and must be painted again
  };
  Kind kind = Kind::Exposed;
  MouseEvent mouse = MouseEvent::Move;
  int32_t x = 0;
  int32_t y = 0;
  friend bool operator==(const WindowEvent&, const WindowEvent&) = default;
};

class WindowObserver {
 public:
  virtual ~WindowObserver() = default;
  virtual void windowEvent(const WindowEvent& event) = 0;
};

}  // namespace tavolen::platform
