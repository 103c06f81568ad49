// Frame input and queue limits with the pacing timer held, so that nothing is
// taken from a queue while a case runs.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "player/frames.h"
#include "player/pacing_timer.h"
#include "tavolen/player.h"

namespace tavolen {
namespace {

using test::len;
using test::makeFrame;

class HeldTimer : public ::testing::Test {
 protected:
  void SetUp() override { holdPacingTimers(true); }
  void TearDown() override { holdPacingTimers(false); }
};

PlayerCounters countersOf(PlayerHandle p) {
  PlayerCounters c{};
  EXPECT_EQ(x_player_getCounters(p, &c), 1);
  return c;
}

// A step string: K key, D delta, J JPEG, A alarm-coded frame.
void feed(PlayerHandle p, const std::string& steps) {
  for (char s : steps) {
    const uint8_t type = s == 'K' ? FRAME_H264_KEY : s == 'D' ? FRAME_H264_DELTA
                       : s == 'J' ? FRAME_JPEG : FRAME_SOUND_ALARM;
    const auto f = makeFrame(type, 64, static_cast<uint8_t>(s));
    ASSERT_EQ(x_player_inputNetFrame(p, f.data(), len(f)), 1) << s;
  }
}

std::string rep(const std::string& s, int n) {
  std::string r;
  while (n-- > 0) r += s;
  return r;
}

struct QueueCase {
  const char* name;
  int kind;
  std::string steps;
  int32_t queued;           // getListFrameNum (H.264) / queueDepth (both)
  uint32_t droppedOverflow;
  uint32_t droppedFlushed;
};

class QueueRules : public HeldTimer, public ::testing::WithParamInterface<QueueCase> {};

TEST_P(QueueRules, QueueHoldsWhatTheRulesLeave) {
  const QueueCase& c = GetParam();
  PlayerHandle p = x_player_createPlayInstance(c.kind);
  ASSERT_NE(p, nullptr);
  ASSERT_EQ(x_player_startPlay(p), 1);
  feed(p, c.steps);
  const PlayerCounters k = countersOf(p);
  EXPECT_EQ(static_cast<int32_t>(k.queueDepth), c.queued);
  EXPECT_EQ(x_player_getListFrameNum(p), c.kind == 0 ? c.queued : 0);
  EXPECT_EQ(k.droppedOverflow, c.droppedOverflow);
  EXPECT_EQ(k.droppedFlushed, c.droppedFlushed);
  EXPECT_EQ(k.framesIn, c.steps.size());
  EXPECT_EQ(x_player_destroyPlayInstance(p), 1);
}

const std::string ten = rep("D", 10);

INSTANTIATE_TEST_SUITE_P(
    Cases, QueueRules,
    ::testing::Values(
        QueueCase{"TenFramesFit", 0, ten, 10, 0, 0},
        // The 11th frame, a delta, enters drop mode and is dropped, as is every
        // later delta.
        QueueCase{"DeltaAtTenEntersDropMode", 0, ten + "DDD", 10, 3, 0},
        // A key frame at ten replaces the whole queue.
        QueueCase{"KeyAtTenReplacesTheQueue", 0, ten + "K", 1, 0, 10},
        // In drop mode a key frame is appended behind the queued frames and
        // ends drop mode; the next delta at 11 enters it again.
        QueueCase{"KeyEndsDropMode", 0, ten + "DKD", 11, 2, 0},
        QueueCase{"DeltaAfterDropModeEndsIsDroppedAgain", 0, ten + "DKDD", 11, 3, 0},
        // Keys in drop mode are taken only below 20.
        QueueCase{"DropModeKeyRefusedAtTwenty", 0, ten + rep("DK", 11), 20, 12, 0},
        // Other codes occupy video queue places like any video frame.
        QueueCase{"OtherCodesTakeQueuePlaces", 0, "KAJD", 4, 0, 0},
        QueueCase{"JpegElevenFit", 1, rep("J", 11), 11, 0, 0},
        // The 12th arrival empties the 11 queued frames first.
        QueueCase{"JpegTwelfthEmptiesTheQueue", 1, rep("J", 12), 1, 0, 11},
        QueueCase{"JpegTwentyThreeLeavesOne", 1, rep("J", 23), 1, 0, 22},
        QueueCase{"JpegQueuesOtherCodesToo", 1, "JDKA", 4, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

struct AudioCase {
  const char* name;
  int kind;
  uint8_t type;
  size_t payload;
  bool soundOn;
  bool accepted;
};

class AudioInput : public HeldTimer, public ::testing::WithParamInterface<AudioCase> {};

// Sound blocks of the wrong length are dropped whatever the sound state, and
// never take a video queue place.
TEST_P(AudioInput, OnlyWholeBlocksWhileSoundIsOnArePlayed) {
  const AudioCase& c = GetParam();
  PlayerHandle p = x_player_createPlayInstance(c.kind);
  ASSERT_EQ(x_player_startPlay(p), 1);
  // The H.264 player's openSound reports 0 even when sound starts.
  if (c.soundOn) {
    ASSERT_EQ(x_player_openSound(p), c.kind == 1 ? 1 : 0);
  }
  const auto f = makeFrame(c.type, c.payload, 0x11);
  EXPECT_EQ(x_player_inputNetFrame(p, f.data(), len(f)), 1);
  const PlayerCounters k = countersOf(p);
  EXPECT_EQ(k.audioQueued, c.accepted ? 1u : 0u);
  EXPECT_EQ(k.droppedAudio, c.accepted ? 0u : 1u);
  EXPECT_EQ(k.queueDepth, 0u);
  x_player_destroyPlayInstance(p);
}

// The JPEG player has no A-law path: such a block is queued like any frame it
// cannot show.
TEST_F(HeldTimer, JpegPlayerQueuesAlawAsAFrame) {
  PlayerHandle p = x_player_createPlayInstance(1);
  ASSERT_EQ(x_player_startPlay(p), 1);
  ASSERT_EQ(x_player_openSound(p), 1);
  const auto f = makeFrame(FRAME_AUDIO_ALAW, 960);
  EXPECT_EQ(x_player_inputNetFrame(p, f.data(), len(f)), 1);
  const PlayerCounters k = countersOf(p);
  EXPECT_EQ(k.queueDepth, 1u);
  EXPECT_EQ(k.audioQueued, 0u);
  x_player_destroyPlayInstance(p);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AudioInput,
    ::testing::Values(AudioCase{"H264Adpcm512", 0, FRAME_AUDIO_ADPCM, 512, true, true},
                      AudioCase{"H264Adpcm511", 0, FRAME_AUDIO_ADPCM, 511, true, false},
                      AudioCase{"H264Adpcm513", 0, FRAME_AUDIO_ADPCM, 513, true, false},
                      AudioCase{"H264Alaw960", 0, FRAME_AUDIO_ALAW, 960, true, true},
                      AudioCase{"H264Alaw959", 0, FRAME_AUDIO_ALAW, 959, true, false},
                      AudioCase{"H264SoundOff", 0, FRAME_AUDIO_ADPCM, 512, false, false},
                      AudioCase{"JpegAdpcm512", 1, FRAME_AUDIO_ADPCM, 512, true, true},
                      AudioCase{"JpegAdpcm513", 1, FRAME_AUDIO_ADPCM, 513, true, false},
                      AudioCase{"JpegSoundOff", 1, FRAME_AUDIO_ADPCM, 512, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HeldTimer, StoppedPlayerTakesNothing) {
  for (int kind : {0, 1}) {
    PlayerHandle p = x_player_createPlayInstance(kind);
    const auto f = makeFrame(kind == 0 ? FRAME_H264_KEY : FRAME_JPEG, 100);
    EXPECT_EQ(x_player_inputNetFrame(p, f.data(), len(f)), 0);
    ASSERT_EQ(x_player_startPlay(p), 1);
    ASSERT_EQ(x_player_stopPlay(p), 1);
    EXPECT_EQ(x_player_inputNetFrame(p, f.data(), len(f)), 0);
    EXPECT_EQ(countersOf(p).queueDepth, 0u);
    x_player_destroyPlayInstance(p);
  }
}

// Lengths that do not describe a whole frame are refused before anything is
// read past them.
TEST_F(HeldTimer, MalformedFramesAreRefused) {
  PlayerHandle p = x_player_createPlayInstance(0);
  ASSERT_EQ(x_player_startPlay(p), 1);
  auto f = makeFrame(FRAME_H264_KEY, 100);
  EXPECT_EQ(x_player_inputNetFrame(p, nullptr, 132), 0);
  EXPECT_EQ(x_player_inputNetFrame(p, f.data(), 31), 0);
  EXPECT_EQ(x_player_inputNetFrame(p, f.data(), 131), 0);  // payload runs past the length
  EXPECT_EQ(x_player_inputNetFrame(p, f.data(), -5), 0);
  std::vector<uint8_t> big = makeFrame(FRAME_H264_KEY, MAX_PAYLOAD);
  EXPECT_EQ(x_player_inputNetFrame(p, big.data(), MAX_FRAME_SIZE), 1);  // the largest frame
  big.push_back(0);
  reinterpret_cast<FrameHeader*>(big.data())->payloadLength = MAX_PAYLOAD + 1;
  EXPECT_EQ(x_player_inputNetFrame(p, big.data(), MAX_FRAME_SIZE + 1), 0);
  EXPECT_EQ(x_player_getListFrameNum(p), 1);
  x_player_destroyPlayInstance(p);
}

TEST_F(HeldTimer, StartTwiceRunsOneTimerAndStopEndsIt) {
  const int before = runningPacingTimers();
  for (int kind : {0, 1}) {
    PlayerHandle p = x_player_createPlayInstance(kind);
    EXPECT_EQ(x_player_stopPlay(p), 1);  // stopped already
    EXPECT_EQ(x_player_startPlay(p), 1);
    EXPECT_EQ(x_player_startPlay(p), 1);
    EXPECT_EQ(runningPacingTimers(), before + 1);
    EXPECT_EQ(x_player_stopPlay(p), 1);
    EXPECT_EQ(runningPacingTimers(), before);
    x_player_destroyPlayInstance(p);
  }
}

}  // namespace
}  // namespace tavolen
