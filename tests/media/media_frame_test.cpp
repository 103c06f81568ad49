#include "media/media_frame.h"

#include <gtest/gtest.h>

#include <ctime>
#include <vector>

namespace tavolen {
namespace {

TEST(FrameHeader, ParsesLittleEndianFields) {
  const uint8_t bytes[32] = {0x55, 0xAA, 0x15, 0xA8, 0x06, 0xEE, 0xE7, 0x03, 0x00, 0xCA, 0x9A, 0x3B, 1, 2, 3, 4,
                             0x00, 0x02, 0x00, 0x00, 9, 9, 9, 9, 9, 0xF8, 7, 7, 7, 7, 7, 7};
  const FrameHeader h = parseFrameHeader(bytes);
  EXPECT_EQ(h.magic, kFrameMagic);
  EXPECT_EQ(h.frameType, FRAME_AUDIO_ADPCM);
  EXPECT_EQ(h.milliseconds, 999);
  EXPECT_EQ(h.timestamp, 1000000000u);
  EXPECT_EQ(h.sequence, 0x04030201u);
  EXPECT_EQ(h.payloadLength, 512u);
  EXPECT_EQ(h.timeZone, -8);
  uint8_t back[32];
  serializeFrameHeader(h, back);
  EXPECT_EQ(0, std::memcmp(back, bytes, 32));
}

TEST(FrameHeader, WholeFrameRules) {
  std::vector<uint8_t> frame(kMaxFrameSize, 0);
  writeLe32(frame.data(), kFrameMagic);
  writeLe32(frame.data() + 16, kMaxPayload);
  EXPECT_TRUE(isWholeFrame(frame.data(), kMaxFrameSize));
  EXPECT_FALSE(isWholeFrame(frame.data(), kMaxFrameSize - 1));
  writeLe32(frame.data() + 16, kMaxPayload + 1);
  EXPECT_FALSE(isWholeFrame(frame.data(), kMaxFrameSize));
  EXPECT_FALSE(isWholeFrame(frame.data(), 31));
  EXPECT_FALSE(isWholeFrame(nullptr, 32));
}

TEST(FrameHeader, AudioBlocksHaveOneSizePerCode) {
  struct Case {
    uint8_t type;
    uint32_t length;
    bool valid;
  };
  const Case cases[] = {{FRAME_AUDIO_ADPCM, 512, true}, {FRAME_AUDIO_ADPCM, 511, false},
                        {FRAME_AUDIO_ADPCM, 513, false}, {FRAME_AUDIO_ALAW, 960, true},
                        {FRAME_AUDIO_ALAW, 512, false},  {FRAME_H264_KEY, 512, false}};
  for (const auto& c : cases) EXPECT_EQ(isValidAudioBlock(c.type, c.length), c.valid) << int(c.type) << " " << c.length;
}

TEST(FrameHeader, ShownTimeAppliesTheZone) {
  struct Case {
    int8_t zone;
    const char* text;
  };
  const Case cases[] = {{-8, "2001-09-09 09:46:40"}, {0, "2001-09-09 01:46:40"}};
  for (const auto& c : cases) {
    const time_t t = static_cast<time_t>(shownFrameTime(1000000000u, c.zone));
    tm parts;
    gmtime_r(&t, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    EXPECT_STREQ(text, c.text);
  }
}

}  // namespace
}  // namespace tavolen
