// The H.264 player on real H.264 into an off-screen window of the picture's
// size, ticked by hand: what it shows is compared with ffmpeg's own decode of
// the same access units, converted by the colour formulas.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "player/frames.h"
#include "player/h264_fixture.h"
#include "player/pacing_timer.h"
#include "player/player_test_util.h"
#include "tavolen/player.h"
#include "tavolen/window.h"

namespace tavolen {
namespace {

using test::counters;
using test::expectedBmp;
using test::len;
using test::makeFrame;
using test::waitUntil;

constexpr int kW = 320;
constexpr int kH = 240;

struct Stream {
  test::H264Stream s;
  std::vector<std::vector<uint8_t>> pictures;
  static const Stream& get() {
    static Stream st = [] {
      Stream x;
      x.s = test::encodeTestStream(kW, kH, 12, 6);
      x.pictures = test::referenceDecode(x.s.units, kW, kH);
      return x;
    }();
    return st;
  }
};

class H264Player : public ::testing::Test {
 protected:
  void SetUp() override {
    holdPacingTimers(true);
    window = tavolen_window_create_offscreen(kW, kH);
    ASSERT_NE(window, nullptr);
    player = x_player_createPlayInstance(0);
    ASSERT_EQ(x_player_setPlayWnd(player, window), 1);
    ASSERT_EQ(x_player_startPlay(player), 1);
    const Stream& st = Stream::get();
    ASSERT_EQ(st.pictures.size(), st.s.units.size());
    ASSERT_TRUE(st.s.key[0] && !st.s.key[1] && !st.s.key[2] && !st.s.key[3]);
  }
  void TearDown() override {
    x_player_destroyPlayInstance(player);
    tavolen_window_destroy(window);
    holdPacingTimers(false);
  }

  void feedUnit(size_t i, uint32_t timestamp = 1000000000) {
    const auto& u = Stream::get().s.units[i];
    const auto f = makeFrame(Stream::get().s.key[i] ? FRAME_H264_KEY : FRAME_H264_DELTA, u,
                             timestamp);
    ASSERT_EQ(x_player_inputNetFrame(player, f.data(), len(f)), 1);
  }
  // One tick, then wait until the decode thread has dealt with it.
  void tickUntilDecoded(uint32_t decoded) {
    firePacingTimersNow();
    ASSERT_TRUE(waitUntil([&] {
      const PlayerCounters c = counters(player);
      return c.picturesDecoded + c.decodeErrors >= decoded;
    }));
  }
  // A snapshot of the next presented picture, presented by refreshes.
  std::vector<uint8_t> snapshot() {
    std::vector<uint8_t> buf(54 + kW * kH * 4, 0xAB);
    std::atomic<int32_t> result{-1};
    std::thread taker([&] { result = x_player_capturePictureBuf(player, buf.data()); });
    while (result.load() < 0) {
      x_player_refreshLastPicture(player);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    taker.join();
    EXPECT_EQ(result.load(), 1);
    return buf;
  }

  TavolenWindow* window = nullptr;
  PlayerHandle player = nullptr;
};

TEST_F(H264Player, DeltasBeforeTheFirstKeyAreDiscardedAndTheKeyIsShown) {
  int32_t w = -1, h = -1;
  EXPECT_EQ(x_player_getPlayPicSize(player, &w, &h), 1);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(x_player_refreshLastPicture(player), 0);

  for (size_t i : {1, 2, 3}) feedUnit(i);
  feedUnit(0);
  EXPECT_EQ(x_player_getListFrameNum(player), 4);
  tickUntilDecoded(1);
  // The decode thread counts the picture before it hands it to the window.
  ASSERT_TRUE(waitUntil([&] { return counters(player).picturesPresented >= 1; }));
  PlayerCounters c = counters(player);
  EXPECT_EQ(c.picturesDecoded, 1u);
  EXPECT_EQ(c.decodeErrors, 0u);
  EXPECT_EQ(c.droppedUnusable, 3u);
  EXPECT_EQ(c.picturesPresented, 1u);
  EXPECT_EQ(x_player_getListFrameNum(player), 0);
  EXPECT_EQ(x_player_getPlayPicSize(player, &w, &h), 1);
  EXPECT_EQ(w, kW);
  EXPECT_EQ(h, kH);

  const auto expected0 = expectedBmp(Stream::get().pictures[0], kW, kH);
  EXPECT_TRUE(snapshot() == expected0) << "snapshot differs from ffmpeg's picture 0";

  // The window shows the same pixels (no text set, no mirror).
  std::vector<uint8_t> shown(kW * kH * 4);
  ASSERT_EQ(tavolen_window_read_pixels(window, shown.data(), len(shown)), len(shown));
  EXPECT_TRUE(std::equal(shown.begin(), shown.begin() + kW * 4,
                         expected0.end() - kW * 4));  // top row = last BMP row

  // The following deltas decode in order, each its own picture.
  for (size_t i = 1; i < 4; ++i) {
    feedUnit(i);
    tickUntilDecoded(static_cast<uint32_t>(i + 1));
  }
  EXPECT_TRUE(snapshot() == expectedBmp(Stream::get().pictures[3], kW, kH));

  EXPECT_EQ(x_player_refreshLastPicture(player), 1);
  EXPECT_EQ(x_player_stopPlay(player), 1);
  EXPECT_EQ(x_player_refreshLastPicture(player), 0);
  EXPECT_EQ(x_player_getPlayPicSize(player, &w, &h), 0);
}

// A damaged unit shows nothing and keeps the previous picture.
TEST_F(H264Player, RejectedUnitKeepsTheLastPicture) {
  feedUnit(0);
  tickUntilDecoded(1);
  const auto& u = Stream::get().s.units[1];
  std::vector<uint8_t> damaged(u.begin(), u.begin() + 40);
  damaged.resize(u.size(), 0xFF);
  const auto f = makeFrame(FRAME_H264_DELTA, damaged);
  ASSERT_EQ(x_player_inputNetFrame(player, f.data(), len(f)), 1);
  tickUntilDecoded(2);
  const PlayerCounters c = counters(player);
  EXPECT_EQ(c.picturesDecoded, 1u);
  EXPECT_EQ(c.decodeErrors, 1u);
  EXPECT_TRUE(snapshot() == expectedBmp(Stream::get().pictures[0], kW, kH));
}

TEST_F(H264Player, JpegFrameTakesAPlaceAndIsFreedUndecoded) {
  const auto jpeg = makeFrame(FRAME_JPEG, 500, 0xD8);
  ASSERT_EQ(x_player_inputNetFrame(player, jpeg.data(), len(jpeg)), 1);
  EXPECT_EQ(x_player_getListFrameNum(player), 1);
  firePacingTimersNow();
  ASSERT_TRUE(waitUntil([&] { return counters(player).droppedUnusable == 1; }));
  const PlayerCounters c = counters(player);
  EXPECT_EQ(c.picturesDecoded, 0u);
  EXPECT_EQ(c.decodeErrors, 0u);
  EXPECT_EQ(x_player_getListFrameNum(player), 0);
}

// Snapshots are refused while stopped, and give up after their wait when no
// picture comes: the file form still reports 1, the buffer form 0.
TEST_F(H264Player, SnapshotResults) {
  std::vector<uint8_t> buf(54 + kW * kH * 4);
  EXPECT_EQ(x_player_capturePictureBuf(player, buf.data()), 0);
  const std::string file = test::scratchDir() + "/never.bmp";
  EXPECT_EQ(x_player_capturePicture(player, file.c_str()), 1);
  x_player_stopPlay(player);
  EXPECT_EQ(x_player_capturePicture(player, file.c_str()), 0);
  EXPECT_EQ(x_player_capturePictureBuf(player, buf.data()), 0);
}

}  // namespace
}  // namespace tavolen
