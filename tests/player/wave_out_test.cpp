// CWaveOut against the rig's sound server: what is queued is found, sample for
// sample, in a recording of the sink's monitor.
#include "player/wave_out.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "sound_rig.h"

namespace tavolen {
namespace {

using test::MonitorRecorder;

constexpr size_t kChunkSamples = CWaveOut::kBufferBytes / 2;

class WaveOutRig : public ::testing::Test {
 protected:
  void SetUp() override {
    TAVOLEN_REQUIRE_SOUND_RIG();
    // Earlier tests may have left the speakers turned down or muted.
    test::commandOutput("pactl set-sink-volume @DEFAULT_SINK@ 100%");
    test::commandOutput("pactl set-sink-mute @DEFAULT_SINK@ 0");
    ASSERT_TRUE(recorder_.started());
    // The recording is running before anything is played.
    ASSERT_TRUE(recorder_.waitFor(400, 5000));
  }

  void queueSamples(CWaveOut& out, const std::vector<int16_t>& pcm, size_t chunkSamples = kChunkSamples) {
    for (size_t at = 0; at < pcm.size(); at += chunkSamples) {
      const size_t n = std::min(chunkSamples, pcm.size() - at);
      out.queuePcm(static_cast<int32_t>(n * 2), pcm.data() + at);
    }
  }

  // Waits until the recording holds the whole of pcm; its index, or -1.
  long waitForPlayed(const std::vector<int16_t>& pcm, int ms = 8000) {
    long at = -1;
    test::eventually(
        [&] {
          const auto rec = recorder_.samples();
          at = test::findRun(rec, pcm.data(), 64);
          return at >= 0 && rec.size() >= static_cast<size_t>(at) + pcm.size();
        },
        ms);
    return at;
  }

  MonitorRecorder recorder_;
};

TEST_F(WaveOutRig, QueuedToneIsPlayedSampleExact) {
  CWaveOut out;
  const auto tone = test::glidingTone(8 * kChunkSamples);
  ASSERT_EQ(out.openOutput(), 1);
  queueSamples(out, tone);
  const long at = waitForPlayed(tone);
  ASSERT_GE(at, 0) << "tone not heard";
  const auto rec = recorder_.samples();
  const std::vector<int16_t> heard(rec.begin() + at, rec.begin() + at + static_cast<long>(tone.size()));
  EXPECT_EQ(heard, tone);
  // The ring opens on silence: nothing but zeros before the tone.
  for (long i = 0; i < at; ++i) ASSERT_EQ(rec[i], 0) << "at " << i;
  EXPECT_EQ(out.closeOutput(), 1);
}

TEST_F(WaveOutRig, SilenceFillsTheGapBetweenChunks) {
  CWaveOut out;
  const auto first = test::glidingTone(kChunkSamples, 7);
  // A chunk of A-law size: the buffer that carries it keeps that length for
  // the silence after it.
  const auto second = test::glidingTone(960, 8);
  ASSERT_EQ(out.openOutput(), 1);
  queueSamples(out, first);
  const long a = waitForPlayed(first);
  ASSERT_GE(a, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  queueSamples(out, second, 960);
  const long b = waitForPlayed(second);
  ASSERT_GE(b, 0);
  const auto rec = recorder_.samples();
  const long gapStart = a + static_cast<long>(first.size());
  ASSERT_GT(b, gapStart);
  for (long i = gapStart; i < b; ++i) ASSERT_EQ(rec[i], 0) << "at " << i;
  EXPECT_TRUE(std::equal(second.begin(), second.end(), rec.begin() + b));
  // Nothing is lost or repeated around the gap: the gap is whole buffers of
  // silence (2048 bytes each, as no other length was ever carried).
  EXPECT_EQ((b - gapStart) % static_cast<long>(kChunkSamples), 0) << b - gapStart;
}

TEST_F(WaveOutRig, OpeningTwiceOpensOneStream) {
  CWaveOut out;
  ASSERT_EQ(out.openOutput(), 1);
  EXPECT_EQ(out.openOutput(), 1);
  EXPECT_TRUE(test::eventually([] { return test::sinkInputCount() == 1; })) << test::sinkInputCount();
  EXPECT_EQ(out.closeOutput(), 1);
  EXPECT_TRUE(test::eventually([] { return test::sinkInputCount() == 0; }));
  EXPECT_EQ(out.closeOutput(), 1);  // already closed
  // And it opens again after a close.
  ASSERT_EQ(out.openOutput(), 1);
  const auto tone = test::glidingTone(2 * kChunkSamples, 3);
  queueSamples(out, tone);
  EXPECT_GE(waitForPlayed(tone), 0);
}

TEST_F(WaveOutRig, FullQueueDropsTheOldestChunk) {
  CWaveOut out;
  const size_t extra = 3;
  std::vector<std::vector<int16_t>> chunks;
  for (size_t i = 0; i < CWaveOut::kMaxQueuedChunks + extra; ++i) {
    chunks.push_back(test::glidingTone(kChunkSamples, static_cast<uint32_t>(100 + i)));
    out.queuePcm(CWaveOut::kBufferBytes, chunks.back().data());
  }
  EXPECT_EQ(out.queuedChunks(), CWaveOut::kMaxQueuedChunks);
  EXPECT_EQ(out.droppedChunks(), extra);
  ASSERT_EQ(out.openOutput(), 1);
  // The first chunk heard is the oldest one kept, right after the ring's
  // opening silence.
  const long at = waitForPlayed(chunks[extra]);
  ASSERT_GE(at, 0);
  const auto rec = recorder_.samples();
  for (long i = 0; i < at; ++i) ASSERT_EQ(rec[i], 0) << "at " << i;
  out.closeOutput();
  EXPECT_EQ(out.queuedChunks(), 0u);
}

// A producer keeps queuing (as a player's audio thread does) while the output
// is opened and closed under it: nothing is refilled after a close, and the
// queue never holds more than its bound.
TEST_F(WaveOutRig, ChunksArriveWhileOpeningAndClosing) {
  CWaveOut out;
  std::atomic<bool> stop{false};
  std::thread producer([&] {
    const auto tone = test::glidingTone(kChunkSamples, 21);
    while (!stop) {
      out.queuePcm(CWaveOut::kBufferBytes, tone.data());
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(out.openOutput(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_LE(out.queuedChunks(), CWaveOut::kMaxQueuedChunks);
    EXPECT_EQ(out.closeOutput(), 1);
  }
  stop = true;
  producer.join();
  EXPECT_TRUE(test::eventually([] { return test::sinkInputCount() == 0; }));
}

TEST(WaveOutQueue, IgnoresChunksOutsideTheBounds) {
  struct Case {
    int32_t bytes;
    bool withData;
    bool queued;
  };
  const Case cases[] = {
      {0, true, false},    {-2, true, false},   {2049, true, false}, {2050, true, false},
      {3, true, false},    {2048, false, false}, {2048, true, true},  {2, true, true},
      {1920, true, true},
  };
  std::vector<int16_t> pcm(2048, 5);
  for (const auto& c : cases) {
    CWaveOut out;  // never opened: queuing needs no device
    out.queuePcm(c.bytes, c.withData ? pcm.data() : nullptr);
    EXPECT_EQ(out.queuedChunks(), c.queued ? 1u : 0u) << c.bytes << " bytes";
  }
}

}  // namespace
}  // namespace tavolen
