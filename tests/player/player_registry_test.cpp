#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "player/frames.h"
#include "player/pacing_timer.h"
#include "tavolen/player.h"

namespace tavolen {
namespace {

using test::len;
using test::makeFrame;

TEST(PlayerRegistry, OnlyKindsZeroAndOneAreCreated) {
  for (int32_t kind : {2, -1, 100}) EXPECT_EQ(x_player_createPlayInstance(kind), nullptr) << kind;
  for (int32_t kind : {0, 1}) {
    PlayerHandle p = x_player_createPlayInstance(kind);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(x_player_getPlayWnd(p), 0);
    EXPECT_EQ(x_player_getrecordstatus(p), 0);
    EXPECT_EQ(x_player_destroyPlayInstance(p), 1);
  }
  EXPECT_EQ(x_player_initPlayLib(), 1);
  EXPECT_EQ(x_player_uninitPlayLib(), 1);
}

// Every forwarding call on a null or unlisted handle is refused with 0.
TEST(PlayerRegistry, NullAndDestroyedHandlesAreRefused) {
  PlayerHandle gone = x_player_createPlayInstance(0);
  ASSERT_EQ(x_player_destroyPlayInstance(gone), 1);
  int foreignObject = 0;
  for (PlayerHandle h : {PlayerHandle{nullptr}, gone, PlayerHandle{&foreignObject}}) {
    const auto f = makeFrame(FRAME_H264_KEY, 10);
    int32_t w = 7, ht = 7;
    PlayerCounters c{};
    OsdItem item{};
    RecordStartParams params{};
    EXPECT_EQ(x_player_startPlay(h), 0);
    EXPECT_EQ(x_player_stopPlay(h), 0);
    EXPECT_EQ(x_player_inputNetFrame(h, f.data(), len(f)), 0);
    EXPECT_EQ(x_player_getListFrameNum(h), 0);
    EXPECT_EQ(x_player_setPlayWnd(h, &foreignObject), 0);
    EXPECT_EQ(x_player_getPlayWnd(h), 0);
    EXPECT_EQ(x_player_refreshLastPicture(h), 0);
    EXPECT_EQ(x_player_openSound(h), 0);
    EXPECT_EQ(x_player_closeSound(h), 0);
    EXPECT_EQ(x_player_setOsdString(h, 0, &item), 0);
    EXPECT_EQ(x_player_removeOsdstring(h, 0), 0);
    EXPECT_EQ(x_player_capturePicture(h, "/nonexistent/x.bmp"), 0);
    EXPECT_EQ(x_player_capturePictureBuf(h, nullptr), 0);
    EXPECT_EQ(x_player_getPlayPicSize(h, &w, &ht), 0);
    EXPECT_EQ(w, 7);
    EXPECT_EQ(x_player_adjustViewArea(h, 1, 2, 3, 4), 0);
    EXPECT_EQ(x_player_setRenderEffect(h, 1), 0);
    EXPECT_EQ(x_player_renderActualProportion(h, 1), 0);
    EXPECT_EQ(x_player_startlocalrecord(h, params), 0);
    EXPECT_EQ(x_player_stoplocalrecord(h), 0);
    EXPECT_EQ(x_player_getrecordstatus(h), 0);
    EXPECT_EQ(x_player_getCounters(h, &c), 0);
  }
  EXPECT_EQ(x_player_destroyPlayInstance(nullptr), 0);
  // Not ours: left alone.
  EXPECT_EQ(x_player_destroyPlayInstance(&foreignObject), 0);
}

// What a player kind does not provide answers 0 through the C interface too.
TEST(PlayerRegistry, JpegPlayerLacksTheRendererOperations) {
  PlayerHandle p = x_player_createPlayInstance(1);
  int32_t w = 0, h = 0;
  uint8_t buf[64];
  EXPECT_EQ(x_player_startPlay(p), 1);
  EXPECT_EQ(x_player_getListFrameNum(p), 0);
  EXPECT_EQ(x_player_capturePictureBuf(p, buf), 0);
  EXPECT_EQ(x_player_getPlayPicSize(p, &w, &h), 0);
  EXPECT_EQ(x_player_adjustViewArea(p, 0, 0, 0, 0), 0);
  EXPECT_EQ(x_player_renderActualProportion(p, 1), 0);
  EXPECT_EQ(x_player_setRenderEffect(p, 3), 1);
  EXPECT_EQ(x_player_setPlayWnd(p, nullptr), 1);  // any value is stored
  x_player_destroyPlayInstance(p);
}

TEST(PlayerRegistry, TwoPlayersAreIndependent) {
  holdPacingTimers(true);
  PlayerHandle a = x_player_createPlayInstance(0);
  PlayerHandle b = x_player_createPlayInstance(0);
  ASSERT_NE(a, b);
  ASSERT_EQ(x_player_startPlay(a), 1);
  ASSERT_EQ(x_player_startPlay(b), 1);
  const auto f = makeFrame(FRAME_H264_DELTA, 10);
  for (int i = 0; i < 3; ++i) x_player_inputNetFrame(a, f.data(), len(f));
  x_player_inputNetFrame(b, f.data(), len(f));
  EXPECT_EQ(x_player_getListFrameNum(a), 3);
  EXPECT_EQ(x_player_getListFrameNum(b), 1);
  EXPECT_EQ(x_player_destroyPlayInstance(a), 1);
  EXPECT_EQ(x_player_getListFrameNum(a), 0);
  EXPECT_EQ(x_player_inputNetFrame(b, f.data(), len(f)), 1);
  EXPECT_EQ(x_player_getListFrameNum(b), 2);
  EXPECT_EQ(x_player_destroyPlayInstance(b), 1);
  holdPacingTimers(false);
}

TEST(PlayerRegistry, DestroyStopsSoundAndPlayback) {
  const int timers = runningPacingTimers();
  for (int kind : {0, 1}) {
    PlayerHandle p = x_player_createPlayInstance(kind);
    ASSERT_EQ(x_player_startPlay(p), 1);
    x_player_openSound(p);
    EXPECT_EQ(runningPacingTimers(), timers + 1);
    EXPECT_EQ(x_player_destroyPlayInstance(p), 1);
    EXPECT_EQ(runningPacingTimers(), timers);
  }
}

// Calls racing a destroy either run on a live player or are refused; the
// sanitizer builds turn any use after the delete into a failure.
TEST(PlayerRegistry, CallsRacingADestroyNeverTouchAFreedPlayer) {
  for (int round = 0; round < 20; ++round) {
    PlayerHandle p = x_player_createPlayInstance(round % 2);
    ASSERT_EQ(x_player_startPlay(p), 1);
    std::atomic<bool> go{false};
    std::atomic<int> refused{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 3; ++t) {
      callers.emplace_back([&, t] {
        const auto f = makeFrame(t == 0 ? FRAME_H264_KEY : FRAME_JPEG, 200);
        while (!go.load()) std::this_thread::yield();
        for (int i = 0; i < 200; ++i) {
          PlayerCounters c;
          const int32_t r = t == 2 ? x_player_getCounters(p, &c) : x_player_inputNetFrame(p, f.data(), len(f));
          if (r == 0) {
            refused.fetch_add(1);
            break;
          }
        }
      });
    }
    go.store(true);
    EXPECT_EQ(x_player_destroyPlayInstance(p), 1);
    for (auto& c : callers) c.join();
    EXPECT_EQ(x_player_startPlay(p), 0);
  }
}

}  // namespace
}  // namespace tavolen
