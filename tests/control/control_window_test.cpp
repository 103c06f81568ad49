// The control in its host window, through control.h and window.h: the status
// texts of refusals and their repaint, the focus frame after clicks and
// SetFocus, full screen and back, and host resizes re-fitting at once.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "control/camera_view.h"
#include "control/video_view_dlg.h"
#include "view_support.h"

namespace {

using namespace ctltest;
using namespace tavolen;

constexpr uint32_t kGrey = 0xACACAC;
constexpr uint32_t kRed = 0xFF0000;
constexpr uint32_t kYellow = 0xFFFF00;

// What the video window shows for a status text, drawn by a video window of
// its own in a window of the same size: the oracle for the control's pixels.
Pixels expectedStatus(int32_t width, int32_t height, const std::string& text, int32_t focus) {
  struct StatusOwner : control::VideoViewOwner {
    control::CVideoViewDlg* dlg = nullptr;
    void repaint() override { dlg->clearAndShowStatus(); }
    void MessageNotify(int32_t, int32_t) override {}
  } owner;
  TavolenWindow* w = tavolen_window_create_offscreen(width, height);
  control::CVideoViewDlg dlg;
  owner.dlg = &dlg;
  EXPECT_TRUE(dlg.create(&owner, w));
  dlg.setStatusText(text);
  dlg.drawFocusFrame(focus);
  dlg.clearAndShowStatus();
  Pixels p = readPixels(w);
  dlg.destroy();
  tavolen_window_destroy(w);
  return p;
}

// Frame pixels all of one colour, surface never drawn on them.
bool frameIs(const Pixels& p, uint32_t colour) {
  for (int32_t x = 0; x < p.width; ++x)
    if (p.at(x, 0) != colour || p.at(x, p.height - 1) != colour) return false;
  for (int32_t y = 0; y < p.height; ++y)
    if (p.at(0, y) != colour || p.at(p.width - 1, y) != colour) return false;
  return true;
}

int pictureness(const Pixels& p) {
  return p.count(2, 2, p.width - 2, p.height - 2, [](uint32_t c) { return c != 0 && c != kYellow; });
}

class ControlWindow : public ViewFixture {
 protected:
  // Stops the camera's pictures after a few frames, so that what the window
  // shows next is the control's doing alone.
  void playThenSilence() {
    camera->pushFault(camsim::Fault{camsim::FaultKind::Silent, 12});
    ASSERT_EQ(play(), 0);
    ASSERT_TRUE(waitForPictures(8));
    // Let the queue run dry: no more presentations from here on.
    PlayerCounters before{}, after{};
    do {
      x_player_getCounters(ctrl().view().player(), &before);
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      x_player_getCounters(ctrl().view().player(), &after);
    } while (after.picturesPresented != before.picturesPresented);
  }
  void report(int32_t code) {
    void* view = &ctrl().view();
    std::thread([&] { CameraView::linkEvent(code, view); }).join();
    flush(control);
  }
};

TEST_F(ControlWindow, RefusalShowsItsTextAndRepaintsKeepIt) {
  struct Case {
    int32_t code;
    const char* text;
  } cases[] = {
      {LinkEventBadCredentials, "User or pwd is incorrect"},
      {LinkEventMaxConnections, "Maximum of connections"},
      {LinkEventRequestTypeError, "Request type error"},
      {LinkEventVideoLoss, "Video Loss!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    playThenSilence();
    ASSERT_GT(pictureness(readPixels(window)), 10000);
    report(c.code);
    const Pixels expected = expectedStatus(320, 240, c.text, 0);
    EXPECT_EQ(readPixels(window).bytes, expected.bytes);
    EXPECT_TRUE(log.notifies().size() == 1);  // the stream-lost notice only: refusals fire nothing

    // The player redraws its last picture; the next repaint shows the text.
    x_player_refreshLastPicture(ctrl().view().player());
    ASSERT_GT(pictureness(readPixels(window)), 10000);
    ASSERT_EQ(tavolen_window_set_visible(window, 0), 1);
    ASSERT_EQ(tavolen_window_set_visible(window, 1), 1);
    EXPECT_EQ(readPixels(window).bytes, expected.bytes);
    ASSERT_EQ(tavolen_window_send_mouse(window, 5, 3, 3), 1);  // a move repaints nothing
    EXPECT_EQ(readPixels(window).bytes, expected.bytes);

    ASSERT_EQ(callI4(control, "StopVideo"), 0);
    log.clear();
  }
}

TEST_F(ControlWindow, PlayVideoClearsTheStatus) {
  playThenSilence();
  report(LinkEventVideoLoss);
  bool shown = false;
  ctrl().ui().call([&] { shown = ctrl().view().errorShown(); });
  EXPECT_TRUE(shown);
  ASSERT_EQ(callI4(control, "StopVideo"), 0);
  // After StopVideo the text stays (no player: repaints show the status).
  EXPECT_EQ(readPixels(window).bytes, expectedStatus(320, 240, "Video Loss!", 0).bytes);
  EXPECT_EQ(callI4(control, "PlayVideo", {text("viewer"), text("secret"), text(""), i4(1), i4(3), i4(0)}), 0);
  ctrl().ui().call([&] { shown = ctrl().view().errorShown(); });
  EXPECT_FALSE(shown);
  tavolen_window_set_visible(window, 0);
  tavolen_window_set_visible(window, 1);
  EXPECT_EQ(readPixels(window).bytes, expectedStatus(320, 240, "", 0).bytes);
  ASSERT_EQ(play(), 0);
  ASSERT_TRUE(waitForPictures(3));
  EXPECT_GT(pictureness(readPixels(window)), 10000);
}

TEST_F(ControlWindow, ClicksAndSetFocusDrawTheFrame) {
  EXPECT_TRUE(frameIs(readPixels(window), kGrey));
  struct Step {
    const char* what;
    std::function<void()> act;
    uint32_t frame;
    std::vector<std::pair<int32_t, int32_t>> notices;  // added by the step
  } steps[] = {
      {"left down", [&] { EXPECT_EQ(tavolen_window_send_mouse(window, 1, 10, 10), 1); }, kRed, {{0, 0}}},
      {"SetFocus(0)", [&] { EXPECT_EQ(callI4(control, "SetFocus", {i4(0)}), 0); }, kGrey, {}},
      {"repaint keeps grey", [&] { tavolen_window_set_visible(window, 0), tavolen_window_set_visible(window, 1); }, kGrey, {}},
      {"right down", [&] { tavolen_window_send_mouse(window, 2, 300, 200); }, kRed, {{0, 0}}},
      {"SetFocus(0) again", [&] { callI4(control, "SetFocus", {i4(0)}); }, kGrey, {}},
      {"double click", [&] { tavolen_window_send_mouse(window, 1, 5, 5), tavolen_window_send_mouse(window, 4, 5, 5),
                             tavolen_window_send_mouse(window, 3, 5, 5); }, kRed, {{0, 0}, {1, 0}}},
      {"SetFocus(5) is red", [&] { callI4(control, "SetFocus", {i4(0)}), callI4(control, "SetFocus", {i4(5)}); }, kRed, {}},
      {"up and move", [&] { callI4(control, "SetFocus", {i4(0)}); tavolen_window_send_mouse(window, 4, 1, 1);
                            tavolen_window_send_mouse(window, 5, 2, 2); }, kGrey, {}},
  };
  std::vector<std::pair<int32_t, int32_t>> notices;
  for (const Step& s : steps) {
    s.act();
    // The window call returned once handled: the frame is there already.
    EXPECT_TRUE(frameIs(readPixels(window), s.frame)) << s.what;
    notices.insert(notices.end(), s.notices.begin(), s.notices.end());
    flush(control);
    EXPECT_EQ(log.notifies(), notices) << s.what;
  }
}

TEST_F(ControlWindow, FullScreenAndBack) {
  ASSERT_EQ(tavolen_window_set_position(window, 40, 30), 1);
  ASSERT_EQ(tavolen_window_set_screen_size(window, 800, 600), 1);
  ASSERT_EQ(play(), 0);
  ASSERT_TRUE(waitForPictures(3));
  const auto state = [&] {
    TavolenWindowState s{};
    tavolen_window_get_state(window, &s);
    return s;
  };
  const auto geometry = [&](int32_t x, int32_t y, int32_t w, int32_t h, int32_t full) {
    const TavolenWindowState s = state();
    return s.x == x && s.y == y && s.width == w && s.height == h && s.fullScreen == full;
  };
  ASSERT_TRUE(geometry(40, 30, 320, 240, 0));

  call(control, "ShowMax");
  EXPECT_TRUE(geometry(0, 0, 799, 599, 1));
  ASSERT_TRUE(waitForPictures(6));
  Pixels p = readPixels(window);
  EXPECT_TRUE(frameIs(p, kGrey));
  EXPECT_GT(pictureness(p), 100000);  // the picture follows the surface

  call(control, "ShowMax");  // again: still knows where it came from
  EXPECT_TRUE(geometry(0, 0, 799, 599, 1));
  ASSERT_EQ(tavolen_window_set_size(window, 400, 300), 1);  // where ShowNormal returns to
  EXPECT_TRUE(geometry(0, 0, 799, 599, 1));

  call(control, "ShowNormal");
  EXPECT_TRUE(geometry(40, 30, 400, 300, 0));
  ASSERT_TRUE(waitForPictures(12));
  p = readPixels(window);
  EXPECT_TRUE(frameIs(p, kGrey));
  EXPECT_GT(pictureness(p), 30000);
  // The surface is the window less one pixel all round: the player's picture
  // reaches the pixels just inside the frame.
  void* surface = nullptr;
  ctrl().ui().call([&] { surface = reinterpret_cast<void*>(x_player_getPlayWnd(ctrl().view().player())); });
  TavolenWindowState s{};
  ASSERT_EQ(tavolen_window_get_state(static_cast<TavolenWindow*>(surface), &s), 1);
  EXPECT_EQ(s.width, 398);
  EXPECT_EQ(s.height, 298);
  EXPECT_EQ(s.x, 41);
  EXPECT_EQ(s.y, 31);

  call(control, "ShowNormal");  // while embedded: re-fits, nothing moves
  EXPECT_TRUE(geometry(40, 30, 400, 300, 0));
}

TEST_F(ControlWindow, HostResizeRefitsAtOnce) {
  ASSERT_EQ(callI4(control, "SetFocus", {i4(1)}), 0);
  for (auto [w, h] : {std::pair{400, 300}, {120, 90}, {3, 3}, {641, 361}}) {
    ASSERT_EQ(tavolen_window_set_size(window, w, h), 1);
    const Pixels p = readPixels(window);
    ASSERT_EQ(p.width, w);
    EXPECT_TRUE(frameIs(p, kRed)) << w << "x" << h;
    EXPECT_EQ(p.count(1, 1, w - 1, h - 1, [](uint32_t c) { return c != 0; }), 0) << "surface not cleared";
  }
  call(control, "UpdataSize");
  EXPECT_TRUE(frameIs(readPixels(window), kRed));
}

TEST_F(ControlWindow, HostCallsFromInsideTheSinkRunAtOnce) {
  std::atomic<bool> checked{false};
  log.onEvent = [&](const Event& e) {
    if (e.i4[0] != NOTIFY_CLICK) return;
    // On the control's own UI thread: handled before the call returns.
    EXPECT_EQ(tavolen_window_set_size(window, 200, 150), 1);
    const Pixels p = readPixels(window);
    EXPECT_EQ(p.width, 200);
    EXPECT_TRUE(frameIs(p, kRed));
    checked = true;
  };
  ASSERT_EQ(tavolen_window_send_mouse(window, 1, 10, 10), 1);
  flush(control);
  EXPECT_TRUE(checked);
  log.onEvent = nullptr;
}

TEST(ControlInWindow, OneControlPerWindow) {
  ScratchFolder dir;
  EnvOverride settings("TAVOLEN_SETTINGS_FILE", dir.file("Tavolen.ini"));
  TavolenControl* a = tavolen_control_create(nullptr, nullptr);
  TavolenControl* b = tavolen_control_create(nullptr, nullptr);
  TavolenWindow* w = tavolen_window_create_offscreen(64, 48);
  EXPECT_EQ(tavolen_control_create_window(a, w), 1);
  EXPECT_EQ(tavolen_control_create_window(b, w), 0);
  tavolen_control_destroy(a);
  EXPECT_EQ(tavolen_control_create_window(b, w), 1);  // free again
  tavolen_control_destroy(b);
  tavolen_window_destroy(w);
}

TEST(ControlInWindow, HostWindowDestroyedFirstIsHarmless) {
  ScratchFolder dir;
  EnvOverride settings("TAVOLEN_SETTINGS_FILE", dir.file("Tavolen.ini"));
  EventLog log;
  TavolenControl* c = tavolen_control_create(&EventLog::sink, &log);
  TavolenWindow* w = tavolen_window_create_offscreen(64, 48);
  ASSERT_EQ(tavolen_control_create_window(c, w), 1);
  tavolen_window_destroy(w);
  EXPECT_EQ(callI4(c, "SetFocus", {i4(1)}), 0);
  call(c, "ShowMax");
  EXPECT_EQ(callI4(c, "StopVideo"), 0);
  tavolen_control_destroy(c);
}

}  // namespace
