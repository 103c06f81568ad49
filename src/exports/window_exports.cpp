// The video window C functions: thin calls over the window handle registry.
#include "tavolen/window.h"

#include <type_traits>

#include "platform/sdl_window.h"
#include "platform/video_window.h"

using tavolen::platform::lookupWindow;

static_assert(TAVOLEN_WINDOW_MAX_SIDE == tavolen::platform::kMaxWindowSide);
static_assert(std::is_same_v<TavolenWindowListener, tavolen::platform::WindowListener>);

extern "C" {

TAVOLEN_API TavolenWindow* tavolen_window_create_offscreen(int32_t width, int32_t height) {
  return static_cast<TavolenWindow*>(
      tavolen::platform::registerWindow(tavolen::platform::createOffscreenWindow(width, height)));
}

TAVOLEN_API TavolenWindow* tavolen_window_create_sdl(const char* title, int32_t width,
                                                     int32_t height) {
  return static_cast<TavolenWindow*>(tavolen::platform::registerWindow(
      tavolen::platform::createSdlWindow(title ? title : "", width, height)));
}

TAVOLEN_API int32_t tavolen_window_pump(TavolenWindow* window, int32_t timeoutMs) {
  auto w = lookupWindow(window);
  return w ? tavolen::platform::pumpSdlWindow(*w, timeoutMs < 0 ? 0 : timeoutMs) : 0;
}

TAVOLEN_API int32_t tavolen_window_set_size(TavolenWindow* window, int32_t width, int32_t height) {
  auto w = lookupWindow(window);
  return w && w->setSize(width, height) ? 1 : 0;
}

TAVOLEN_API int32_t tavolen_window_set_position(TavolenWindow* window, int32_t x, int32_t y) {
  auto w = lookupWindow(window);
  return w && w->setPosition(x, y) ? 1 : 0;
}

TAVOLEN_API int32_t tavolen_window_set_visible(TavolenWindow* window, int32_t on) {
  auto w = lookupWindow(window);
  return w && w->setVisible(on != 0) ? 1 : 0;
}

TAVOLEN_API int32_t tavolen_window_read_pixels(TavolenWindow* window, uint8_t* buffer,
                                               int32_t bufferSize) {
  auto w = lookupWindow(window);
  if (!w || bufferSize <= 0) return 0;
  return static_cast<int32_t>(w->readPixels(buffer, static_cast<size_t>(bufferSize)));
}

TAVOLEN_API int32_t tavolen_window_send_mouse(TavolenWindow* window, int32_t event, int32_t x,
                                              int32_t y) {
  if (event < 1 || event > 5) return 0;
  auto w = lookupWindow(window);
  return w && w->sendMouse(static_cast<tavolen::platform::MouseEvent>(event), x, y) ? 1 : 0;
}

TAVOLEN_API int32_t tavolen_window_set_screen_size(TavolenWindow* window, int32_t width,
                                                   int32_t height) {
  auto w = lookupWindow(window);
  return w && w->setScreenSize(width, height) ? 1 : 0;
}

TAVOLEN_API int32_t tavolen_window_get_state(TavolenWindow* window, TavolenWindowState* out) {
  auto w = lookupWindow(window);
  if (!w || !out) return 0;
  const tavolen::platform::WindowState s = w->state();
  *out = {s.rect.left,        s.rect.top,         s.rect.width(),    s.rect.height(),
          s.visible ? 1 : 0, s.fullScreen ? 1 : 0, s.screen.width, s.screen.height};
  return 1;
}

TAVOLEN_API int32_t tavolen_window_set_listener(TavolenWindow* window,
                                                TavolenWindowListener listener, void* user) {
  auto w = lookupWindow(window);
  return w && w->setListener(listener, user) ? 1 : 0;
}

TAVOLEN_API int32_t tavolen_window_destroy(TavolenWindow* window) {
  auto w = lookupWindow(window);
  if (!w || !tavolen::platform::unregisterWindow(window)) return 0;
  w->close();
  return 1;
}

}  // extern "C"
