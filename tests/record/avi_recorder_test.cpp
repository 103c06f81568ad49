#include "record/avi_recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "record_fixtures.h"

namespace tavolen {
namespace {

namespace fs = std::filesystem;
using test::FakeDisk;
using test::FakeTime;
using test::ScratchDir;

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFrames = 50;

int64_t nonEmpty(const std::vector<int64_t>& sizes) {
  return std::count_if(sizes.begin(), sizes.end(), [](int64_t s) { return s > 0; });
}

class RecorderTest : public ::testing::Test {
 protected:
  FakeTime time;
  FakeDisk disk;
  ScratchDir dir;

  // Frames at 25 per second, a sound block every 128 ms (1024 samples).
  void feed(CAviRecorder& rec, const std::vector<test::Bytes>& frames) {
    int block = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
      ASSERT_EQ(rec.writeVideo(frames[i].data(), static_cast<uint32_t>(frames[i].size())), 1) << "frame " << i;
      while (block * 128 <= static_cast<int>(i) * 40) {
        const std::vector<int16_t> pcm = test::decodedSoundBlock(block++);
        ASSERT_EQ(rec.writeAudio(pcm.data()), 1);
      }
      time.advance(40);
    }
  }
};

struct CodecCase {
  const char* name;
  uint32_t kind;
  const char* codec;
  const char* tag;
  int startWidth;  // what the player knew when it started: 0 before its first picture
  int startHeight;
};
void PrintTo(const CodecCase& c, std::ostream* os) { *os << c.name; }

class RecorderCodecTest : public RecorderTest, public ::testing::WithParamInterface<CodecCase> {};

TEST_P(RecorderCodecTest, RecordingReadsBackAsTwoStreamsAndDecodesEveryFrame) {
  const CodecCase& c = GetParam();
  const auto& frames = c.kind == CAviRecorder::kCodecH264 ? test::h264AccessUnits(kWidth, kHeight, kFrames)
                                                          : test::jpegPictures(kWidth, kHeight, kFrames);
  ASSERT_EQ(frames.size(), static_cast<size_t>(kFrames));
  CAviRecorder rec(time, disk);
  ASSERT_EQ(rec.startRecord(test::recordParams(dir.path(), "cam"), c.startWidth, c.startHeight, c.kind), 1);
  const std::string file = rec.currentFileName();
  feed(rec, frames);
  rec.stopRecord();
  ASSERT_TRUE(fs::exists(file));

  const auto streams = test::probeStreams(file);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0].type, "video");
  EXPECT_EQ(streams[0].codec, c.codec);
  EXPECT_EQ(streams[0].tag, c.tag);
  EXPECT_EQ(streams[0].frameRate, "25/1");
  EXPECT_EQ(streams[0].width, kWidth);
  EXPECT_EQ(streams[0].height, kHeight);
  EXPECT_EQ(streams[1].type, "audio");
  EXPECT_EQ(streams[1].codec, "pcm_s16le");
  EXPECT_EQ(streams[1].sampleRate, 8000);
  EXPECT_EQ(streams[1].channels, 1);

  EXPECT_EQ(test::decodeStatus(file), 0);
  EXPECT_EQ(nonEmpty(test::packetSizes(file, "v")), kFrames);
  EXPECT_EQ(test::decodedPictures(file), kFrames);
  const auto audio = test::packetSizes(file, "a");
  EXPECT_EQ(audio.size(), 16u);
  EXPECT_TRUE(std::all_of(audio.begin(), audio.end(), [](int64_t s) { return s == 2048; }));
}

INSTANTIATE_TEST_SUITE_P(Codecs, RecorderCodecTest,
                         ::testing::Values(CodecCase{"H264", CAviRecorder::kCodecH264, "h264", "h264", kWidth, kHeight},
                                           CodecCase{"Jpeg", CAviRecorder::kCodecJpeg, "mjpeg", "mjpg", kWidth, kHeight},
                                           CodecCase{"H264BeforeFirstPicture", CAviRecorder::kCodecH264, "h264",
                                                     "h264", 0, 0},
                                           CodecCase{"JpegBeforeFirstPicture", CAviRecorder::kCodecJpeg, "mjpeg",
                                                     "mjpg", 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RecorderTest, SlowStreamIsPaddedWithEmptySamplesToTheWallClock) {
  const auto& frames = test::h264AccessUnits(kWidth, kHeight, kFrames);
  CAviRecorder rec(time, disk);
  ASSERT_EQ(rec.startRecord(test::recordParams(dir.path(), "cam"), kWidth, kHeight, 0), 1);
  const std::string file = rec.currentFileName();
  ASSERT_EQ(rec.writeVideo(frames[0].data(), static_cast<uint32_t>(frames[0].size())), 1);
  EXPECT_EQ(rec.nextVideoSample(), 1u);
  time.advance(1000);
  ASSERT_EQ(rec.writeVideo(frames[1].data(), static_cast<uint32_t>(frames[1].size())), 1);
  EXPECT_EQ(rec.nextVideoSample(), 26u);
  // A faster stream runs ahead of the clock without losing frames.
  time.advance(10);
  ASSERT_EQ(rec.writeVideo(frames[2].data(), static_cast<uint32_t>(frames[2].size())), 1);
  EXPECT_EQ(rec.nextVideoSample(), 27u);
  // Enough sound to keep the file.
  for (int b = 0; b < 16; ++b) ASSERT_EQ(rec.writeAudio(test::decodedSoundBlock(b).data()), 1);
  rec.stopRecord();

  using P = test::Packet;
  EXPECT_EQ(test::packets(file, "v"), (std::vector<P>{{0, static_cast<int64_t>(frames[0].size())},
                                                      {25, static_cast<int64_t>(frames[1].size())},
                                                      {26, static_cast<int64_t>(frames[2].size())}}));
  EXPECT_EQ(test::decodeStatus(file), 0);
}

TEST(RecorderLimits, FieldsBelowTheMinimumsAreRaisedAndLargeOnesDoNotWrap) {
  struct Case {
    uint32_t fileLen, timeLen, reserved;
    uint64_t bytes;
    uint32_t ms, reserveMB;
  };
  const Case cases[] = {
      {0, 0, 0, 104857600ull, 300000u, 200u},
      {99, 4, 50, 104857600ull, 300000u, 200u},
      {100, 5, 200, 104857600ull, 300000u, 200u},
      {500, 30, 300, 524288000ull, 1800000u, 300u},
      {4096, 60, 1000, 4294967296ull, 3600000u, 1000u},
      {5000, 71582, 0, 5242880000ull, 4294920000u, 200u},
      {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFull << 20, 0xFFFFFFFFu, 0xFFFFFFFFu},
  };
  FakeTime time;
  FakeDisk disk;
  ScratchDir dir;
  CAviRecorder rec(time, disk);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.fileLen << " MiB, " << c.timeLen << " min, " << c.reserved << " MiB");
    ASSERT_EQ(rec.startRecord(test::recordParams(dir.path(), "cam", c.fileLen, c.timeLen, c.reserved), 0, 0, 0), 1);
    const CAviRecorder::Limits l = rec.limits();
    EXPECT_EQ(l.sizeLimitBytes, c.bytes);
    EXPECT_EQ(l.timeLimitMs, c.ms);
    EXPECT_EQ(l.reservedMB, c.reserveMB);
  }
}

TEST_F(RecorderTest, FrameThatWouldPassTheSizeLimitIsRefusedAndTheNextFileTakesTheFollowingOne) {
  CAviRecorder rec(time, disk);
  const RecordStartParams params = test::recordParams(dir.path(), "cam", 100);
  ASSERT_EQ(rec.startRecord(params, 0, 0, 0), 1);
  const std::string first = rec.currentFileName();
  const test::Bytes big = test::paddedAccessUnit(15u << 20);
  for (int i = 0; i < 6; ++i) ASSERT_EQ(rec.writeVideo(big.data(), static_cast<uint32_t>(big.size())), 1);
  // Exactly at the limit is still allowed; one byte past it is not.
  ASSERT_EQ(rec.writeVideo(big.data(), 10u << 20), 1);
  EXPECT_EQ(rec.writeVideo(big.data(), 1), 0);
  EXPECT_EQ(rec.nextVideoSample(), 7u);

  // What the player does on a refusal.
  time.setLocal({2023, 7, 4, 18, 5, 10, 0});
  rec.stopRecord();
  ASSERT_EQ(rec.startRecord(params, 0, 0, 0), 1);
  const std::string second = rec.currentFileName();
  EXPECT_NE(second, first);
  ASSERT_EQ(rec.writeVideo(big.data(), 40000), 1);
  rec.stopRecord();
  EXPECT_EQ(test::packetSizes(first, "v"), std::vector<int64_t>({15 << 20, 15 << 20, 15 << 20, 15 << 20, 15 << 20,
                                                                 15 << 20, 10 << 20}));
  EXPECT_EQ(test::packetSizes(second, "v"), std::vector<int64_t>({40000}));
}

TEST_F(RecorderTest, FramePastTheTimeLimitIsRefused) {
  CAviRecorder rec(time, disk);
  ASSERT_EQ(rec.startRecord(test::recordParams(dir.path(), "cam", 0, 0), 0, 0, 0), 1);
  const uint8_t frame[4] = {0, 0, 0, 1};
  time.advance(300000);
  EXPECT_EQ(rec.writeVideo(frame, 4), 1);
  EXPECT_EQ(rec.nextVideoSample(), 7501u);
  time.advance(1);
  EXPECT_EQ(rec.writeVideo(frame, 4), 0);
}

TEST_F(RecorderTest, FileIsNamedFromTheLocalTimeInsideItsDayAndDeviceFolders) {
  struct Case {
    platform::LocalTime t;
    const char* relative;
  };
  const Case cases[] = {
      {{2023, 7, 4, 18, 5, 9, 42}, "RecordFiles/20230704/192_168_1_20/20230704_180509_42.avi"},
      {{2024, 12, 31, 23, 59, 59, 999}, "RecordFiles/20241231/192_168_1_20/20241231_235959_999.avi"},
      {{2025, 1, 1, 0, 0, 0, 0}, "RecordFiles/20250101/192_168_1_20/20250101_000000_0.avi"},
  };
  CAviRecorder rec(time, disk);
  for (const Case& c : cases) {
    time.setLocal(c.t);
    ASSERT_EQ(rec.startRecord(test::recordParams(dir.path() + "/Rec", "192_168_1_20"), 0, 0, 0), 1);
    EXPECT_EQ(rec.currentFileName(), dir.path() + "/Rec/" + c.relative);
    EXPECT_TRUE(fs::is_regular_file(rec.currentFileName()));
  }
}

TEST_F(RecorderTest, StoppedTinyFileIsDeletedAndItsDayFolderStays) {
  const auto& frames = test::h264AccessUnits(kWidth, kHeight, kFrames);
  CAviRecorder rec(time, disk);
  ASSERT_EQ(rec.startRecord(test::recordParams(dir.path(), "cam"), kWidth, kHeight, 0), 1);
  const std::string file = rec.currentFileName();
  for (int i = 0; i < 3; ++i) ASSERT_EQ(rec.writeVideo(frames[i].data(), static_cast<uint32_t>(frames[i].size())), 1);
  rec.stopRecord();
  EXPECT_FALSE(fs::exists(file));
  EXPECT_TRUE(fs::is_directory(dir.path() + "/RecordFiles/20230704/cam"));
  EXPECT_EQ(rec.currentFileName(), "");
}

TEST_F(RecorderTest, RefusesWhatItCannotRecord) {
  CAviRecorder rec(time, disk);
  const uint8_t frame[4] = {0, 0, 0, 1};
  const int16_t pcm[CAviRecorder::kAudioBlockSamples] = {};
  EXPECT_EQ(rec.writeVideo(frame, 4), 0) << "no file open";
  EXPECT_EQ(rec.writeAudio(pcm), 0) << "no file open";

  EXPECT_EQ(rec.startRecord(test::recordParams(dir.path(), "cam"), 0, 0, 2), 0) << "unknown codec";
  EXPECT_FALSE(rec.isRecording());

  // A plain file where the tree should go: nothing can be created.
  test::run("touch '" + dir.path() + "/blocker'");
  EXPECT_EQ(rec.startRecord(test::recordParams(dir.path() + "/blocker", "cam"), 0, 0, 0), 0);
  EXPECT_FALSE(rec.isRecording());
  rec.stopRecord();

  ASSERT_EQ(rec.startRecord(test::recordParams(dir.path(), "cam"), 0, 0, 0), 1);
  EXPECT_EQ(rec.writeVideo(nullptr, 4), 0) << "no data";
  EXPECT_EQ(rec.writeAudio(nullptr), 0);
  const test::Bytes huge(AviWriter::kMaxSampleBytes + 1, 0);
  EXPECT_EQ(rec.writeVideo(huge.data(), static_cast<uint32_t>(huge.size())), 0) << "one sample too big";
}

TEST_F(RecorderTest, StartingAgainEndsTheCurrentFile) {
  const auto& frames = test::h264AccessUnits(kWidth, kHeight, kFrames);
  CAviRecorder rec(time, disk);
  ASSERT_EQ(rec.startRecord(test::recordParams(dir.path(), "cam"), kWidth, kHeight, 0), 1);
  const std::string first = rec.currentFileName();
  feed(rec, frames);
  time.setLocal({2023, 7, 5, 0, 0, 1, 5});
  ASSERT_EQ(rec.startRecord(test::recordParams(dir.path(), "cam"), kWidth, kHeight, 0), 1);
  EXPECT_EQ(rec.nextVideoSample(), 0u);
  EXPECT_EQ(rec.nextAudioSample(), 0u);
  EXPECT_NE(rec.currentFileName().find("/20230705/cam/"), std::string::npos);
  // The first file was closed whole: indexed and readable.
  EXPECT_EQ(test::decodeStatus(first), 0);
  EXPECT_EQ(nonEmpty(test::packetSizes(first, "v")), kFrames);
}

}  // namespace
}  // namespace tavolen
