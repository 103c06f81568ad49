// A real H.264 player drawing into the video window's surface: its pictures
// land exactly inside the focus frame, follow the surface through resizes and
// full screen, and never touch the frame.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "control/video_view_dlg.h"
#include "control/video_view_fixture.h"
#include "player/frames.h"
#include "player/h264_fixture.h"
#include "player/pacing_timer.h"
#include "player/player_test_util.h"
#include "tavolen/player.h"
#include "tavolen/window.h"

namespace tavolen::control {
namespace {

using test::counters;
using test::len;

constexpr int kW = 320;
constexpr int kH = 240;
constexpr uint32_t kGrey = platform::windowPixel(172, 172, 172);
constexpr uint32_t kRed = platform::windowPixel(255, 0, 0);

// The first picture of a real stream, as the player's conversion shows it:
// rows top to bottom, one pixel value each.
struct Reference {
  test::H264Stream stream;
  std::vector<uint32_t> picture;
  static const Reference& get() {
    static Reference r = [] {
      Reference x;
      x.stream = test::encodeTestStream(kW, kH, 1, 1);
      const auto yuv = test::referenceDecode(x.stream.units, kW, kH);
      const auto bmp = test::expectedBmp(yuv.at(0), kW, kH);
      x.picture.resize(kW * kH);
      for (int y = 0; y < kH; ++y)  // the BMP is bottom up
        std::memcpy(&x.picture[static_cast<size_t>(y) * kW], &bmp[54 + static_cast<size_t>(kH - 1 - y) * kW * 4],
                    kW * 4);
      return x;
    }();
    return r;
  }
  uint32_t at(int x, int y) const { return picture[static_cast<size_t>(y) * kW + x]; }
};

class SurfacePlayer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Reference::get().picture.empty());
    holdPacingTimers(true);
    // The host window is one pixel wider than the picture on each side, so the
    // surface is exactly the picture's size.
    host = tavolen_window_create_offscreen(kW + 2, kH + 2);
    platform::windowHandles().share(host)->setObserver(std::make_shared<test::Forwarder>(dlg));
    owner.dlg = &dlg;
    ASSERT_TRUE(dlg.create(&owner, host));
    owner.player = x_player_createPlayInstance(0);
    ASSERT_EQ(x_player_setPlayWnd(owner.player, dlg.surfaceWindow()), 1);
    ASSERT_EQ(x_player_startPlay(owner.player), 1);
    const auto& unit = Reference::get().stream.units.at(0);
    const auto f = test::makeFrame(FRAME_H264_KEY, unit);
    ASSERT_EQ(x_player_inputNetFrame(owner.player, f.data(), len(f)), 1);
    firePacingTimersNow();
    ASSERT_TRUE(test::waitUntil([&] { return counters(owner.player).picturesPresented >= 1; }));
  }
  void TearDown() override {
    x_player_destroyPlayInstance(owner.player);
    dlg.destroy();
    tavolen_window_destroy(host);
    holdPacingTimers(false);
  }

  struct Shown {
    int32_t width, height;
    std::vector<uint32_t> px;
    uint32_t at(int32_t x, int32_t y) const { return px[static_cast<size_t>(y) * width + x]; }
  };
  Shown shown() const {
    TavolenWindowState s{};
    tavolen_window_get_state(host, &s);
    Shown out{s.width, s.height, std::vector<uint32_t>(static_cast<size_t>(s.width) * s.height)};
    tavolen_window_read_pixels(host, reinterpret_cast<uint8_t*>(out.px.data()),
                               static_cast<int32_t>(out.px.size() * 4));
    return out;
  }
  static bool frameIs(const Shown& s, uint32_t colour) {
    for (int32_t x = 0; x < s.width; ++x)
      if (s.at(x, 0) != colour || s.at(x, s.height - 1) != colour) return false;
    for (int32_t y = 0; y < s.height; ++y)
      if (s.at(0, y) != colour || s.at(s.width - 1, y) != colour) return false;
    return true;
  }
  // The picture stretched over the whole surface (nearest pixel, sampled at
  // pixel centres): the surface's corners show the picture's corners.
  static void expectCornersInside(const Shown& s, const char* name) {
    const Reference& r = Reference::get();
    const int64_t dw = s.width - 2, dh = s.height - 2;
    auto sx = [&](int64_t dx) { return static_cast<int>((2 * dx + 1) * kW / (2 * dw)); };
    auto sy = [&](int64_t dy) { return static_cast<int>((2 * dy + 1) * kH / (2 * dh)); };
    EXPECT_EQ(s.at(1, 1), r.at(sx(0), sy(0))) << name;
    EXPECT_EQ(s.at(s.width - 2, 1), r.at(sx(dw - 1), sy(0))) << name;
    EXPECT_EQ(s.at(1, s.height - 2), r.at(sx(0), sy(dh - 1))) << name;
    EXPECT_EQ(s.at(s.width - 2, s.height - 2), r.at(sx(dw - 1), sy(dh - 1))) << name;
  }

  TavolenWindow* host = nullptr;
  test::RecordingOwner owner;
  CVideoViewDlg dlg;
};

TEST_F(SurfacePlayer, PictureFillsTheSurfaceExactlyInsideTheFrame) {
  const Shown s = shown();
  EXPECT_TRUE(frameIs(s, kGrey));
  const Reference& r = Reference::get();
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) ASSERT_EQ(s.at(x + 1, y + 1), r.at(x, y)) << x << "," << y;
  // A click paints the frame red around the picture, not over it.
  ASSERT_EQ(tavolen_window_send_mouse(host, 1, 100, 100), 1);
  const Shown clicked = shown();
  EXPECT_TRUE(frameIs(clicked, kRed));
  EXPECT_EQ(clicked.at(1, 1), r.at(0, 0));
}

TEST_F(SurfacePlayer, PictureFollowsTheSurfaceThroughResizeAndFullScreen) {
  ASSERT_EQ(tavolen_window_set_screen_size(host, 700, 500), 1);
  struct Step {
    const char* name;
    std::function<void()> act;
    int32_t width, height;
  } steps[] = {
      {"host resize", [&] { tavolen_window_set_size(host, 402, 302); }, 402, 302},
      {"ShowMax", [&] { dlg.ShowMax(); }, 699, 499},
      {"ShowNormal", [&] { dlg.ShowNormal(); }, 402, 302},
      {"smaller than the picture", [&] { tavolen_window_set_size(host, 100, 60); }, 100, 60},
  };
  for (const Step& step : steps) {
    step.act();
    // The change returned with the window painted: the frame, then the player's
    // last picture redrawn into the refitted surface.
    const Shown s = shown();
    ASSERT_EQ(s.width, step.width) << step.name;
    ASSERT_EQ(s.height, step.height) << step.name;
    EXPECT_TRUE(frameIs(s, kGrey)) << step.name;
    expectCornersInside(s, step.name);
  }
}

}  // namespace
}  // namespace tavolen::control
