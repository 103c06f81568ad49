// The video window in a desktop (SDL) window on a private X server: real
// clicks from xdotool turn the frame red on the screen and notify, and
// ShowMax/ShowNormal move the real window, as a screenshot shows.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "control/video_view_dlg.h"
#include "support/x_server.h"
#include "tavolen/window.h"

namespace tavolen::control {
namespace {

using testing::XServer;

constexpr int kScreenW = 1280;
constexpr int kScreenH = 720;
constexpr uint32_t kRed = 0xFF0000, kGrey = 0xACACAC, kBlack = 0;

struct Notice {
  int32_t type, param;
  friend bool operator==(const Notice&, const Notice&) = default;
};

class Owner : public VideoViewOwner {
 public:
  void repaint() override { dlg->clearAndShowStatus(); }
  void MessageNotify(int32_t type, int32_t param) override { notices.push_back({type, param}); }
  CVideoViewDlg* dlg = nullptr;
  std::vector<Notice> notices;
};

class Forwarder : public platform::WindowObserver {
 public:
  explicit Forwarder(CVideoViewDlg& d) : dlg(d) {}
  void windowEvent(const platform::WindowEvent& e) override { dlg.onWindowEvent(e); }
  CVideoViewDlg& dlg;
};

struct Screen {
  std::vector<uint8_t> rgb;
  // 0xRRGGBB at (x, y), or a value no colour has when nothing was read.
  uint32_t at(int x, int y) const {
    const size_t i = (static_cast<size_t>(y) * kScreenW + x) * 3;
    if (i + 2 >= rgb.size()) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(rgb[i]) << 16 | static_cast<uint32_t>(rgb[i + 1]) << 8 | rgb[i + 2];
  }
};

class VideoViewOnX : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server = new XServer(kScreenW, kScreenH); }
  static void TearDownTestSuite() {
    delete server;
    server = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(server->ok()) << "Xvfb did not start";
    setenv("SDL_VIDEODRIVER", "x11", 1);
    title = std::string("tavolen-") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    host = tavolen_window_create_sdl(title.c_str(), 240, 180);
    ASSERT_NE(host, nullptr);
    ASSERT_EQ(tavolen_window_set_position(host, 200, 150), 1);
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
  bool pumpUntil(const std::function<bool()>& pred) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
      tavolen_window_pump(host, 20);
      if (pred()) return true;
    }
    return false;
  }
  static Screen shot() { return {XServer::screenshot()}; }
  testing::XGeometry geometry() const { return XServer::geometry(title); }

  static XServer* server;
  std::string title;
  TavolenWindow* host = nullptr;
  Owner owner;
  CVideoViewDlg dlg;
};

XServer* VideoViewOnX::server = nullptr;

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
  const testing::XGeometry full{0, 0, kScreenW - 1, kScreenH - 1};
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
  ASSERT_TRUE(pumpUntil([&] { return geometry() == testing::XGeometry{200, 150, 240, 180}; }))
      << geometry();
  ASSERT_TRUE(pumpUntil([&] {
    const Screen s = shot();
    return s.at(200, 150) == kGrey && s.at(439, 329) == kGrey && s.at(0, 0) == kBlack;
  }));
}

}  // namespace
}  // namespace tavolen::control
