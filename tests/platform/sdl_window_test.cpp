// The SDL window runs on SDL's dummy video driver here: there is no display on
// the test machine. Drawing happens on another thread; the pump shows it.
#include "platform/sdl_window.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "tavolen/window.h"

namespace tavolen::platform {
namespace {

TEST(SdlWindow, FramesDrawnOnAnotherThreadAreShownByThePump) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  TavolenWindow* handle = tavolen_window_create_sdl("test", 8, 4);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(tavolen_window_pump(handle, 0), 1);
  std::thread drawer([handle] {
    auto w = windowHandles().share(handle);
    ASSERT_TRUE(w);
    auto s = w->createSurface(8, 4);
    for (int32_t y = 0; y < 4; ++y)
      for (int32_t x = 0; x < 8; ++x) reinterpret_cast<uint32_t*>(s->row(y))[x] = 0x00102030u + x;
    WindowRect rc;
    ASSERT_TRUE(w->screenRect(rc));
    EXPECT_TRUE(w->stretchCopy(*s, {0, 0, 8, 4}, rc));
  });
  drawer.join();
  EXPECT_EQ(tavolen_window_pump(handle, 10), 1);
  std::vector<uint32_t> px(32);
  ASSERT_EQ(tavolen_window_read_pixels(handle, reinterpret_cast<uint8_t*>(px.data()), 128), 128);
  EXPECT_EQ(px[3], 0x00102033u);
  // The host's own changes go through SDL and the canvas alike.
  EXPECT_EQ(tavolen_window_set_size(handle, 16, 8), 1);
  EXPECT_EQ(tavolen_window_pump(handle, 0), 1);
  EXPECT_EQ(windowHandles().share(handle)->clientSize(), (WindowSize{16, 8}));
  EXPECT_EQ(tavolen_window_set_visible(handle, 0), 1);
  EXPECT_FALSE(windowHandles().share(handle)->visible());
  EXPECT_EQ(tavolen_window_destroy(handle), 1);
  EXPECT_EQ(tavolen_window_pump(handle, 0), 0);
}

TEST(SdlWindow, PumpOfAnOffscreenWindowReportsNotAnSdlWindow) {
  TavolenWindow* handle = tavolen_window_create_offscreen(4, 4);
  EXPECT_EQ(tavolen_window_pump(handle, 0), 0);
  tavolen_window_destroy(handle);
}

}  // namespace
}  // namespace tavolen::platform
