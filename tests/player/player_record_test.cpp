// Recording through the players into real AVI files, checked with ffprobe.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "player/frames.h"
#include "player/h264_fixture.h"
#include "player/pacing_timer.h"
#include "player/player_test_util.h"
#include "tavolen/player.h"

namespace tavolen {
namespace {

namespace fs = std::filesystem;
using test::counters;
using test::len;
using test::makeFrame;

RecordStartParams paramsIn(const std::string& dir, uint32_t reservedMB = 0) {
  RecordStartParams p{};
  std::snprintf(p.recordPath, sizeof p.recordPath, "%s", dir.c_str());
  std::snprintf(p.deviceFolder, sizeof p.deviceFolder, "%s", "cam_1");
  p.reserved = reservedMB;
  return p;
}

std::vector<fs::path> aviFiles(const std::string& dir) {
  std::vector<fs::path> files;
  if (!fs::exists(dir)) return files;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.path().extension() == ".avi") files.push_back(e.path());
  return files;
}

// Packets per stream type as ffprobe counts them, e.g. "video=10 audio=3".
std::string probePackets(const fs::path& file) {
  const std::string cmd = "ffprobe -v error -count_packets -show_entries "
                          "stream=codec_type,nb_read_packets -of csv=p=0 '" + file.string() + "'";
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char line[256];
    while (fgets(line, sizeof line, p) != nullptr) {
      std::string s(line);
      while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
      const auto comma = s.find(',');
      if (comma == std::string::npos) continue;
      if (!out.empty()) out += " ";
      out += s.substr(0, comma) + "=" + s.substr(comma + 1);
    }
    pclose(p);
  }
  return out;
}

class PlayerRecording : public ::testing::Test {
 protected:
  void SetUp() override {
    holdPacingTimers(true);
    dir = test::scratchDir() + "/rec_" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::create_directories(dir);
  }
  void TearDown() override { holdPacingTimers(false); }
  std::string dir;
};

// A stopped player records what it is fed and still reports 0 for each
// frame; ADPCM blocks become sound, A-law blocks and other codes are left out.
TEST_F(PlayerRecording, StoppedH264PlayerRecordsVideoAndAdpcmOnly) {
  // Every unit a key unit, so that the file outgrows the recorder's minimum.
  const test::H264Stream s = test::encodeTestStream(640, 360, 10, 1);
  ASSERT_EQ(s.units.size(), 10u);
  PlayerHandle p = x_player_createPlayInstance(0);
  ASSERT_EQ(x_player_startlocalrecord(p, paramsIn(dir)), 1);
  EXPECT_EQ(x_player_getrecordstatus(p), 1);
  EXPECT_EQ(x_player_startlocalrecord(p, paramsIn(dir)), 1);  // already recording
  const auto adpcm = makeFrame(FRAME_AUDIO_ADPCM, 512, 0x17);
  const auto shortAdpcm = makeFrame(FRAME_AUDIO_ADPCM, 511, 0x17);
  const auto alaw = makeFrame(FRAME_AUDIO_ALAW, 960, 0xD5);
  const auto jpeg = makeFrame(FRAME_JPEG, 400, 1);
  for (size_t i = 0; i < s.units.size(); ++i) {
    const auto f = makeFrame(s.key[i] ? FRAME_H264_KEY : FRAME_H264_DELTA, s.units[i]);
    EXPECT_EQ(x_player_inputNetFrame(p, f.data(), len(f)), 0);
    if (i % 3 == 0) {
      EXPECT_EQ(x_player_inputNetFrame(p, adpcm.data(), len(adpcm)), 0);
    }
    EXPECT_EQ(x_player_inputNetFrame(p, alaw.data(), len(alaw)), 0);
    EXPECT_EQ(x_player_inputNetFrame(p, shortAdpcm.data(), len(shortAdpcm)), 0);
    EXPECT_EQ(x_player_inputNetFrame(p, jpeg.data(), len(jpeg)), 0);
  }
  EXPECT_EQ(x_player_stoplocalrecord(p), 1);
  EXPECT_EQ(x_player_getrecordstatus(p), 0);
  EXPECT_EQ(counters(p).recordRestarts, 0u);
  x_player_destroyPlayInstance(p);
  const auto files = aviFiles(dir);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(probePackets(files[0]), "video=10 audio=4");
}

TEST_F(PlayerRecording, JpegPlayerRecordsPicturesAndAdpcm) {
  PlayerHandle p = x_player_createPlayInstance(1);
  ASSERT_EQ(x_player_startlocalrecord(p, paramsIn(dir)), 1);
  const auto jpeg = makeFrame(FRAME_JPEG, 20000, 0x33);
  const auto delta = makeFrame(FRAME_H264_DELTA, 20000, 0x34);
  const auto adpcm = makeFrame(FRAME_AUDIO_ADPCM, 512, 0x17);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(x_player_inputNetFrame(p, jpeg.data(), len(jpeg)), 0);
    EXPECT_EQ(x_player_inputNetFrame(p, delta.data(), len(delta)), 0);
    EXPECT_EQ(x_player_inputNetFrame(p, adpcm.data(), len(adpcm)), 0);
  }
  x_player_destroyPlayInstance(p);  // stops the recording first
  const auto files = aviFiles(dir);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(probePackets(files[0]), "video=3 audio=3");
}

// With a free-space reserve no disk can meet, every video write is refused;
// each refusal starts the next file at once and recording stays on.
TEST_F(PlayerRecording, RefusedWriteStartsANewFile) {
  for (int kind : {0, 1}) {
    PlayerHandle p = x_player_createPlayInstance(kind);
    ASSERT_EQ(x_player_startlocalrecord(p, paramsIn(dir, 0xFFFFFFFFu)), 1);
    const auto f = makeFrame(kind == 0 ? FRAME_H264_KEY : FRAME_JPEG, 1000, 0x55);
    const auto adpcm = makeFrame(FRAME_AUDIO_ADPCM, 512, 0x17);
    for (int i = 0; i < 3; ++i) x_player_inputNetFrame(p, f.data(), len(f));
    x_player_inputNetFrame(p, adpcm.data(), len(adpcm));  // sound has no limit
    EXPECT_EQ(counters(p).recordRestarts, 3u) << kind;
    EXPECT_EQ(x_player_getrecordstatus(p), 1);
    x_player_destroyPlayInstance(p);
  }
}

// The JPEG player starts a new file when the picture width changes (the first
// picture included) and when sound is switched on or off.
TEST_F(PlayerRecording, JpegPlayerRestartsOnSizeAndSoundChanges) {
  PlayerHandle p = x_player_createPlayInstance(1);
  ASSERT_EQ(x_player_startPlay(p), 1);
  ASSERT_EQ(x_player_startlocalrecord(p, paramsIn(dir)), 1);
  ASSERT_EQ(x_player_openSound(p), 1);
  EXPECT_EQ(counters(p).recordRestarts, 1u);
  ASSERT_EQ(x_player_openSound(p), 1);  // no change, no restart
  ASSERT_EQ(x_player_closeSound(p), 1);
  EXPECT_EQ(counters(p).recordRestarts, 2u);
  x_player_closeSound(p);
  EXPECT_EQ(counters(p).recordRestarts, 2u);
  x_player_destroyPlayInstance(p);
}

TEST_F(PlayerRecording, DestroyingAPlayingRecordingSoundingPlayerStopsEverything) {
  const test::H264Stream s = test::encodeTestStream(640, 360, 3, 1);
  ASSERT_EQ(s.units.size(), 3u);
  for (int kind : {0, 1}) {
    PlayerHandle p = x_player_createPlayInstance(kind);
    ASSERT_EQ(x_player_startPlay(p), 1);
    ASSERT_EQ(x_player_startlocalrecord(p, paramsIn(dir + std::to_string(kind))), 1);
    x_player_openSound(p);
    for (int i = 0; i < 3; ++i) {
      std::vector<uint8_t> payload = s.units[i];
      payload.resize(std::max<size_t>(payload.size(), 12000), 0);  // past the minimum file
      const auto f = makeFrame(kind == 0 ? FRAME_H264_KEY : FRAME_JPEG, payload);
      EXPECT_EQ(x_player_inputNetFrame(p, f.data(), len(f)), 1);
    }
    EXPECT_EQ(x_player_destroyPlayInstance(p), 1);
    EXPECT_EQ(x_player_getrecordstatus(p), 0);
    const auto files = aviFiles(dir + std::to_string(kind));
    ASSERT_EQ(files.size(), 1u);
    // The file was closed properly: its index lists every frame.
    EXPECT_EQ(probePackets(files[0]).rfind("video=3 ", 0), 0u) << probePackets(files[0]);
  }
}

}  // namespace
}  // namespace tavolen
