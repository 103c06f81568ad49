#include "render/ddraw_renderer.h"

#include <gtest/gtest.h>

#include <cstring>

#include "render_fixture.h"

namespace tavolen {
namespace {

using test::flatPicture;
using test::Picture;
using test::randomPicture;
using test::Window;

bool show(CDDrawRenderer& r, const Picture& p, const Window& w) {
  if (!r.renderPicture(p.planes.data(), p.width, p.height, w.handle())) return false;
  r.present();
  return true;
}

// The window's pixels against the picture's pixels, shown as window(x, y) =
// picture(map(x, y)).
template <typename Map>
void expectShown(const Window& w, const Picture& p, Map map) {
  const auto shown = w.pixels();
  const auto pic = p.pixels();
  for (int32_t y = 0; y < w.height(); ++y)
    for (int32_t x = 0; x < w.width(); ++x) {
      auto [px, py] = map(x, y);
      ASSERT_EQ(shown[y * w.width() + x], pic[py * p.width + px]) << "window pixel " << x << "," << y;
    }
}

TEST(RendererPicture, OneToOneCopyIsExact) {
  for (auto [w, h] : {std::pair{64, 48}, {33, 17}, {1, 1}}) {
    Window win(w, h);
    CDDrawRenderer r;
    const Picture p = randomPicture(w, h);
    ASSERT_TRUE(show(r, p, win));
    expectShown(win, p, [](int x, int y) { return std::pair{x, y}; });
    int32_t pw = -1, ph = -1;
    r.getPlayPicSize(&pw, &ph);
    EXPECT_EQ(pw, w);
    EXPECT_EQ(ph, h);
  }
}

TEST(RendererPicture, StretchesToTheWholeWindow) {
  Window win(64, 48);
  CDDrawRenderer r;
  const Picture p = randomPicture(32, 24);
  ASSERT_TRUE(show(r, p, win));
  expectShown(win, p, [](int x, int y) { return std::pair{x / 2, y / 2}; });
}

TEST(RendererPicture, RefusesBadInputWithoutChangingState) {
  Window win(16, 16);
  CDDrawRenderer r;
  const Picture p = randomPicture(16, 16);
  EXPECT_FALSE(r.renderPicture(nullptr, 16, 16, win.handle()));
  EXPECT_FALSE(r.renderPicture(p.planes.data(), 0, 16, win.handle()));
  EXPECT_FALSE(r.renderPicture(p.planes.data(), 16, -1, win.handle()));
  EXPECT_FALSE(r.renderPicture(p.planes.data(), platform::kMaxSurfaceSide + 1, 2, win.handle()));
  // One row past the largest picture buffer.
  EXPECT_FALSE(r.renderPicture(p.planes.data(), 2560, kMaxPictureBytes * 2 / 3 / 2560 + 2, win.handle()));
  EXPECT_FALSE(r.renderPicture(p.planes.data(), 16, 16, nullptr));
  int dummy = 0;
  EXPECT_FALSE(r.renderPicture(p.planes.data(), 16, 16, &dummy));  // not a window handle
  EXPECT_FALSE(r.prepared());
  int32_t pw = -1, ph = -1;
  r.getPlayPicSize(&pw, &ph);
  EXPECT_EQ(pw, 0);
  EXPECT_EQ(ph, 0);
  r.present();  // nothing prepared: nothing happens
  for (uint32_t px : win.pixels()) ASSERT_EQ(px, 0u);
}

struct CropCase {
  const char* name;
  int32_t left, right, top, bottom;
  // The part of a 64 × 48 picture expected on screen.
  int32_t shownLeft, shownTop, shownWidth, shownHeight;
};

TEST(RendererViewArea, MarginsCropTheCopyOnly) {
  const CropCase cases[] = {
      {"all four", 8, 4, 2, 6, 8, 2, 52, 40},
      {"zero margins show everything", 0, 0, 0, 0, 0, 0, 64, 48},
      {"negative margins are ignored", -3, 4, -1, 6, 0, 0, 60, 42},
      {"left takes its share first", 40, 24, 0, 0, 40, 0, 24, 48},  // right 24 is not < 24
      {"right alone", 0, 63, 0, 0, 0, 0, 1, 48},
      {"a margin of the whole extent is ignored", 64, 0, 48, 0, 0, 0, 64, 48},
      {"top then bottom", 0, 0, 30, 17, 0, 30, 64, 1},
  };
  const Picture p = randomPicture(64, 48);
  for (const CropCase& c : cases) {
    SCOPED_TRACE(c.name);
    // A window of the cropped size shows the crop 1:1.
    Window win(c.shownWidth, c.shownHeight);
    CDDrawRenderer r;
    EXPECT_EQ(r.adjustViewArea(c.left, c.right, c.top, c.bottom), 1);
    ASSERT_TRUE(show(r, p, win));
    expectShown(win, p, [&](int x, int y) { return std::pair{x + c.shownLeft, y + c.shownTop}; });
  }
}

struct ProportionCase {
  int32_t picW, picH, winW, winH;
  int32_t barLeft, barTop;  // the picture fills the rest symmetrically
};

TEST(RendererProportion, BarsFollowTheIntegerArithmetic) {
  const ProportionCase cases[] = {
      {640, 480, 1000, 500, 167, 0},  // (1000 - 500 * 640 / 480) / 2
      {640, 360, 640, 480, 0, 60},    // (480 - 640 * 360 / 640) / 2
      {640, 480, 640, 480, 0, 0},
      {100, 100, 50, 51, 0, 0},       // (51 - 50) / 2 = 0
  };
  for (const ProportionCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.picW << "x" << c.picH << " in " << c.winW << "x" << c.winH);
    Window win(c.winW, c.winH);
    CDDrawRenderer r;
    EXPECT_EQ(r.renderActualProportion(1), 1);
    ASSERT_TRUE(show(r, flatPicture(c.picW, c.picH, 200), win));
    const auto px = win.pixels();
    const auto lit = [&](int x, int y) { return px[static_cast<size_t>(y) * c.winW + x] != 0; };
    const int midY = c.winH / 2, midX = c.winW / 2;
    if (c.barLeft) {
      EXPECT_FALSE(lit(c.barLeft - 1, midY));
      EXPECT_TRUE(lit(c.barLeft, midY));
      EXPECT_TRUE(lit(c.winW - c.barLeft - 1, midY));
      EXPECT_FALSE(lit(c.winW - c.barLeft, midY));
    }
    if (c.barTop) {
      EXPECT_FALSE(lit(midX, c.barTop - 1));
      EXPECT_TRUE(lit(midX, c.barTop));
      EXPECT_TRUE(lit(midX, c.winH - c.barTop - 1));
      EXPECT_FALSE(lit(midX, c.winH - c.barTop));
    }
    if (!c.barLeft && !c.barTop) {
      EXPECT_TRUE(lit(0, 0));
      EXPECT_TRUE(lit(c.winW - 1, c.winH - 1));
    }
  }
}

TEST(RendererProportion, NewPictureSizeErasesTheOldPictureFromTheBars) {
  Window win(64, 48);
  CDDrawRenderer r;
  r.renderActualProportion(1);
  ASSERT_TRUE(show(r, flatPicture(64, 48, 200), win));
  EXPECT_NE(win.at(32, 2), 0u);
  ASSERT_TRUE(show(r, flatPicture(64, 24, 200), win));  // bars of 12 at top and bottom
  EXPECT_EQ(win.at(32, 2), 0u);
  EXPECT_EQ(win.at(32, 45), 0u);
  EXPECT_NE(win.at(32, 12), 0u);
}

TEST(RendererEffect, MirrorsThePictureOnScreen) {
  const Picture p = randomPicture(32, 24, 7);
  struct Case {
    int32_t effect;
    bool flipX, flipY;
  } cases[] = {{0, false, false}, {1, true, false}, {2, false, true}, {3, true, true}, {4, false, false},
               {-1, false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.effect);
    Window win(32, 24);
    CDDrawRenderer r;
    EXPECT_EQ(r.setRenderEffect(c.effect), 1);
    // Twice: each picture is converted afresh, so the mirror does not undo itself.
    ASSERT_TRUE(show(r, p, win));
    ASSERT_TRUE(show(r, p, win));
    expectShown(win, p, [&](int x, int y) {
      return std::pair{c.flipX ? 31 - x : x, c.flipY ? 23 - y : y};
    });
  }
}

TEST(RendererWindow, MoveAndResizeRebuildForTheNewRectangle) {
  Window win(32, 24);
  CDDrawRenderer r;
  ASSERT_TRUE(show(r, randomPicture(32, 24, 1), win));
  // Moved by one pixel: the copy follows the window instead of the old place.
  ASSERT_EQ(tavolen_window_set_position(win.handle(), 1, 0), 1);
  const Picture second = randomPicture(32, 24, 2);
  ASSERT_TRUE(show(r, second, win));
  expectShown(win, second, [](int x, int y) { return std::pair{x, y}; });
  // Resized: the picture fills the new client area.
  win.resize(64, 48);
  const Picture third = randomPicture(32, 24, 3);
  ASSERT_TRUE(show(r, third, win));
  expectShown(win, third, [](int x, int y) { return std::pair{x / 2, y / 2}; });
}

TEST(RendererWindow, FollowsANewWindowHandle) {
  Window first(16, 16), second(16, 16);  // same screen rectangle
  CDDrawRenderer r;
  const Picture p = randomPicture(16, 16);
  ASSERT_TRUE(show(r, p, first));
  ASSERT_TRUE(show(r, p, second));
  expectShown(second, p, [](int x, int y) { return std::pair{x, y}; });
}

TEST(RendererWindow, InvisibleWindowDropsPicturesSilently) {
  Window win(16, 16);
  CDDrawRenderer r;
  ASSERT_EQ(tavolen_window_set_visible(win.handle(), 0), 1);
  EXPECT_FALSE(r.renderPicture(randomPicture(16, 16).planes.data(), 16, 16, win.handle()));
  int32_t pw = -1, ph = -1;
  r.getPlayPicSize(&pw, &ph);
  EXPECT_EQ(pw, 0);
  for (uint32_t px : win.pixels()) ASSERT_EQ(px, 0u);
  ASSERT_EQ(tavolen_window_set_visible(win.handle(), 1), 1);
  const Picture p = randomPicture(16, 16, 9);
  ASSERT_TRUE(show(r, p, win));
  expectShown(win, p, [](int x, int y) { return std::pair{x, y}; });
  // Hidden again after being prepared: pictures are dropped, the state stays.
  ASSERT_EQ(tavolen_window_set_visible(win.handle(), 0), 1);
  EXPECT_FALSE(r.renderPicture(randomPicture(16, 16, 10).planes.data(), 16, 16, win.handle()));
  expectShown(win, p, [](int x, int y) { return std::pair{x, y}; });
  r.getPlayPicSize(&pw, &ph);
  EXPECT_EQ(pw, 16);
}

// Shown one to one, so the window's going is noticed by the direct path.
TEST(RendererWindow, DestroyedWindowIsNeverTouched) {
  CDDrawRenderer r;
  const Picture p = randomPicture(16, 16);
  TavolenWindow* w = tavolen_window_create_offscreen(16, 16);
  ASSERT_TRUE(r.renderPicture(p.planes.data(), 16, 16, w));
  ASSERT_EQ(tavolen_window_destroy(w), 1);
  r.present();  // the prepared copy fails and resets
  EXPECT_FALSE(r.prepared());
  EXPECT_FALSE(r.renderPicture(p.planes.data(), 16, 16, w));
}

TEST(RendererReset, ForgetsSizeButKeepsSettings) {
  Window win(32, 24);
  CDDrawRenderer r;
  r.setRenderEffect(1);
  const Picture p = randomPicture(32, 24);
  ASSERT_TRUE(show(r, p, win));
  r.reset();
  int32_t pw = -1, ph = -1;
  r.getPlayPicSize(&pw, &ph);
  EXPECT_EQ(pw, 0);
  EXPECT_EQ(ph, 0);
  EXPECT_FALSE(r.prepared());
  ASSERT_TRUE(show(r, p, win));
  expectShown(win, p, [](int x, int y) { return std::pair{31 - x, y}; });
}

TEST(RendererSlots, IndexOutsideTheSlotsIsRefused) {
  CDDrawRenderer r;
  OsdItem item{};
  for (int32_t bad : {-1, 16, 1000}) {
    EXPECT_EQ(r.setOsdString(bad, &item), 0);
    EXPECT_EQ(r.removeOsdstring(bad), 0);
  }
  EXPECT_EQ(r.setOsdString(0, &item), 1);
  EXPECT_EQ(r.setOsdString(15, &item), 1);
  EXPECT_EQ(r.removeOsdstring(15), 1);
  EXPECT_EQ(r.setOsdString(3, nullptr), 0);
}


// ---- one-to-one pictures go straight into the window ----

// A host window at a screen position, optionally with a child window the
// picture goes into, and the renderer settings of one presentation.
struct PathCase {
  const char* name;
  int32_t picW, picH;
  int32_t hostW, hostH;
  platform::WindowRect child;  // empty: the host itself
  int32_t effect;
  platform::WindowRect crop;  // margins left, top, right, bottom; all 0: no view area
  bool proportion;
  bool text;
  bool direct;  // expected to skip the surface
};

struct Scene {
  std::shared_ptr<platform::VideoWindow> host;
  void* hostHandle = nullptr;
  void* childHandle = nullptr;
  explicit Scene(const PathCase& c) {
    host = platform::createOffscreenWindow(c.hostW, c.hostH);
    host->setPosition(7, 3);
    hostHandle = platform::windowHandles().add(host);
    if (!c.child.empty())
      childHandle = platform::windowHandles().add(platform::createChildWindow(host, c.child));
  }
  ~Scene() {
    if (childHandle) tavolen_window_destroy(static_cast<TavolenWindow*>(childHandle));
    tavolen_window_destroy(static_cast<TavolenWindow*>(hostHandle));
  }
  const void* target() const { return childHandle ? childHandle : hostHandle; }
  std::vector<uint32_t> pixels() const {
    std::vector<uint32_t> px(static_cast<size_t>(host->clientSize().width) * host->clientSize().height);
    host->readPixels(reinterpret_cast<uint8_t*>(px.data()), px.size() * 4);
    return px;
  }
};

OsdItem captionItem() {
  OsdItem item{};
  std::strcpy(item.faceName, "DejaVu Sans");
  item.fontHeight = 12;
  item.red = 255;
  std::strcpy(item.text, "Gate 3");
  return item;
}

void configure(CDDrawRenderer& r, const PathCase& c) {
  r.setRenderEffect(c.effect);
  const platform::WindowRect& m = c.crop;
  if (m.left || m.top || m.right || m.bottom) r.adjustViewArea(m.left, m.right, m.top, m.bottom);
  r.renderActualProportion(c.proportion ? 1 : 0);
  if (c.text) {
    const OsdItem item = captionItem();
    r.setOsdString(0, &item);
  }
}

// Whatever path a presentation takes, the whole host shows the same pixels as
// through the surface; two pictures in a row, so a stale picture would show.
TEST(RendererDirect, EveryPresentationMatchesTheSurfacePath) {
  const PathCase cases[] = {
      {"one to one", 64, 48, 64, 48, {}, 0, {}, false, false, true},
      {"odd sizes and SIMD tails", 129, 17, 129, 17, {}, 0, {}, false, false, true},
      {"child inset by one pixel", 64, 48, 66, 50, {1, 1, 65, 49}, 0, {}, false, false, true},
      {"child partly outside its host", 64, 48, 60, 40, {-2, 3, 62, 51}, 0, {}, false, false, false},
      {"child away from the host's corner", 64, 48, 80, 60, {10, 6, 74, 54}, 0, {}, false, false, true},
      {"scaled up", 32, 24, 64, 48, {}, 0, {}, false, false, false},
      {"scaled down in a child", 64, 48, 40, 30, {2, 2, 34, 26}, 0, {}, false, false, false},
      {"mirrored left to right", 64, 48, 64, 48, {}, 1, {}, false, false, false},
      {"mirrored up and down", 64, 48, 64, 48, {}, 2, {}, false, false, false},
      {"mirrored both ways", 64, 48, 64, 48, {}, 3, {}, false, false, false},
      {"an unknown effect mirrors nothing", 64, 48, 64, 48, {}, 4, {}, false, false, true},
      {"cropped", 64, 48, 64, 48, {}, 0, {2, 0, 3, 4}, false, false, false},
      {"a crop of the whole extent is ignored", 64, 48, 64, 48, {}, 0, {64, 48, 0, 0}, false, false, true},
      {"bars leave the picture one to one", 64, 32, 64, 48, {}, 0, {}, true, false, true},
      {"bars around a scaled picture", 32, 32, 64, 48, {}, 0, {}, true, false, false},
      {"caption", 64, 48, 64, 48, {}, 0, {}, false, true, false},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.name);
    Scene direct(c), surface(c);
    CDDrawRenderer rd, rs;
    configure(rd, c);
    configure(rs, c);
    rs.allowDirect(false);
    for (unsigned seed : {1u, 2u}) {
      const Picture p = randomPicture(c.picW, c.picH, seed);
      ASSERT_TRUE(rd.renderPicture(p.planes.data(), c.picW, c.picH, direct.target()));
      rd.present();
      ASSERT_TRUE(rs.renderPicture(p.planes.data(), c.picW, c.picH, surface.target()));
      rs.present();
      ASSERT_EQ(direct.pixels(), surface.pixels()) << "picture " << seed;
    }
    EXPECT_EQ(rd.directPresents(), c.direct ? 2u : 0u);
    EXPECT_EQ(rs.directPresents(), 0u);
  }
}

// One renderer moving between the paths as the settings change: each picture
// shows as it is, and the surface path never shows an older picture.
TEST(RendererDirect, SwitchingPathsShowsEveryPictureAsItIs) {
  Window win(32, 24);
  CDDrawRenderer r;
  const auto same = [](int x, int y) { return std::pair{x, y}; };
  const Picture first = randomPicture(32, 24, 1), second = randomPicture(32, 24, 2),
                third = randomPicture(32, 24, 3);
  ASSERT_TRUE(show(r, first, win));
  expectShown(win, first, same);
  r.setRenderEffect(1);
  ASSERT_TRUE(show(r, second, win));
  expectShown(win, second, [](int x, int y) { return std::pair{31 - x, y}; });
  r.setRenderEffect(0);
  ASSERT_TRUE(show(r, third, win));
  expectShown(win, third, same);
  EXPECT_EQ(r.directPresents(), 2u);
  // A present without a new picture after a direct one has nothing to show
  // again: the window keeps the last picture.
  r.present();
  expectShown(win, third, same);
}

}  // namespace
}  // namespace tavolen
