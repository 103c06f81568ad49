#include "platform/video_window.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tavolen/window.h"

namespace tavolen::platform {
namespace {

TEST(WindowExports, CreateRefusesBadSizes) {
  for (auto [w, h] : {std::pair{0, 10}, {10, 0}, {-1, 5}, {kMaxWindowSide + 1, 1}, {1, kMaxWindowSide + 1}})
    EXPECT_EQ(tavolen_window_create_offscreen(w, h), nullptr) << w << "x" << h;
  TavolenWindow* w = tavolen_window_create_offscreen(kMaxWindowSide, 1);
  EXPECT_NE(w, nullptr);
  EXPECT_EQ(tavolen_window_destroy(w), 1);
}

TEST(WindowExports, ReadPixelsNeedsRoomForTheWholeClientArea) {
  TavolenWindow* w = tavolen_window_create_offscreen(3, 2);
  std::vector<uint8_t> buf(24, 0xAA);
  EXPECT_EQ(tavolen_window_read_pixels(w, buf.data(), 23), 0);
  EXPECT_EQ(buf[0], 0xAA);
  EXPECT_EQ(tavolen_window_read_pixels(w, buf.data(), 24), 24);
  EXPECT_EQ(buf, std::vector<uint8_t>(24, 0));  // a new window is black
  EXPECT_EQ(tavolen_window_read_pixels(w, nullptr, 24), 0);
  EXPECT_EQ(tavolen_window_read_pixels(w, buf.data(), -1), 0);
  ASSERT_EQ(tavolen_window_set_size(w, 1, 1), 1);
  EXPECT_EQ(tavolen_window_read_pixels(w, buf.data(), 24), 4);
  EXPECT_EQ(tavolen_window_destroy(w), 1);
}

TEST(WindowExports, UnknownOrDestroyedHandlesFailCleanly) {
  TavolenWindow* w = tavolen_window_create_offscreen(4, 4);
  ASSERT_EQ(tavolen_window_destroy(w), 1);
  uint8_t buf[64];
  int32_t results[] = {tavolen_window_destroy(w), tavolen_window_set_size(w, 2, 2),
                       tavolen_window_set_position(w, 1, 1), tavolen_window_set_visible(w, 1),
                       tavolen_window_read_pixels(w, buf, sizeof buf), tavolen_window_pump(w, 0),
                       tavolen_window_destroy(nullptr), tavolen_window_set_size(nullptr, 2, 2)};
  for (int32_t r : results) EXPECT_EQ(r, 0);
}

TEST(WindowExports, HostChangesShowInTheWindowRectangleAndVisibility) {
  TavolenWindow* handle = tavolen_window_create_offscreen(40, 30);
  auto w = windowHandles().share(handle);
  ASSERT_TRUE(w);
  WindowRect rc;
  ASSERT_TRUE(w->screenRect(rc));
  EXPECT_EQ(rc, (WindowRect{0, 0, 40, 30}));
  EXPECT_TRUE(w->visible());
  EXPECT_EQ(tavolen_window_set_position(handle, -5, 7), 1);
  EXPECT_EQ(tavolen_window_set_size(handle, 10, 20), 1);
  EXPECT_EQ(tavolen_window_set_size(handle, 0, 20), 0);
  EXPECT_EQ(tavolen_window_set_visible(handle, 0), 1);
  ASSERT_TRUE(w->screenRect(rc));
  EXPECT_EQ(rc, (WindowRect{-5, 7, 5, 27}));
  EXPECT_EQ(w->clientSize(), (WindowSize{10, 20}));
  EXPECT_FALSE(w->visible());
  ASSERT_EQ(tavolen_window_destroy(handle), 1);
  // The object a drawer still holds now acts as a window that is gone.
  EXPECT_FALSE(w->visible());
  EXPECT_FALSE(w->screenRect(rc));
  EXPECT_EQ(w->createSurface(4, 4), nullptr);
  EXPECT_EQ(windowHandles().share(handle), nullptr);
}

// A surface whose pixel (x, y) holds x + 16 y.
std::unique_ptr<PictureSurface> numbered(VideoWindow& w, int32_t width, int32_t height) {
  auto s = w.createSurface(width, height);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) reinterpret_cast<uint32_t*>(s->row(y))[x] = x + 16 * y;
  return s;
}

std::vector<uint32_t> client(const VideoWindow& w) {
  const WindowSize size = w.clientSize();
  std::vector<uint32_t> px(static_cast<size_t>(size.width) * size.height);
  w.readPixels(reinterpret_cast<uint8_t*>(px.data()), px.size() * 4);
  return px;
}

TEST(StretchCopy, ScalesAndClips) {
  struct Case {
    const char* name;
    WindowRect src, dst;
    std::vector<uint32_t> expected;  // a 4 × 2 window at screen (0, 0), black = 0
  } cases[] = {
      {"1:1", {0, 0, 4, 2}, {0, 0, 4, 2}, {0, 1, 2, 3, 16, 17, 18, 19}},
      {"doubled", {1, 0, 3, 1}, {0, 0, 4, 2}, {1, 1, 2, 2, 1, 1, 2, 2}},
      {"halved", {0, 0, 4, 2}, {0, 0, 2, 1}, {17, 19, 0, 0, 0, 0, 0, 0}},
      {"clipped at the right and bottom", {0, 0, 4, 2}, {2, 1, 6, 3}, {0, 0, 0, 0, 0, 0, 0, 1}},
      {"clipped at the left and top", {0, 0, 4, 2}, {-2, -1, 2, 1}, {18, 19, 0, 0, 0, 0, 0, 0}},
      {"empty destination", {0, 0, 4, 2}, {3, 0, 3, 2}, std::vector<uint32_t>(8, 0)},
  };
  for (const Case& c : cases) {
    auto w = createOffscreenWindow(4, 2);
    auto s = numbered(*w, 4, 2);
    EXPECT_TRUE(w->stretchCopy(*s, c.src, c.dst)) << c.name;
    EXPECT_EQ(client(*w), c.expected) << c.name;
  }
}

// Mirroring in place touches the picture's pixels only, never the padding at
// the end of its rows; odd sizes keep their middle row and column.
TEST(MirrorPicture, EveryEffectOnAPaddedOddPicture) {
  constexpr uint32_t kPad = 0xEEEEEEEEu;
  struct Case {
    int32_t effect;
    std::vector<uint32_t> expected;  // 3 × 3 picture, pixel (x, y) = x + 16 y, one pad pixel a row
  } cases[] = {
      {0, {0, 1, 2, kPad, 16, 17, 18, kPad, 32, 33, 34, kPad}},
      {1, {2, 1, 0, kPad, 18, 17, 16, kPad, 34, 33, 32, kPad}},
      {2, {32, 33, 34, kPad, 16, 17, 18, kPad, 0, 1, 2, kPad}},
      {3, {34, 33, 32, kPad, 18, 17, 16, kPad, 2, 1, 0, kPad}},
      {7, {0, 1, 2, kPad, 16, 17, 18, kPad, 32, 33, 34, kPad}},
      {-1, {0, 1, 2, kPad, 16, 17, 18, kPad, 32, 33, 34, kPad}},
  };
  for (const Case& c : cases) {
    std::vector<uint32_t> px(12, kPad);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 3; ++x) px[static_cast<size_t>(y * 4 + x)] = static_cast<uint32_t>(x + 16 * y);
    mirrorPicture(reinterpret_cast<uint8_t*>(px.data()), 16, 3, 3, mirrorForEffect(c.effect));
    EXPECT_EQ(px, c.expected) << c.effect;
  }
}

TEST(StretchCopy, DestinationIsInScreenCoordinates) {
  auto w = createOffscreenWindow(2, 1);
  w->setPosition(100, 50);
  auto s = numbered(*w, 2, 1);
  EXPECT_TRUE(w->stretchCopy(*s, {0, 0, 2, 1}, {101, 50, 103, 51}));
  EXPECT_EQ(client(*w), (std::vector<uint32_t>{0, 0}));  // pixel 0 landed on client x = 1
  // 0 is also black: use a second copy to tell them apart.
  EXPECT_TRUE(w->stretchCopy(*s, {1, 0, 2, 1}, {100, 50, 101, 51}));
  EXPECT_EQ(client(*w), (std::vector<uint32_t>{1, 0}));
}

TEST(StretchCopy, SourceOutsideTheSurfaceFails) {
  auto w = createOffscreenWindow(4, 4);
  auto s = numbered(*w, 4, 4);
  for (WindowRect bad : {WindowRect{0, 0, 5, 4}, WindowRect{-1, 0, 4, 4}, WindowRect{0, 0, 0, 4},
                         WindowRect{2, 2, 1, 3}})
    EXPECT_FALSE(w->stretchCopy(*s, bad, {0, 0, 4, 4}));
  EXPECT_EQ(client(*w), std::vector<uint32_t>(16, 0));
}

TEST(CopyBitmap, TakesOnlyAClientSizedBitmap) {
  auto w = createOffscreenWindow(2, 2);
  const uint32_t rows[2][3] = {{1, 2, 99}, {3, 4, 99}};  // pitch of three pixels
  const auto* bytes = reinterpret_cast<const uint8_t*>(rows);
  EXPECT_FALSE(w->copyBitmap(bytes, 12, 3, 2));
  EXPECT_FALSE(w->copyBitmap(bytes, 4, 2, 2));  // pitch shorter than a row
  EXPECT_FALSE(w->copyBitmap(nullptr, 12, 2, 2));
  EXPECT_TRUE(w->copyBitmap(bytes, 12, 2, 2));
  EXPECT_EQ(client(*w), (std::vector<uint32_t>{1, 2, 3, 4}));
  w->invalidate();
  EXPECT_EQ(client(*w), (std::vector<uint32_t>(4, 0)));
}

TEST(PictureSurface, SizeBoundsAndPitch) {
  EXPECT_EQ(PictureSurface::create(0, 1), nullptr);
  EXPECT_EQ(PictureSurface::create(1, kMaxSurfaceSide + 1), nullptr);
  auto s = PictureSurface::create(17, 3);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->pitch() % 64, 0);
  EXPECT_GE(s->pitch(), 17 * 4);
}

}  // namespace
}  // namespace tavolen::platform
