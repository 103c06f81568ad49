// Real H.264 from the substitute camera through a camera link into an H.264
// player and an off-screen window of the picture's size: the snapshot of each
// shown picture is, byte for byte, the colour conversion of ffmpeg's decode of
// the same access unit.

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <thread>

#include "camsim.h"
#include "player/frames.h"
#include "media/media_frame.h"
#include "player/h264_fixture.h"
#include "player/pacing_timer.h"
#include "player/player_test_util.h"
#include "tavolen/tavolen.h"

namespace tavolen {
namespace {

using test::counters;
using test::expectedBmp;
using test::waitUntil;

constexpr int kW = 320;
constexpr int kH = 240;

// Which units of the file the link delivered, in order.
struct Delivery {
  PlayerHandle player = nullptr;
  const test::H264Stream* stream = nullptr;
  std::mutex lock;
  std::vector<int> units;  // index into the file's units, -1 when unknown

  static int32_t onFrame(const uint8_t* frame, int32_t length, void* user) {
    auto* d = static_cast<Delivery*>(user);
    const FrameHeader h = parseFrameHeader(frame);
    if (h.frameType == FRAME_H264_KEY || h.frameType == FRAME_H264_DELTA) {
      int index = -1;
      for (size_t i = 0; i < d->stream->units.size(); ++i) {
        const auto& u = d->stream->units[i];
        if (u.size() == h.payloadLength && std::memcmp(u.data(), frame + 32, u.size()) == 0)
          index = static_cast<int>(i);
      }
      std::lock_guard g(d->lock);
      d->units.push_back(index);
    }
    x_player_inputNetFrame(d->player, frame, length);
    return 1;
  }
};

TEST(LiveView, CamsimPicturesArriveBitExact) {
  // Distinct pictures: a unit index is found from its bytes.
  const test::H264Stream stream = test::encodeTestStream(kW, kH, 20, 20);
  ASSERT_EQ(stream.units.size(), 20u);
  const auto reference = test::referenceDecode(stream.units, kW, kH);
  ASSERT_EQ(reference.size(), 20u);
  const std::string file = test::scratchDir() + "/live_view.h264";
  {
    std::ofstream f(file, std::ios::binary);
    for (const auto& u : stream.units) f.write(reinterpret_cast<const char*>(u.data()), u.size());
  }
  camsim::Config config;
  config.profiles = {{1, kW, kH, 25, true, 0}};
  config.videoFile = file;
  camsim::Server camera(config);
  ASSERT_TRUE(camera.start());

  holdPacingTimers(true);
  TavolenWindow* window = tavolen_window_create_offscreen(kW, kH);
  PlayerHandle player = x_player_createPlayInstance(0);
  ASSERT_EQ(x_player_setPlayWnd(player, window), 1);
  ASSERT_EQ(x_player_startPlay(player), 1);
  Delivery delivery;
  delivery.player = player;
  delivery.stream = &stream;

  DeviceConnectParams params;
  std::memset(&params, 0, sizeof params);
  std::snprintf(params.user, sizeof params.user, "admin");
  std::snprintf(params.host, sizeof params.host, "127.0.0.1");
  params.port = camera.port();
  DeviceHandle link = device_net_work_createInstance(params);
  ASSERT_NE(link, nullptr);
  ASSERT_EQ(device_net_work_startStream(link, 1, &Delivery::onFrame, &delivery), 1);

  // With the timer held the queue fills to its limit and stays there.
  ASSERT_TRUE(waitUntil([&] { return x_player_getListFrameNum(player) == 10; }, 10000));
  std::vector<int> queued;
  {
    std::lock_guard g(delivery.lock);
    queued.assign(delivery.units.begin(), delivery.units.begin() + 10);
  }
  for (int u : queued) ASSERT_GE(u, 0) << "the link delivered a unit that is not in the file";
  // Deltas arriving at a full queue are dropped; the queue keeps its ten.
  ASSERT_TRUE(waitUntil([&] {
    std::lock_guard g(delivery.lock);
    return delivery.units.size() >= 12;
  }));
  EXPECT_GT(counters(player).droppedOverflow, 0u);
  EXPECT_EQ(x_player_getListFrameNum(player), 10);
  // Units before the first key in the queue are discarded unread.
  size_t firstKey = 0;
  while (firstKey < queued.size() && !stream.key[queued[firstKey]]) ++firstKey;
  ASSERT_LT(firstKey + 3, queued.size());

  for (size_t k = firstKey; k < firstKey + 3; ++k) {
    const uint32_t before = counters(player).picturesPresented;
    firePacingTimersNow();
    ASSERT_TRUE(waitUntil([&] { return counters(player).picturesPresented > before; }));
    std::vector<uint8_t> snap(54 + kW * kH * 4);
    std::atomic<int32_t> result{-1};
    std::thread taker([&] { result = x_player_capturePictureBuf(player, snap.data()); });
    while (result.load() < 0) {
      x_player_refreshLastPicture(player);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    taker.join();
    ASSERT_EQ(result.load(), 1);
    EXPECT_TRUE(snap == expectedBmp(reference[queued[k]], kW, kH))
        << "picture of unit " << queued[k] << " differs";
  }
  const PlayerCounters c = counters(player);
  EXPECT_EQ(c.droppedUnusable, firstKey);
  EXPECT_EQ(c.decodeErrors, 0u);

  device_net_work_stopStream(link);
  device_net_work_destroyInstance(link);
  EXPECT_EQ(x_player_destroyPlayInstance(player), 1);
  tavolen_window_destroy(window);
  holdPacingTimers(false);
}

}  // namespace
}  // namespace tavolen
