#pragma once
// The video window: everything the control shows. It lives in the window the
// host hands to the control (the host window), covers its client area, and
// holds the video surface, a child window inset by one pixel on every side
// whose handle is the one given to the player. The one-pixel margin carries
// the focus frame, grey or red. The surface also shows a status text, centred
// in yellow over black. Clicks become MessageNotify events, and the window can
// cover the whole screen and come back.
//
// The host window is both the control's window and the video window's home,
// so full screen applies to it: ShowMax puts it at (0, 0), one pixel short of
// the screen in each direction, above other windows; ShowNormal gives it back
// the place and size it had when it left the embedded state.
//
// Threads: every call, and every call into the owner, is made on the control's
// UI thread. The player draws into the surface from its own threads at any
// time; what is drawn here (status text, black fill) and the player's pictures
// overdraw each other, as the next picture or the next paint comes.
//
// Host-side events of the host window (size, mouse, visibility, expose) reach
// onWindowEvent through the control's window observer (platform/
// window_observer.h), which carries them to the UI thread.
//
// Ownership: the owner outlives the video window. The video window keeps the
// host window object alive while created but never destroys it (the host
// does); it owns the surface and its handle, which destroy() withdraws.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/text_drawer.h"
#include "platform/video_window.h"
#include "platform/window_observer.h"

namespace tavolen::control {

// What the video window calls back: the control that created it.
class VideoViewOwner {
 public:
  virtual ~VideoViewOwner() = default;
  // Shows the surface's content again: the player's last picture, or the
  // status (clearAndShowStatus). Called by paint, after the focus frame.
  virtual void repaint() = 0;
  // Fires the control's MessageNotify(type, param) event.
  virtual void MessageNotify(int32_t type, int32_t param) = 0;
};

class CVideoViewDlg {
 public:
  static constexpr size_t kStatusTextBytes = 256;
  // The surface's place inside the video window's client area.
  static constexpr int32_t kSurfaceInset = 1;
  static constexpr uint32_t kFocusedFrame = platform::windowPixel(255, 0, 0);
  static constexpr uint32_t kUnfocusedFrame = platform::windowPixel(172, 172, 172);
  static constexpr uint32_t kClearedSurface = platform::windowPixel(0, 0, 0);
  static constexpr platform::TextColour kStatusColour{255, 255, 0};

  CVideoViewDlg() = default;
  ~CVideoViewDlg();
  CVideoViewDlg(const CVideoViewDlg&) = delete;
  CVideoViewDlg& operator=(const CVideoViewDlg&) = delete;

  // Creates the video window in hostWindow (a window handle, off-screen or
  // SDL): the surface at (1, 1), two pixels smaller than the client area in
  // each direction, registered as a window handle; stores owner; focused 0,
  // status text empty, ready = 1; then paints (frame, owner's repaint: the
  // owner must be able to repaint before create returns). False, with nothing changed, for an
  // unknown handle, a null owner, or when already created.
  bool create(VideoViewOwner* owner, void* hostWindow);
  // Withdraws the surface handle (a player still holding it draws nothing from
  // then on) and gives the host window back its embedded place if it was full
  // screen. Nothing when not created.
  void destroy();
  bool exists() const { return window_ != nullptr; }

  // Last focus value drawn: 0 grey frame, non-zero red.
  int32_t focused() const { return focused_; }
  // 1 from creation on; until then size changes do not reach the surface.
  int32_t ready() const { return ready_; }
  // The status text, UTF-8, zero-terminated, empty at creation.
  const char* statusText() const { return statusText_; }
  // The surface's window handle, for the player's setPlayWnd; null when not
  // created.
  void* surfaceWindow() const { return surfaceHandle_; }

  // Stores the text (zero-filled field, cut at a character boundary so that it
  // fits with its terminating zero) and draws it over what the surface shows.
  void setStatusText(std::string_view utf8);
  // Fills the surface black, then draws the status text (if any) centred in
  // yellow.
  void clearAndShowStatus();
  // Stores focused = value and draws the one-pixel frame around the client
  // area in its colour; nothing when not created.
  void drawFocusFrame(int32_t value);

  // Automation methods served here (each does nothing when not created).
  void ShowMax();
  void ShowNormal();
  // Fits the surface to the host window again and paints.
  void UpdataSize();

  // A host-side event of the host window: a new size re-fits the surface and
  // paints; left or right button down draws the red frame and fires
  // MessageNotify(0, 0); the second press of a left double click draws the red
  // frame and fires MessageNotify(1, 0); shown and exposed paint; button up,
  // move and hidden do nothing.
  void onWindowEvent(const platform::WindowEvent& event);
  // The focus frame in its current colour, then the owner's repaint.
  void paint();

 private:
  // The size handler: the surface to (1, 1, w - 2, h - 2) of the host
  // window's client area, then paint.
  void fitSurfaceAndPaint();
  // Draws the status text centred over the surface's current pixels (when
  // `overBlack`, over a black fill instead).
  void drawStatus(bool overBlack);

  int32_t focused_ = 0;
  int32_t ready_ = 0;
  VideoViewOwner* owner_ = nullptr;
  char statusText_[kStatusTextBytes] = {};
  std::shared_ptr<platform::VideoWindow> window_;   // the host window
  std::shared_ptr<platform::VideoWindow> surface_;  // its child
  void* surfaceHandle_ = nullptr;
  std::unique_ptr<platform::TextDrawer> drawer_;    // made at the first text
};

}  // namespace tavolen::control
