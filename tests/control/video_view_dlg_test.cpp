// The video window in an off-screen host window, driven synchronously the way
// the control's UI thread drives it: host events are handed to it at once by a
// plain observer, and every result is read back from the host's pixels.
#include "control/video_view_dlg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "control/video_view_fixture.h"
#include "tavolen/window.h"

namespace tavolen::control {
namespace {

using platform::WindowEvent;

constexpr uint32_t kRed = platform::windowPixel(255, 0, 0);
constexpr uint32_t kGrey = platform::windowPixel(172, 172, 172);
constexpr uint32_t kYellow = platform::windowPixel(255, 255, 0);
constexpr uint32_t kBlue = platform::windowPixel(0, 0, 255);

using test::Forwarder;
using test::Notice;
using Owner = test::RecordingOwner;

struct Picture {
  int32_t width = 0, height = 0;
  std::vector<uint32_t> px;
  uint32_t at(int32_t x, int32_t y) const { return px[static_cast<size_t>(y) * width + x]; }
};

class VideoView : public ::testing::Test {
 protected:
  void SetUp() override { host = makeHost(160, 120); }
  void TearDown() override {
    dlg.destroy();
    tavolen_window_destroy(host);
  }
  TavolenWindow* makeHost(int32_t w, int32_t h) {
    TavolenWindow* win = tavolen_window_create_offscreen(w, h);
    platform::windowHandles().share(win)->setObserver(std::make_shared<Forwarder>(dlg));
    owner.dlg = &dlg;
    return win;
  }
  void create() { ASSERT_TRUE(dlg.create(&owner, host)); }

  Picture shown() const {
    TavolenWindowState s{};
    tavolen_window_get_state(host, &s);
    Picture p{s.width, s.height, std::vector<uint32_t>(static_cast<size_t>(s.width) * s.height)};
    const int32_t bytes = static_cast<int32_t>(p.px.size() * 4);
    EXPECT_EQ(tavolen_window_read_pixels(host, reinterpret_cast<uint8_t*>(p.px.data()), bytes), bytes);
    return p;
  }
  // Every pixel of the one-pixel ring around the client area.
  static std::vector<uint32_t> ring(const Picture& p) {
    std::vector<uint32_t> out;
    for (int32_t x = 0; x < p.width; ++x) out.insert(out.end(), {p.at(x, 0), p.at(x, p.height - 1)});
    for (int32_t y = 0; y < p.height; ++y) out.insert(out.end(), {p.at(0, y), p.at(p.width - 1, y)});
    return out;
  }
  static bool ringIs(const Picture& p, uint32_t colour) {
    const auto r = ring(p);
    return std::all_of(r.begin(), r.end(), [&](uint32_t v) { return v == colour; });
  }
  platform::WindowRect surfaceRect() const {
    platform::WindowRect rc;
    EXPECT_TRUE(platform::windowHandles().share(dlg.surfaceWindow())->screenRect(rc));
    return rc;
  }

  TavolenWindow* host = nullptr;
  Owner owner;
  CVideoViewDlg dlg;
};

TEST_F(VideoView, CreationInsetsTheSurfaceAndPaintsOnce) {
  EXPECT_FALSE(dlg.exists());
  EXPECT_EQ(dlg.surfaceWindow(), nullptr);
  EXPECT_FALSE(dlg.create(nullptr, host));
  EXPECT_FALSE(dlg.create(&owner, nullptr));
  EXPECT_EQ(dlg.ready(), 0);
  tavolen_window_set_position(host, 10, 20);
  create();
  EXPECT_FALSE(dlg.create(&owner, host)) << "created twice";
  EXPECT_EQ(dlg.ready(), 1);
  EXPECT_EQ(dlg.focused(), 0);
  EXPECT_STREQ(dlg.statusText(), "");
  EXPECT_EQ(owner.repaints, 1);
  // The surface is a window handle of its own, one pixel in from each side.
  EXPECT_EQ(surfaceRect(), (platform::WindowRect{11, 21, 11 + 158, 21 + 118}));
  const Picture p = shown();
  EXPECT_TRUE(ringIs(p, kGrey));
  for (int32_t y = 1; y < p.height - 1; ++y)
    for (int32_t x = 1; x < p.width - 1; ++x) ASSERT_EQ(p.at(x, y), 0u) << x << "," << y;
}

TEST_F(VideoView, FocusFrameColours) {
  create();
  platform::windowHandles().share(dlg.surfaceWindow())->fillRect({0, 0, 158, 118}, kBlue);
  struct Case {
    int32_t value;
    uint32_t colour;
  } cases[] = {{1, kRed}, {0, kGrey}, {-7, kRed}, {0, kGrey}, {2, kRed}};
  for (const Case& c : cases) {
    dlg.drawFocusFrame(c.value);
    EXPECT_EQ(dlg.focused(), c.value);
    const Picture p = shown();
    EXPECT_TRUE(ringIs(p, c.colour)) << c.value;
    // The frame never reaches into the surface.
    EXPECT_EQ(p.at(1, 1), kBlue);
    EXPECT_EQ(p.at(p.width - 2, p.height - 2), kBlue);
  }
}

// The status text's ink: its bounding box in the surface and whether every
// inked pixel is yellow at some coverage over black.
struct Ink {
  int32_t left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;
  bool allYellow = true;
  bool someFullYellow = false;
  int32_t count = 0;
};

Ink inkOf(const Picture& p, platform::WindowRect area, uint32_t background) {
  Ink ink;
  for (int32_t y = area.top; y < area.bottom; ++y)
    for (int32_t x = area.left; x < area.right; ++x) {
      const uint32_t v = p.at(x, y);
      if (v == background) continue;
      ++ink.count;
      ink.left = std::min(ink.left, x);
      ink.right = std::max(ink.right, x + 1);
      ink.top = std::min(ink.top, y);
      ink.bottom = std::max(ink.bottom, y + 1);
      const uint8_t b = v & 0xFF, g = (v >> 8) & 0xFF, r = (v >> 16) & 0xFF;
      if (background == 0 && (b != 0 || r != g)) ink.allYellow = false;
      if (v == kYellow) ink.someFullYellow = true;
    }
  return ink;
}

TEST_F(VideoView, StatusTextIsCentredYellowOverBlack) {
  create();
  auto surface = platform::windowHandles().share(dlg.surfaceWindow());
  surface->fillRect({0, 0, 158, 118}, kBlue);
  dlg.setStatusText("User or pwd is incorrect");
  EXPECT_STREQ(dlg.statusText(), "User or pwd is incorrect");
  dlg.clearAndShowStatus();
  const Picture p = shown();
  EXPECT_TRUE(ringIs(p, kGrey));
  const Ink ink = inkOf(p, {1, 1, 159, 119}, 0);
  ASSERT_GT(ink.count, 50);
  EXPECT_TRUE(ink.allYellow);
  EXPECT_TRUE(ink.someFullYellow);
  // Centred in the surface (1..158 by 1..118), within what the glyphs' own
  // side bearings and ascent allow.
  EXPECT_NEAR((ink.left + ink.right) / 2.0, 1 + 158 / 2.0, 2.0);
  EXPECT_NEAR((ink.top + ink.bottom) / 2.0, 1 + 118 / 2.0, 3.0);
  EXPECT_LT(ink.bottom - ink.top, 16);  // one line of an 11-pixel font

  // Cleared with no text: only black, the frame untouched.
  dlg.setStatusText("");
  dlg.clearAndShowStatus();
  EXPECT_EQ(inkOf(shown(), {1, 1, 159, 119}, 0).count, 0);
  EXPECT_TRUE(ringIs(shown(), kGrey));
}

TEST_F(VideoView, StatusTextAloneLiesOverWhatTheSurfaceShows) {
  create();
  auto surface = platform::windowHandles().share(dlg.surfaceWindow());
  surface->fillRect({0, 0, 158, 118}, kBlue);
  dlg.setStatusText("");
  EXPECT_EQ(inkOf(shown(), {1, 1, 159, 119}, kBlue).count, 0) << "an empty text draws nothing";
  dlg.setStatusText("Video Loss!");
  const Picture p = shown();
  const Ink ink = inkOf(p, {1, 1, 159, 119}, kBlue);
  EXPECT_GT(ink.count, 20);
  EXPECT_TRUE(ink.someFullYellow);
  EXPECT_EQ(p.at(1, 1), kBlue);  // the picture stays where no text is
  EXPECT_TRUE(ringIs(p, kGrey));
}

TEST_F(VideoView, StatusTextIsCutToItsFieldAtACharacterBoundary) {
  const std::string ascii(300, 'a');
  std::string twoByte(254, 'b');
  twoByte += "\xC3\xA9\xC3\xA9";  // 'é' twice: the first would end at byte 256
  struct Case {
    const char* name;
    std::string text;
    std::string stored;
  } cases[] = {
      {"fits", "Request type error", "Request type error"},
      {"too long", ascii, std::string(255, 'a')},
      {"multibyte at the end", twoByte, std::string(254, 'b')},
      {"embedded zero", std::string("ab\0cd", 5), "ab"},
  };
  for (const Case& c : cases) {
    dlg.setStatusText(c.text);  // before creation only the text is kept
    EXPECT_EQ(std::string(dlg.statusText()), c.stored) << c.name;
  }
}

TEST_F(VideoView, ClicksTurnTheFrameRedAndNotify) {
  struct Case {
    const char* name;
    std::vector<int32_t> events;  // tavolen_window_send_mouse codes
    std::vector<Notice> notices;
    uint32_t frame;
  } cases[] = {
      {"left click", {1, 4}, {{0, 0}}, kRed},
      {"right click", {2}, {{0, 0}}, kRed},
      {"double click", {1, 4, 3, 4}, {{0, 0}, {1, 0}}, kRed},
      {"second press alone", {3}, {{1, 0}}, kRed},
      {"up and moves", {5, 4, 5}, {}, kGrey},
  };
  for (const Case& c : cases) {
    CVideoViewDlg view;
    Owner o;
    o.dlg = &view;
    TavolenWindow* win = tavolen_window_create_offscreen(40, 30);
    platform::windowHandles().share(win)->setObserver(std::make_shared<Forwarder>(view));
    ASSERT_TRUE(view.create(&o, win));
    for (int32_t e : c.events) EXPECT_EQ(tavolen_window_send_mouse(win, e, 20, 15), 1) << c.name;
    // send_mouse returned once the window had handled it.
    std::vector<uint32_t> px(40 * 30);
    tavolen_window_read_pixels(win, reinterpret_cast<uint8_t*>(px.data()), 40 * 30 * 4);
    EXPECT_EQ(px[0], c.frame) << c.name;
    EXPECT_EQ(px[40 * 30 - 1], c.frame) << c.name;
    EXPECT_EQ(o.notices, c.notices) << c.name;
    EXPECT_EQ(o.repaints, 1) << c.name << ": a click does not repaint";
    view.destroy();
    tavolen_window_destroy(win);
  }
}

TEST_F(VideoView, OnlyScriptTurnsTheFrameGreyAgain) {
  create();
  tavolen_window_send_mouse(host, 1, 3, 3);
  tavolen_window_set_visible(host, 0);
  tavolen_window_set_visible(host, 1);  // a paint keeps the red
  EXPECT_TRUE(ringIs(shown(), kRed));
  dlg.drawFocusFrame(0);
  tavolen_window_set_visible(host, 0);
  tavolen_window_set_visible(host, 1);
  EXPECT_TRUE(ringIs(shown(), kGrey));
  EXPECT_EQ(dlg.focused(), 0);
}

TEST_F(VideoView, PaintsAfterEachChangeThatUncoversIt) {
  create();
  struct Case {
    const char* name;
    std::function<void()> act;
    int paints;
  } cases[] = {
      {"shown", [&] { tavolen_window_set_visible(host, 0); tavolen_window_set_visible(host, 1); }, 1},
      {"hidden only", [&] { tavolen_window_set_visible(host, 0); }, 0},
      {"shown again", [&] { tavolen_window_set_visible(host, 1); }, 1},
      {"exposed", [&] { dlg.onWindowEvent({WindowEvent::Kind::Exposed}); }, 1},
      {"resized", [&] { tavolen_window_set_size(host, 100, 80); }, 1},
      {"same size", [&] { tavolen_window_set_size(host, 100, 80); }, 0},
      {"moved", [&] { tavolen_window_set_position(host, 9, 9); }, 0},
      {"ShowMax", [&] { dlg.ShowMax(); }, 1},
      {"ShowNormal", [&] { dlg.ShowNormal(); }, 1},
      {"UpdataSize", [&] { dlg.UpdataSize(); }, 1},
  };
  for (const Case& c : cases) {
    const int before = owner.repaints;
    c.act();
    EXPECT_EQ(owner.repaints - before, c.paints) << c.name;
  }
}

TEST_F(VideoView, HostResizeRefitsTheSurfaceAtOnce) {
  create();
  dlg.drawFocusFrame(1);
  ASSERT_EQ(tavolen_window_set_size(host, 200, 90), 1);
  // Returned: the surface already fits and the window is painted.
  EXPECT_EQ(surfaceRect(), (platform::WindowRect{1, 1, 199, 89}));
  const Picture p = shown();
  EXPECT_EQ(p.width, 200);
  EXPECT_TRUE(ringIs(p, kRed));
  EXPECT_EQ(p.at(1, 1), 0u);
  // A window too small for a surface keeps its frame.
  ASSERT_EQ(tavolen_window_set_size(host, 2, 2), 1);
  EXPECT_EQ(platform::windowHandles().share(dlg.surfaceWindow())->clientSize(), (platform::WindowSize{0, 0}));
  EXPECT_TRUE(ringIs(shown(), kRed));
}

TEST_F(VideoView, ShowMaxAndShowNormalGeometry) {
  ASSERT_EQ(tavolen_window_set_position(host, 30, 40), 1);
  ASSERT_EQ(tavolen_window_set_screen_size(host, 640, 480), 1);
  create();
  auto geometry = [&] {
    TavolenWindowState s{};
    tavolen_window_get_state(host, &s);
    return std::vector<int32_t>{s.x, s.y, s.width, s.height, s.fullScreen};
  };
  dlg.ShowMax();
  EXPECT_EQ(geometry(), (std::vector<int32_t>{0, 0, 639, 479, 1}));
  EXPECT_EQ(surfaceRect(), (platform::WindowRect{1, 1, 638, 478}));
  Picture p = shown();
  EXPECT_EQ(p.px.size(), 639u * 479u);
  EXPECT_TRUE(ringIs(p, kGrey));

  // The host resizes its window meanwhile, and a second ShowMax on a new
  // screen: the way back is the host's new size at the old place.
  ASSERT_EQ(tavolen_window_set_size(host, 120, 60), 1);
  EXPECT_EQ(geometry(), (std::vector<int32_t>{0, 0, 639, 479, 1}));
  ASSERT_EQ(tavolen_window_set_screen_size(host, 800, 600), 1);
  dlg.ShowMax();
  EXPECT_EQ(geometry(), (std::vector<int32_t>{0, 0, 799, 599, 1}));
  EXPECT_EQ(surfaceRect(), (platform::WindowRect{1, 1, 798, 598}));

  dlg.ShowNormal();
  EXPECT_EQ(geometry(), (std::vector<int32_t>{30, 40, 120, 60, 0}));
  EXPECT_EQ(surfaceRect(), (platform::WindowRect{31, 41, 31 + 118, 41 + 58}));
  p = shown();
  EXPECT_TRUE(ringIs(p, kGrey));
  EXPECT_EQ(p.at(1, 1), 0u);

  dlg.ShowNormal();  // already embedded: fits again, nothing moves
  EXPECT_EQ(geometry(), (std::vector<int32_t>{30, 40, 120, 60, 0}));
}

TEST_F(VideoView, NothingHappensBeforeCreationAndDestroyGivesTheWindowBack) {
  dlg.ShowMax();
  dlg.ShowNormal();
  dlg.UpdataSize();
  dlg.clearAndShowStatus();
  dlg.drawFocusFrame(1);
  dlg.onWindowEvent({WindowEvent::Kind::Mouse, platform::MouseEvent::LeftDown, 1, 1});
  EXPECT_TRUE(owner.notices.empty());
  EXPECT_EQ(owner.repaints, 0);
  EXPECT_EQ(dlg.focused(), 0);
  EXPECT_EQ(shown().px, std::vector<uint32_t>(160 * 120, 0));

  create();
  void* surface = dlg.surfaceWindow();
  dlg.ShowMax();
  dlg.destroy();
  EXPECT_FALSE(dlg.exists());
  EXPECT_EQ(platform::windowHandles().share(surface), nullptr) << "the surface handle is withdrawn";
  TavolenWindowState s{};
  tavolen_window_get_state(host, &s);
  EXPECT_EQ(s.fullScreen, 0);
  EXPECT_EQ(s.width, 160);
  // A new video window can live in the same host window.
  create();
  EXPECT_NE(dlg.surfaceWindow(), nullptr);
}

// The host should keep its window until the control is gone; if it does not,
// everything the video window does afterwards is harmless.
TEST_F(VideoView, AHostWindowDestroyedFirstLeavesEveryCallHarmless) {
  create();
  void* surface = dlg.surfaceWindow();
  ASSERT_EQ(tavolen_window_destroy(host), 1);
  dlg.setStatusText("Video Loss!");
  dlg.clearAndShowStatus();
  dlg.drawFocusFrame(1);
  dlg.ShowMax();
  dlg.ShowNormal();
  dlg.UpdataSize();
  dlg.onWindowEvent({WindowEvent::Kind::Mouse, platform::MouseEvent::LeftDown, 1, 1});
  platform::WindowRect rc;
  EXPECT_FALSE(platform::windowHandles().share(surface)->screenRect(rc)) << "the surface is gone too";
  dlg.destroy();
  EXPECT_EQ(platform::windowHandles().share(surface), nullptr);
  host = nullptr;
}

}  // namespace
}  // namespace tavolen::control
