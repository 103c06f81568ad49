// Talk capture against the rig's sound server: a known signal is fed into the
// microphone, and every block handed to the talk callback is checked against
// our own encoding of what was captured and against the signal itself.
#include "audio/wave_in.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

#include "media/adpcm_codec.h"
#include "sound_rig.h"
#include "support/manual_clock.h"
#include "tavolen/player.h"

namespace tavolen {
namespace {

constexpr size_t kBlockSamples = CWaveIn::kBufferBytes / 2;

// Keeps what the capture thread saw, next to what the callback got.
struct Capture {
  std::mutex lock;
  std::vector<std::vector<int16_t>> samples;  // per OnWaveData
  std::vector<std::vector<uint8_t>> blocks;   // per callback
  std::atomic<int> callbacks{0};

  size_t blockCount() {
    std::lock_guard<std::mutex> guard(lock);
    return blocks.size();
  }

  static int32_t onTalk(const uint8_t* data, int32_t length, void* user) {
    auto* self = static_cast<Capture*>(user);
    std::lock_guard<std::mutex> guard(self->lock);
    self->blocks.emplace_back(data, data + length);
    ++self->callbacks;
    return 0;
  }
};

class RecordingWaveIn : public CWaveIn {
 public:
  explicit RecordingWaveIn(Capture& capture) : capture_(capture) {}
  void OnWaveData(const int16_t* samples, int32_t byteCount) override {
    {
      std::lock_guard<std::mutex> guard(capture_.lock);
      capture_.samples.emplace_back(samples, samples + byteCount / 2);
    }
    CWaveIn::OnWaveData(samples, byteCount);
  }

 private:
  Capture& capture_;
};

class WaveInRig : public ::testing::Test {
 protected:
  void SetUp() override {
    TAVOLEN_REQUIRE_SOUND_RIG();
    test::commandOutput("pactl set-source-volume @DEFAULT_SOURCE@ 100%");
    test::commandOutput("pactl set-source-mute @DEFAULT_SOURCE@ 0");
  }
};

TEST_F(WaveInRig, BlocksAreOurEncodingOfTheCapturedSignal) {
  const auto signal = test::glidingTone(40 * kBlockSamples, 11);
  Capture capture;
  RecordingWaveIn talk(capture);
  test::MicFeeder feeder(signal);
  ASSERT_TRUE(feeder.started());
  ASSERT_EQ(talk.startDualTalk(&Capture::onTalk, &capture), 1);
  ASSERT_TRUE(test::eventually([&] { return capture.blockCount() >= 12; }, 8000)) << capture.blockCount();
  EXPECT_EQ(talk.stopDualTalk(), 1);
  feeder.stop();

  std::lock_guard<std::mutex> guard(capture.lock);
  ASSERT_EQ(capture.blocks.size(), capture.samples.size());
  // The capture may start anywhere in the signal (and on silence before it);
  // from the first block that holds signal, blocks follow it without a gap.
  std::vector<int16_t> captured;
  for (const auto& s : capture.samples) captured.insert(captured.end(), s.begin(), s.end());
  long offset = -1;
  size_t firstBlock = 0;
  for (; firstBlock < capture.samples.size() && offset < 0; ++firstBlock) {
    const auto& s = capture.samples[firstBlock];
    auto it = std::search(signal.begin(), signal.end(), s.begin(), s.begin() + 32);
    if (it != signal.end()) offset = static_cast<long>(it - signal.begin());
  }
  ASSERT_GE(offset, 0) << "the fed signal was not captured";
  --firstBlock;

  AdpcmState state;
  for (size_t b = 0; b < capture.blocks.size(); ++b) {
    const auto& block = capture.blocks[b];
    const auto& pcm = capture.samples[b];
    ASSERT_EQ(block.size(), static_cast<size_t>(CWaveIn::kBlockBytes)) << "block " << b;
    ASSERT_EQ(pcm.size(), kBlockSamples);
    std::vector<uint8_t> expected(CWaveIn::kBlockBytes);
    adpcmEncode(state, pcm.data(), CWaveIn::kBufferBytes, expected.data());
    EXPECT_EQ(block, expected) << "block " << b;
    if (b < firstBlock) continue;
    const size_t at = static_cast<size_t>(offset) + (b - firstBlock) * kBlockSamples;
    if (at + kBlockSamples > signal.size()) break;
    ASSERT_TRUE(std::equal(pcm.begin(), pcm.end(), signal.begin() + static_cast<long>(at)))
        << "block " << b << " is not the next stretch of the signal";
    // Decoded on its own, the block is close to what was spoken into it.
    std::vector<int16_t> back(kBlockSamples);
    adpcmDecode(state, block.data(), CWaveIn::kBlockBytes, back.data());
    double err = 0, sig = 0;
    for (size_t i = 32; i < kBlockSamples; ++i) {
      err += std::pow(back[i] - signal[at + i], 2);
      sig += std::pow(signal[at + i], 2);
    }
    EXPECT_GT(10 * std::log10(sig / err), 15.0) << "block " << b;
  }
}

TEST_F(WaveInRig, StartTwiceOpensOnceAndStopEndsEverything) {
  Capture capture;
  CWaveIn talk;
  test::MicFeeder feeder(test::glidingTone(60 * kBlockSamples, 12));
  ASSERT_EQ(talk.startDualTalk(&Capture::onTalk, &capture), 1);
  EXPECT_EQ(talk.startDualTalk(&Capture::onTalk, &capture), 1);
  EXPECT_TRUE(talk.capturing());
  EXPECT_TRUE(test::eventually([] { return test::sourceOutputCount() == 1; })) << test::sourceOutputCount();
  ASSERT_TRUE(test::eventually([&] { return capture.blockCount() >= 3; }, 5000));

  EXPECT_EQ(talk.stopDualTalk(), 1);
  EXPECT_FALSE(talk.capturing());
  EXPECT_FALSE(talk.threadRunning());
  const int after = capture.callbacks.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(capture.callbacks.load(), after) << "callbacks after stop";
  EXPECT_TRUE(test::eventually([] { return test::sourceOutputCount() == 0; }));

  // It starts again after a stop.
  EXPECT_EQ(talk.startDualTalk(&Capture::onTalk, &capture), 1);
  EXPECT_TRUE(test::eventually([&] { return capture.callbacks.load() >= after + 3; }, 5000));
  EXPECT_EQ(talk.stopDualTalk(), 1);
  EXPECT_EQ(talk.stopDualTalk(), 1);  // stopping a stopped capture is harmless
}

TEST_F(WaveInRig, NullCallbackOpensNothing) {
  CWaveIn talk;
  EXPECT_EQ(talk.startDualTalk(nullptr, nullptr), 0);
  EXPECT_FALSE(talk.threadRunning());
  EXPECT_EQ(test::sourceOutputCount(), 0);
}

// A callback that does not return in time: stop gives up on the thread after
// half a second of its clock instead of hanging or killing it, and the thread
// leaves the device and buffers alone when the callback finally returns.
TEST_F(WaveInRig, StuckCallbackIsAbandonedNotKilled) {
  struct Stuck {
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
    std::atomic<int> calls{0};
    static int32_t onTalk(const uint8_t*, int32_t, void* user) {
      auto* self = static_cast<Stuck*>(user);
      ++self->calls;
      self->entered = true;
      while (!self->release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      return 0;
    }
  } stuck;
  test::MicFeeder feeder(test::glidingTone(40 * kBlockSamples, 13));
  test::ManualClock clock;
  auto talk = std::make_unique<CWaveIn>();
  ASSERT_EQ(talk->startDualTalk(&Stuck::onTalk, &stuck), 1);
  ASSERT_TRUE(test::eventually([&] { return stuck.entered.load(); }, 5000));

  // One sleeper: the stop's wait for the capture thread.
  EXPECT_EQ(clock.callThroughLimit(CWaveIn::kThreadStopWaitMs, 1, [&] { return talk->stopDualTalk(); }), 1);
  EXPECT_FALSE(talk->threadRunning());
  EXPECT_TRUE(test::eventually([] { return test::sourceOutputCount() == 0; }));

  // While the old thread is still stuck, a new start cannot take the buffers:
  // it gives the old thread its half second, then fails.
  EXPECT_EQ(clock.callThroughLimit(CWaveIn::kThreadStopWaitMs, 1,
                                   [&] { return talk->startDualTalk(&Stuck::onTalk, &stuck); }),
            0);

  stuck.release = true;
  talk.reset();  // waits for the abandoned thread
  EXPECT_EQ(stuck.calls.load(), 1);
}

TEST_F(WaveInRig, ExportsDriveOneInstance) {
  Capture capture;
  test::MicFeeder feeder(test::glidingTone(40 * kBlockSamples, 14));
  DualtalkHandle h = x_player_createDualtalkInstance();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(x_player_StopDualTalk(h), 1);  // never started
  EXPECT_EQ(x_player_StartDualTalk(h, &Capture::onTalk, &capture), 1);
  EXPECT_EQ(x_player_StartDualTalk(h, &Capture::onTalk, &capture), 1);
  EXPECT_TRUE(test::eventually([&] { return capture.blockCount() >= 2; }, 5000));
  EXPECT_EQ(x_player_StopDualTalk(h), 1);
  EXPECT_EQ(x_player_destroyDualtalkInstance(h), 1);
  // The handle is gone: refused, not followed.
  EXPECT_EQ(x_player_StopDualTalk(h), 0);
  EXPECT_EQ(x_player_StartDualTalk(h, &Capture::onTalk, &capture), 0);
  EXPECT_EQ(x_player_destroyDualtalkInstance(h), 0);
}

TEST(DualtalkExports, NullHandles) {
  EXPECT_EQ(x_player_destroyDualtalkInstance(nullptr), 0);
  EXPECT_EQ(x_player_StartDualTalk(nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(x_player_StopDualTalk(nullptr), 0);
}

TEST(DualtalkExports, DestroyingARunningCaptureStopsItFirst) {
  TAVOLEN_REQUIRE_SOUND_RIG();
  Capture capture;
  test::MicFeeder feeder(test::glidingTone(40 * kBlockSamples, 15));
  DualtalkHandle h = x_player_createDualtalkInstance();
  ASSERT_EQ(x_player_StartDualTalk(h, &Capture::onTalk, &capture), 1);
  ASSERT_TRUE(test::eventually([&] { return capture.blockCount() >= 1; }, 5000));
  EXPECT_EQ(x_player_destroyDualtalkInstance(h), 1);
  const int after = capture.callbacks.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(capture.callbacks.load(), after);
  EXPECT_TRUE(test::eventually([] { return test::sourceOutputCount() == 0; }));
}

}  // namespace
}  // namespace tavolen
