// The JPEG player drawing into an off-screen window, ticked by hand.

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/jpeg_codec.h"
#include "player/frames.h"
#include "player/h264_fixture.h"
#include "player/net_jpeg_stream_play.h"
#include "player/pacing_timer.h"
#include "player/player_test_util.h"
#include "tavolen/player.h"
#include "tavolen/window.h"

namespace tavolen {
namespace {

using test::counters;
using test::len;
using test::makeFrame;
using test::waitUntil;

// A picture of four flat quadrants, so that every flip moves a colour.
std::vector<uint8_t> quadrants(int w, int h) {
  const uint8_t colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
  std::vector<uint8_t> px(static_cast<size_t>(w) * h * 4);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const auto& c = colours[(y >= h / 2) * 2 + (x >= w / 2)];
      uint8_t* p = &px[(static_cast<size_t>(y) * w + x) * 4];
      p[0] = c[0], p[1] = c[1], p[2] = c[2], p[3] = 0;
    }
  return px;
}

std::vector<uint8_t> encodeJpeg(const std::vector<uint8_t>& px, int w, int h) {
  platform::JpegCodec codec;
  return codec.encode(px.data(), w, h, 100);
}

class JpegPlayer : public ::testing::Test {
 protected:
  void open(int w, int h) {
    holdPacingTimers(true);
    window = tavolen_window_create_offscreen(w, h);
    ASSERT_NE(window, nullptr);
    player = x_player_createPlayInstance(1);
    ASSERT_EQ(x_player_setPlayWnd(player, window), 1);
    ASSERT_EQ(x_player_startPlay(player), 1);
  }
  void TearDown() override {
    x_player_destroyPlayInstance(player);
    if (window != nullptr) tavolen_window_destroy(window);
    holdPacingTimers(false);
  }
  void show(const std::vector<uint8_t>& jpeg, uint32_t timestamp = 1000000000) {
    const uint32_t before = counters(player).picturesDecoded + counters(player).decodeErrors;
    const auto f = makeFrame(FRAME_JPEG, jpeg, timestamp);
    ASSERT_EQ(x_player_inputNetFrame(player, f.data(), len(f)), 1);
    firePacingTimersNow();
    ASSERT_TRUE(waitUntil([&] {
      const PlayerCounters c = counters(player);
      return c.picturesDecoded + c.decodeErrors > before && c.queueDepth == 0;
    }));
    // Drawing follows the decode on the same thread; presented is counted last.
    waitUntil([&] { return counters(player).picturesPresented > 0; }, 500);
  }
  std::vector<uint8_t> pixels(int w, int h) {
    std::vector<uint8_t> out(static_cast<size_t>(w) * h * 4);
    EXPECT_EQ(tavolen_window_read_pixels(window, out.data(), len(out)), len(out));
    return out;
  }

  TavolenWindow* window = nullptr;
  PlayerHandle player = nullptr;
};

struct FlipCase {
  int32_t mode;
  bool mirrorX;
  bool mirrorY;
};

class JpegFlip : public JpegPlayer, public ::testing::WithParamInterface<FlipCase> {};

TEST_P(JpegFlip, PictureIsFlippedAsAsked) {
  constexpr int W = 64, H = 48;
  open(W, H);
  const FlipCase c = GetParam();
  const auto jpeg = encodeJpeg(quadrants(W, H), W, H);
  platform::JpegCodec codec;
  platform::JpegPicture decoded;
  ASSERT_TRUE(codec.decode(jpeg.data(), jpeg.size(), decoded));
  ASSERT_EQ(x_player_setRenderEffect(player, c.mode), 1);
  show(jpeg);
  const auto shown = pixels(W, H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const int sx = c.mirrorX ? W - 1 - x : x;
      const int sy = c.mirrorY ? H - 1 - y : y;
      ASSERT_EQ(0, std::memcmp(&shown[(y * W + x) * 4], &decoded.pixels[(sy * W + sx) * 4], 3))
          << "mode " << c.mode << " at " << x << "," << y;
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, JpegFlip,
                         ::testing::Values(FlipCase{0, false, false}, FlipCase{1, true, false},
                                           FlipCase{2, false, true}, FlipCase{3, true, true},
                                           FlipCase{7, false, false}, FlipCase{-1, false, false}),
                         [](const auto& info) {
                           return "Mode" + std::to_string(info.param.mode < 0 ? 99 : info.param.mode);
                         });

OsdItem textItem(int32_t position, int32_t kind, const char* text) {
  OsdItem item{};
  std::snprintf(item.faceName, sizeof item.faceName, "%s", "DejaVu Sans");
  item.fontHeight = 20;
  item.red = 255;
  item.kind = kind;
  item.position = position;
  std::snprintf(item.text, sizeof item.text, "%s", text);
  return item;
}

// Text lands inside its band (one pixel more for the shifted copy) and
// nowhere else; the black picture stays black around it.
TEST_F(JpegPlayer, TextIsDrawnInsideItsBand) {
  constexpr int W = 640, H = 480;
  open(W, H);
  std::vector<uint8_t> black(W * H * 4, 0);
  const OsdItem item = textItem(13, 0, "WWWW 1234");
  ASSERT_EQ(x_player_setOsdString(player, 3, &item), 1);
  EXPECT_EQ(x_player_setOsdString(player, 16, &item), 0);
  EXPECT_EQ(x_player_setOsdString(player, -1, &item), 0);
  show(encodeJpeg(black, W, H));
  const auto shown = pixels(W, H);
  int inside = 0, outside = 0, rightHalf = 0;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const uint8_t* p = &shown[(y * W + x) * 4];
      if (p[0] < 40 && p[1] < 40 && p[2] < 40) continue;
      const bool in = x >= 5 && x <= 636 && y >= 451 && y <= 476;
      (in ? inside : outside)++;
      if (in && x >= W / 2) rightHalf++;
    }
  EXPECT_GT(inside, 50);
  EXPECT_EQ(outside, 0);
  EXPECT_EQ(rightHalf, inside) << "position 13 is right-aligned";

  // Removed: the next picture has no text.
  ASSERT_EQ(x_player_removeOsdstring(player, 3), 1);
  EXPECT_EQ(x_player_removeOsdstring(player, 16), 0);
  show(encodeJpeg(black, W, H));
  const auto clean = pixels(W, H);
  for (size_t i = 0; i < clean.size(); i += 4) ASSERT_LT(clean[i + 2], 40) << i / 4;
}

TEST_F(JpegPlayer, RefreshRedrawsTheLastPictureUntilStopped) {
  constexpr int W = 64, H = 48;
  open(W, H);
  EXPECT_EQ(x_player_refreshLastPicture(player), 0);
  const auto jpeg = encodeJpeg(quadrants(W, H), W, H);
  show(jpeg);
  const auto first = pixels(W, H);
  std::vector<uint8_t> zero(first.size(), 0);
  // Paint over the window by showing another picture size, then refresh.
  ASSERT_EQ(tavolen_window_set_size(window, W, H), 1);
  EXPECT_EQ(x_player_refreshLastPicture(player), 1);
  EXPECT_TRUE(pixels(W, H) == first);
  EXPECT_EQ(x_player_stopPlay(player), 1);
  EXPECT_EQ(x_player_refreshLastPicture(player), 0);
  EXPECT_EQ(x_player_startPlay(player), 1);
  EXPECT_EQ(x_player_refreshLastPicture(player), 0);
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_F(JpegPlayer, SnapshotIsTheNextDisplayedJpegAsReceived) {
  constexpr int W = 32, H = 32;
  open(W, H);
  const std::string file = test::scratchDir() + "/jpeg_snapshot.jpg";
  std::vector<std::vector<uint8_t>> fed;
  std::atomic<int32_t> result{-1};
  std::thread taker([&] { result = x_player_capturePicture(player, file.c_str()); });
  for (int k = 0; result.load() < 0 && k < 100; ++k) {
    auto px = quadrants(W, H);
    px[0] = static_cast<uint8_t>(k);  // every picture's bytes differ
    fed.push_back(encodeJpeg(px, W, H));
    show(fed.back());
  }
  taker.join();
  ASSERT_EQ(result.load(), 1);
  const auto written = readFile(file);
  bool matches = false;
  for (const auto& j : fed) matches = matches || j == written;
  EXPECT_TRUE(matches) << "snapshot is not the payload of a displayed frame";

  // No picture within the wait: refused, and the request is withdrawn.
  EXPECT_EQ(x_player_capturePicture(player, file.c_str()), 0);
  EXPECT_EQ(x_player_capturePicture(player, file.c_str()), 0);
}

// An undecodable payload shows the empty bitmap and a 0 x 0 picture.
TEST_F(JpegPlayer, UndecodablePayloadGivesAnEmptyPicture) {
  constexpr int W = 32, H = 32;
  open(W, H);
  show(encodeJpeg(quadrants(W, H), W, H));
  EXPECT_EQ(counters(player).width, 32u);
  show(std::vector<uint8_t>(300, 0x42));
  const PlayerCounters c = counters(player);
  EXPECT_EQ(c.decodeErrors, 1u);
  EXPECT_EQ(c.width, 0u);
  const auto shown = pixels(W, H);
  for (uint8_t b : shown) ASSERT_EQ(b, 0);
}

}  // namespace
}  // namespace tavolen
