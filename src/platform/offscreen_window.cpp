// The off-screen backend: a window that exists only in memory. Tests and
// headless hosts read its pixels back; the host sets its size, position and
// visibility.
#include "platform/canvas_window.h"

namespace tavolen::platform {

std::shared_ptr<VideoWindow> createOffscreenWindow(int32_t width, int32_t height) {
  if (width < 1 || height < 1 || width > kMaxWindowSide || height > kMaxWindowSide) return nullptr;
  return std::make_shared<CanvasWindow>(width, height);
}

}  // namespace tavolen::platform
