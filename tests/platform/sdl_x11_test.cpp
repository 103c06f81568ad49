// The SDL window on a real X server (a private Xvfb without a window manager):
// clicks and double clicks made by xdotool, exposes, the user's resizes, and
// full screen as a borderless window above the others, as xwininfo and xprop
// see them.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/sdl_window.h"
#include "platform/video_window.h"
#include "support/x_server.h"
#include "tavolen/window.h"

namespace tavolen::platform {
namespace {

using test::XGeometry;
using test::XServer;
using K = WindowEvent::Kind;

constexpr int kScreenW = test::XServerTest::kScreenWidth;
constexpr int kScreenH = test::XServerTest::kScreenHeight;

class Recorder : public WindowObserver {
 public:
  void windowEvent(const WindowEvent& e) override {
    std::lock_guard lock(mutex);
    events.push_back(e);
  }
  std::vector<WindowEvent> taken(bool withMoves = false) {
    std::lock_guard lock(mutex);
    std::vector<WindowEvent> out;
    for (const WindowEvent& e : events)
      if (withMoves || e.kind != K::Mouse || e.mouse != MouseEvent::Move) out.push_back(e);
    return out;
  }
  void clear() {
    std::lock_guard lock(mutex);
    events.clear();
  }
  std::mutex mutex;
  std::vector<WindowEvent> events;
};

class SdlOnX : public test::XServerTest {
 protected:
  static void SetUpTestSuite() {
    XServerTest::SetUpTestSuite();
    // The atom by which programs ask a window manager for no decorations
    // exists on a desktop; on a bare server it must be made first.
    XServer::run("xprop -root -f _MOTIF_WM_HINTS 32c -set _MOTIF_WM_HINTS 0");
  }

  void SetUp() override {
    handle = openWindow(100, 80, 200, 150);
    ASSERT_NE(handle, nullptr);
    window = windowHandles().share(handle);
    window->setObserver(recorder);
    // Up once mapped, in place and painted for the first time.
    ASSERT_TRUE(pumpUntil([&] {
      return geometry() == XGeometry{100, 80, 200, 150} && sawEvent({K::Exposed});
    })) << geometry();
    recorder->clear();
  }
  void TearDown() override {
    window.reset();
    if (handle) tavolen_window_destroy(handle);
  }

  bool pumpUntil(const std::function<bool()>& pred) { return test::pumpUntil(handle, pred); }
  bool sawEvent(const WindowEvent& e) {
    const auto all = recorder->taken(true);
    return std::find(all.begin(), all.end(), e) != all.end();
  }

  TavolenWindow* handle = nullptr;
  std::shared_ptr<VideoWindow> window;
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
};

TEST_F(SdlOnX, ClicksAndDoubleClicksBecomeMouseEvents) {
  // The window's client area starts at screen (100, 80).
  XServer::run("xdotool mousemove 150 120");
  ASSERT_TRUE(pumpUntil([&] { return sawEvent({K::Mouse, MouseEvent::Move, 50, 40}); }));
  XServer::run("xdotool click 1");
  // A double click far from the first click, so that SDL counts it anew.
  XServer::run("xdotool mousemove 250 180 click --repeat 2 --delay 60 1");
  // The right button's double click is two presses, of which the second
  // reports nothing.
  XServer::run("xdotool mousemove 120 100 click --repeat 2 --delay 60 3");
  const std::vector<WindowEvent> expected = {
      {K::Mouse, MouseEvent::LeftDown, 50, 40},  {K::Mouse, MouseEvent::LeftUp, 50, 40},
      {K::Mouse, MouseEvent::LeftDown, 150, 100}, {K::Mouse, MouseEvent::LeftUp, 150, 100},
      {K::Mouse, MouseEvent::LeftDoubleClick, 150, 100}, {K::Mouse, MouseEvent::LeftUp, 150, 100},
      {K::Mouse, MouseEvent::RightDown, 20, 20},
  };
  EXPECT_TRUE(pumpUntil([&] { return recorder->taken().size() >= expected.size(); }));
  // xdotool has returned, so the server holds all its events: a few more
  // pumps would bring any event beyond the expected ones.
  for (int i = 0; i < 5; ++i) tavolen_window_pump(handle, 20);
  EXPECT_EQ(recorder->taken(), expected);
}

TEST_F(SdlOnX, UncoveringTheWindowExposesIt) {
  const pid_t cover = server->startHelper({"xlogo", "-geometry", "80x80+150+100"});
  ASSERT_TRUE(pumpUntil([&] {
    return XServer::run("xwininfo -root -children").find("\"xlogo\"") != std::string::npos;
  }));
  recorder->clear();
  server->stopHelper(cover);
  EXPECT_TRUE(pumpUntil([&] { return sawEvent({K::Exposed}); }));
}

TEST_F(SdlOnX, TheUsersResizeReachesTheObserverWithTheNewSize) {
  XServer::run("xdotool search --name '^" + title + "$' windowsize 300 120");
  ASSERT_TRUE(pumpUntil([&] { return sawEvent({K::Resized, MouseEvent::Move, 300, 120}); }));
  EXPECT_EQ(window->clientSize(), (WindowSize{300, 120}));
}

TEST_F(SdlOnX, FullScreenIsABorderlessWindowAboveTheOthersOnePixelShort) {
  TavolenWindowState s{};
  ASSERT_EQ(tavolen_window_get_state(handle, &s), 1);
  EXPECT_EQ(s.screenWidth, kScreenW);
  EXPECT_EQ(s.screenHeight, kScreenH);
  EXPECT_EQ(tavolen_window_set_screen_size(handle, 640, 480), 0) << "the display's size is real";

  // Another client's window above ours.
  const pid_t other = server->startHelper({"xlogo", "-geometry", "100x100+0+0"});
  auto stacking = [&] {
    // Top-most first: where our window stands relative to the other one.
    const std::string tree = XServer::run("xwininfo -root -children");
    const size_t ours = tree.find("\"" + title + "\""), theirs = tree.find("\"xlogo\"");
    return ours == std::string::npos || theirs == std::string::npos ? 0 : ours < theirs ? 1 : -1;
  };
  ASSERT_TRUE(pumpUntil([&] { return stacking() == -1; }));

  // The control asks from its own thread; the pump carries it out.
  std::thread([&] { EXPECT_TRUE(window->setFullScreen(true)); }).join();
  ASSERT_EQ(tavolen_window_get_state(handle, &s), 1);
  EXPECT_EQ(s.fullScreen, 1);
  EXPECT_EQ((XGeometry{s.x, s.y, s.width, s.height}), (XGeometry{0, 0, kScreenW - 1, kScreenH - 1}));
  ASSERT_TRUE(pumpUntil([&] { return geometry() == XGeometry{0, 0, kScreenW - 1, kScreenH - 1}; }))
      << geometry();
  EXPECT_EQ(stacking(), 1);
  // No decorations asked of a window manager (the Motif hints' third word).
  const std::string hints = XServer::run("xprop -name '" + title + "' _MOTIF_WM_HINTS");
  EXPECT_NE(hints.find("0x2, 0x0, 0x0"), std::string::npos) << hints;

  std::thread([&] { EXPECT_TRUE(window->setFullScreen(false)); }).join();
  ASSERT_TRUE(pumpUntil([&] { return geometry() == XGeometry{100, 80, 200, 150}; })) << geometry();
  const std::string back = XServer::run("xprop -name '" + title + "' _MOTIF_WM_HINTS");
  EXPECT_NE(back.find("0x2, 0x0, 0x1"), std::string::npos) << back;
  ASSERT_EQ(tavolen_window_get_state(handle, &s), 1);
  EXPECT_EQ(s.fullScreen, 0);
  EXPECT_EQ((XGeometry{s.x, s.y, s.width, s.height}), (XGeometry{100, 80, 200, 150}));
  // The control made these changes: none came back to it as a host event.
  for (const WindowEvent& e : recorder->taken()) EXPECT_NE(e.kind, K::Resized);
  server->stopHelper(other);
}

// Keys typed with the pointer over the window (a bare server gives the focus
// to the window under the pointer) wait for the host in the order typed.
TEST_F(SdlOnX, TypedKeysWaitForTheHostInOrder) {
  std::vector<int32_t> got;
  auto take = [&] {
    for (int32_t k; (k = tavolen_window_next_key(handle)) != 0;) got.push_back(k);
  };
  // Left and a lone Shift report nothing; digits stay unshifted.
  XServer::run("xdotool mousemove 150 130 key o shift+o F11 Escape Left Return shift+1 F1 F12");
  const std::vector<int32_t> expected = {'o', 'O', TAVOLEN_KEY_F11, 27, 13, '1', TAVOLEN_KEY_F1,
                                         TAVOLEN_KEY_F12};
  ASSERT_TRUE(pumpUntil([&] {
    take();
    return got.size() >= expected.size();
  }));
  for (int i = 0; i < 5; ++i) tavolen_window_pump(handle, 20);
  take();
  EXPECT_EQ(got, expected);
  EXPECT_EQ(tavolen_window_next_key(handle), 0);

  // A host that does not take its keys keeps the latest 64.
  std::string typed;
  for (int i = 0; i < 70; ++i) typed += static_cast<char>('a' + i % 26);
  XServer::run("xdotool type --delay 1 " + typed);
  for (int i = 0; i < 25; ++i) tavolen_window_pump(handle, 20);
  got.clear();
  take();
  EXPECT_EQ(std::string(got.begin(), got.end()), typed.substr(typed.size() - 64));
}

TEST(SdlKeys, WindowsThatAreNotSdlReportNoKeys) {
  TavolenWindow* offscreen = tavolen_window_create_offscreen(8, 8);
  EXPECT_EQ(tavolen_window_next_key(offscreen), 0);
  tavolen_window_destroy(offscreen);
  EXPECT_EQ(tavolen_window_next_key(offscreen), 0);
  EXPECT_EQ(tavolen_window_next_key(nullptr), 0);
}

}  // namespace
}  // namespace tavolen::platform
