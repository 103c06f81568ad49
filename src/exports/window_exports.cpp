// The video window C functions: thin calls over the window handle table, each
// in the C boundary's guard.
#include "tavolen/window.h"

#include <type_traits>

#include "platform/c_boundary.h"
#include "platform/sdl_window.h"
#include "platform/video_window.h"

using tavolen::platform::guardedCall;
using tavolen::platform::VideoWindow;
using tavolen::platform::windowHandles;

static_assert(TAVOLEN_WINDOW_MAX_SIDE == tavolen::platform::kMaxWindowSide);
static_assert(std::is_same_v<TavolenWindowListener, tavolen::platform::WindowListener>);

namespace {

template <typename Fn>
int32_t withWindow(TavolenWindow* window, Fn&& fn) {
  return tavolen::platform::pinnedCall(windowHandles(), window, int32_t{0}, fn);
}

TavolenWindow* listed(std::shared_ptr<VideoWindow> window) {
  return static_cast<TavolenWindow*>(windowHandles().add(std::move(window)));
}

}  // namespace

extern "C" {

TAVOLEN_API TavolenWindow* tavolen_window_create_offscreen(int32_t width, int32_t height) {
  return guardedCall<TavolenWindow*>(nullptr, [&] {
    return listed(tavolen::platform::createOffscreenWindow(width, height));
  });
}

TAVOLEN_API TavolenWindow* tavolen_window_create_sdl(const char* title, int32_t width,
                                                     int32_t height) {
  return guardedCall<TavolenWindow*>(nullptr, [&] {
    return listed(tavolen::platform::createSdlWindow(title ? title : "", width, height));
  });
}

TAVOLEN_API int32_t tavolen_window_pump(TavolenWindow* window, int32_t timeoutMs) {
  return withWindow(window, [&](VideoWindow& w) {
    return tavolen::platform::pumpSdlWindow(w, timeoutMs < 0 ? 0 : timeoutMs);
  });
}

TAVOLEN_API int32_t tavolen_window_set_size(TavolenWindow* window, int32_t width, int32_t height) {
  return withWindow(window, [&](VideoWindow& w) { return w.setSize(width, height) ? 1 : 0; });
}

TAVOLEN_API int32_t tavolen_window_set_position(TavolenWindow* window, int32_t x, int32_t y) {
  return withWindow(window, [&](VideoWindow& w) { return w.setPosition(x, y) ? 1 : 0; });
}

TAVOLEN_API int32_t tavolen_window_set_visible(TavolenWindow* window, int32_t on) {
  return withWindow(window, [&](VideoWindow& w) { return w.setVisible(on != 0) ? 1 : 0; });
}

TAVOLEN_API int32_t tavolen_window_read_pixels(TavolenWindow* window, uint8_t* buffer,
                                               int32_t bufferSize) {
  if (bufferSize <= 0) return 0;
  return withWindow(window, [&](VideoWindow& w) {
    return static_cast<int32_t>(w.readPixels(buffer, static_cast<size_t>(bufferSize)));
  });
}

TAVOLEN_API int32_t tavolen_window_send_mouse(TavolenWindow* window, int32_t event, int32_t x,
                                              int32_t y) {
  if (event < 1 || event > 5) return 0;
  return withWindow(window, [&](VideoWindow& w) {
    return w.sendMouse(static_cast<tavolen::platform::MouseEvent>(event), x, y) ? 1 : 0;
  });
}

TAVOLEN_API int32_t tavolen_window_set_screen_size(TavolenWindow* window, int32_t width,
                                                   int32_t height) {
  return withWindow(window, [&](VideoWindow& w) { return w.setScreenSize(width, height) ? 1 : 0; });
}

TAVOLEN_API int32_t tavolen_window_get_state(TavolenWindow* window, TavolenWindowState* out) {
  if (!out) return 0;
  return withWindow(window, [&](VideoWindow& w) {
    const tavolen::platform::WindowState s = w.state();
    *out = {s.rect.left,        s.rect.top,         s.rect.width(),  s.rect.height(),
            s.visible ? 1 : 0, s.fullScreen ? 1 : 0, s.screen.width, s.screen.height};
    return 1;
  });
}

TAVOLEN_API int32_t tavolen_window_set_listener(TavolenWindow* window,
                                                TavolenWindowListener listener, void* user) {
  return withWindow(window, [&](VideoWindow& w) { return w.setListener(listener, user) ? 1 : 0; });
}

// The table's cancel step closes the window (on this, the host's thread).
TAVOLEN_API int32_t tavolen_window_destroy(TavolenWindow* window) {
  return guardedCall(0, [&] { return windowHandles().remove(window) ? 1 : 0; });
}

}  // extern "C"
