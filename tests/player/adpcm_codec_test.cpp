#include "player/adpcm_codec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

namespace tavolen {
namespace {

TEST(AdpcmDecode, ZeroBlockGivesSilence) {
  std::vector<uint8_t> block(512, 0);
  std::vector<int16_t> out(1024, 123);
  AdpcmState state;
  adpcmDecode(state, block.data(), 512, out.data());
  for (int16_t s : out) ASSERT_EQ(s, 0);
}

TEST(AdpcmDecode, OneStepDifferenceForm) {
  // Code 7 at step 7 gives 12 and moves to step 16; code 0 then adds 16 / 8.
  const uint8_t byte = 0x70;
  int16_t out[2];
  AdpcmState state;
  state.decoderPredicted = 999;  // every call starts from the reset state
  state.decoderIndex = 50;
  adpcmDecode(state, &byte, 1, out);
  EXPECT_EQ(out[0], 12);
  EXPECT_EQ(out[1], 14);
}

TEST(AdpcmEncode, KnownSamples) {
  const int16_t samples[4] = {1000, 1000, -1000, 0};
  uint8_t bytes[2] = {0xAA, 0xAA};
  AdpcmState state;
  adpcmEncode(state, samples, 8, bytes);
  EXPECT_EQ(bytes[0], 0x77);
  EXPECT_EQ(bytes[1], 0xF1);
  int16_t back[4];
  adpcmDecode(state, bytes, 2, back);
  EXPECT_EQ(back[0], 12);
  EXPECT_EQ(back[1], 42);
  EXPECT_EQ(back[2], -21);
  EXPECT_EQ(back[3], 6);
}

TEST(AdpcmCodec, SpeechLikeRoundTripStaysClose) {
  // A gliding two-tone signal with a slow envelope; after the first few
  // samples the coder tracks it within a small fraction of full scale.
  std::vector<int16_t> pcm(512);
  for (size_t i = 0; i < pcm.size(); ++i) {
    const double t = static_cast<double>(i) / 8000.0;
    const double env = 0.5 + 0.5 * std::sin(2 * M_PI * 3 * t);
    pcm[i] = static_cast<int16_t>(8000 * env * (std::sin(2 * M_PI * 300 * t) + 0.5 * std::sin(2 * M_PI * 1100 * t)));
  }
  std::vector<uint8_t> coded(256);
  std::vector<int16_t> back(512);
  AdpcmState state;
  adpcmEncode(state, pcm.data(), 1024, coded.data());
  adpcmDecode(state, coded.data(), 256, back.data());
  double err = 0, sig = 0;
  for (size_t i = 32; i < pcm.size(); ++i) {
    err += std::pow(pcm[i] - back[i], 2);
    sig += std::pow(pcm[i], 2);
  }
  EXPECT_GT(10 * std::log10(sig / err), 15.0);  // signal-to-noise above 15 dB
}

TEST(AlawExpand, ReferenceValues) {
  struct Case { uint8_t in; int16_t out; };
  const Case cases[] = {{0xD5, 8}, {0x55, -8}, {0x2A, -32256}, {0xAA, 32256}};
  for (const auto& c : cases) EXPECT_EQ(alawToLinear(c.in), c.out) << int(c.in);
  uint8_t in[2] = {0xD5, 0x2A};
  int16_t out[2];
  alawExpand(in, 2, out);
  EXPECT_EQ(out[0], 8);
  EXPECT_EQ(out[1], -32256);
}

}  // namespace
}  // namespace tavolen
