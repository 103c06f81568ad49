#include "media/adpcm_codec.h"
#include "tavolen/player.h"

#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
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

// The arithmetic written out plainly, one sample at a time, with a division
// per code: the codec's tables and its division-free quotient must agree with
// it on every input.
namespace plain {
const int kSteps[89] = {7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,
                        23,    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,
                        73,    80,    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,
                        230,   253,   279,   307,   337,   371,   408,   449,   494,   544,   598,   658,
                        724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
                        2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,
                        7132,  7845,  8630,  9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350,
                        22385, 24623, 27086, 29794, 32767};
const int kAdjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

void step(int& predicted, int& index, int code) {
  const int st = kSteps[index];
  const int m = code & 7;
  const int diff = (st * m) / 4 + st / 8;
  predicted = (code & 8) ? predicted - diff : predicted + diff;
  predicted = std::min(32767, std::max(-32768, predicted));
  index = std::min(88, std::max(0, index + kAdjust[m]));
}

std::vector<uint8_t> encode(const std::vector<int16_t>& s) {
  std::vector<uint8_t> out((s.size() + 1) / 2, 0);
  int predicted = 0, index = 0;
  for (size_t k = 0; k < s.size(); ++k) {
    int d = s[k] - predicted, sign = 0;
    if (d < 0) {
      sign = 8;
      d = -d;
    }
    const int m = std::min(7, (4 * d) / kSteps[index]);
    step(predicted, index, sign | m);
    if (k % 2 == 0) out[k / 2] = static_cast<uint8_t>((sign | m) << 4);
    else out[k / 2] |= static_cast<uint8_t>(sign | m);
  }
  return out;
}

std::vector<int16_t> decode(const std::vector<uint8_t>& b) {
  std::vector<int16_t> out;
  int predicted = 0, index = 0;
  for (uint8_t byte : b) {
    for (int code : {byte >> 4, byte & 0x0F}) {
      step(predicted, index, code);
      out.push_back(static_cast<int16_t>(predicted));
    }
  }
  return out;
}
}  // namespace plain

TEST(AdpcmCodec, AgreesWithThePlainArithmetic) {
  uint32_t lcg = 99;
  auto next = [&] { return lcg = lcg * 1664525u + 1013904223u; };
  std::vector<std::vector<int16_t>> signals;
  std::vector<int16_t> noise(1024), loud(1024), square(1024), quiet(1024);
  for (size_t i = 0; i < 1024; ++i) {
    noise[i] = static_cast<int16_t>(next() >> 16);
    loud[i] = (i / 3) % 2 ? 32767 : -32768;  // drives the predictor into both clamps
    square[i] = (i / 40) % 2 ? 12000 : -12000;
    quiet[i] = static_cast<int16_t>(static_cast<int>(next() >> 29) - 4);
  }
  signals = {noise, loud, square, quiet};
  for (size_t n = 0; n < signals.size(); ++n) {
    const auto& pcm = signals[n];
    std::vector<uint8_t> coded(512);
    AdpcmState state;
    adpcmEncode(state, pcm.data(), 2048, coded.data());
    ASSERT_EQ(coded, plain::encode(pcm)) << "signal " << n;
    // Every byte value decodes the same, whatever came before it.
    std::vector<uint8_t> bytes(512);
    for (auto& b : bytes) b = static_cast<uint8_t>(next() >> 24);
    if (n == 1) for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = i % 2 ? 0x77 : 0x7F;  // runs to the clamp
    std::vector<int16_t> out(1024);
    adpcmDecode(state, bytes.data(), 512, out.data());
    ASSERT_EQ(out, plain::decode(bytes)) << "signal " << n;
  }
}

TEST(AdpcmEncode, SilenceAndAFreshStartForEveryBlock) {
  std::vector<int16_t> silence(512, 0);
  std::vector<uint8_t> block(256, 0xEE);
  AdpcmState state;
  adpcmEncode(state, silence.data(), 1024, block.data());
  for (uint8_t b : block) ASSERT_EQ(b, 0x00);
  // After a loud block the next one still starts from predictor 0, step 7.
  std::vector<int16_t> loud(512, 30000);
  adpcmEncode(state, loud.data(), 1024, block.data());
  const int16_t samples[4] = {1000, 1000, -1000, 0};
  uint8_t bytes[2];
  adpcmEncode(state, samples, 8, bytes);
  EXPECT_EQ(bytes[0], 0x77);
  EXPECT_EQ(bytes[1], 0xF1);
}

TEST(AdpcmEncode, TalkBlockExportCodesEachBlockAfresh) {
  std::vector<int16_t> pcm(TALK_BLOCK_SAMPLES, 30000);
  std::vector<uint8_t> block(TALK_BLOCK_BYTES + 1, 0xEE);
  ASSERT_EQ(x_player_encodeTalkBlock(pcm.data(), block.data()), TALK_BLOCK_BYTES);
  EXPECT_EQ(block[TALK_BLOCK_BYTES], 0xEE);  // nothing past the block
  // A loud block before does not change how the next one starts.
  std::fill(pcm.begin(), pcm.end(), 0);
  pcm[0] = 1000, pcm[1] = 1000, pcm[2] = -1000;
  ASSERT_EQ(x_player_encodeTalkBlock(pcm.data(), block.data()), TALK_BLOCK_BYTES);
  EXPECT_EQ(block[0], 0x77);
  EXPECT_EQ(block[1], 0xF1);
  std::vector<int16_t> back(TALK_BLOCK_SAMPLES);
  AdpcmState state;
  adpcmDecode(state, block.data(), TALK_BLOCK_BYTES, back.data());
  EXPECT_EQ(back[0], 12);
  EXPECT_EQ(back[3], 6);

  EXPECT_EQ(x_player_encodeTalkBlock(nullptr, block.data()), 0);
  EXPECT_EQ(x_player_encodeTalkBlock(pcm.data(), nullptr), 0);
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
