// The video window in a desktop (SDL) window on a private X server: real
// clicks from xdotool turn the frame red on the screen and notify, and
// ShowMax/ShowNormal move the real window, as a screenshot shows.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "control/video_view_dlg.h"
#include "control/video_view_fixture.h"
#include "support/x_server.h"
#include "tavolen/window.h"

namespace tavolen::control {
namespace {

using test::XServer;

constexpr int kScreenW = test::XServerTest::kScreenWidth;
constexpr int kScreenH = test::XServerTest::kScreenHeight;
constexpr uint32_t kRed = 0xFF0000, kGrey = 0xACACAC, kBlack = 0;

using test::Forwarder;
using test::Notice;

struct Screen {
  std::vector<uint8_t> rgb;
  // 0xRRGGBB at (x, y), or a value no colour has when nothing was read.
  uint32_t at(int x, int y) const {
    const size_t i = (static_cast<size_t>(y) * kScreenW + x) * 3;
    if (i + 2 >= rgb.size()) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(rgb[i]) << 16 | static_cast<uint32_t>(rgb[i + 1]) << 8 | rgb[i + 2];
  }
};

class VideoViewOnX : public test::XServerTest {
 protected:
  void SetUp() override {
    host = openWindow(200, 150, 240, 180);
    ASSERT_NE(host, nullptr);
    platform::windowHandles().share(host)->setObserver(std::make_shared<Forwarder>(dlg));
    owner.dlg = &dlg;
    ASSERT_TRUE(dlg.create(&owner, host));
    ASSERT_TRUE(pumpUntil([&] { return shot().at(200, 150) == kGrey; }));
  }
  void TearDown() override {
    dlg.destroy();
    if (host) tavolen_window_destroy(host);
  }

  // This thread is both the window's host thread and the control's UI thread.
  bool pumpUntil(const std::function<bool()>& pred) { return test::pumpUntil(host, pred); }
  static Screen shot() { return {XServer::screenshot()}; }
  TavolenWindow* host = nullptr;
  test::RecordingOwner owner;
  CVideoViewDlg dlg;
};

TEST_F(VideoViewOnX, ClicksTurnTheFrameRedOnScreenAndNotify) {
  XServer::run("xdotool mousemove 300 250 click 1");
  ASSERT_TRUE(pumpUntil([&] { return owner.notices.size() == 1; }));
  ASSERT_TRUE(pumpUntil([&] {
    const Screen s = shot();
    return s.at(200, 150) == kRed && s.at(439, 329) == kRed;
  }));
  const Screen s = shot();
  EXPECT_EQ(s.at(201, 151), kBlack);  // the surface inside the frame
  EXPECT_EQ(s.at(199, 149), kBlack);  // the root outside the window
  // A double click elsewhere: its first press is a click, its second the
  // double click.
  XServer::run("xdotool mousemove 400 300 click --repeat 2 --delay 60 1");
  ASSERT_TRUE(pumpUntil([&] { return owner.notices.size() == 3; }));
  EXPECT_EQ(owner.notices, (std::vector<Notice>{{0, 0}, {0, 0}, {1, 0}}));
}

TEST_F(VideoViewOnX, ShowMaxCoversTheScreenOnePixelShortAndShowNormalComesBack) {
  dlg.ShowMax();
  const test::XGeometry full{0, 0, kScreenW - 1, kScreenH - 1};
  ASSERT_TRUE(pumpUntil([&] { return geometry() == full; })) << geometry();
  ASSERT_TRUE(pumpUntil([&] {
    const Screen s = shot();
    return s.at(0, 0) == kGrey && s.at(1278, 718) == kGrey;
  }));
  Screen s = shot();
  EXPECT_EQ(s.at(1278, 0), kGrey);
  EXPECT_EQ(s.at(0, 718), kGrey);
  EXPECT_EQ(s.at(1, 1), kBlack);
  // The last column and row of the screen are not the window's.
  EXPECT_EQ(s.at(1279, 0), kBlack);
  EXPECT_EQ(s.at(0, 719), kBlack);

  dlg.ShowNormal();
  ASSERT_TRUE(pumpUntil([&] { return geometry() == test::XGeometry{200, 150, 240, 180}; }))
      << geometry();
  ASSERT_TRUE(pumpUntil([&] {
    const Screen s = shot();
    return s.at(200, 150) == kGrey && s.at(439, 329) == kGrey && s.at(0, 0) == kBlack;
  }));
}

}  // namespace
}  // namespace tavolen::control
