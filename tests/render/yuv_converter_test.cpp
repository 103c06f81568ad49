#include "render/yuv_converter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <vector>

namespace tavolen {
namespace {

// One pixel straight from the multipliers, independent of the tables.
std::array<uint8_t, 4> reference(int y, int c1, int c2) {
  auto clip = [](int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
  const int yy = (y - 16) * 76309;
  return {clip((yy + (c1 - 128) * 104597) >> 16),
          clip((yy - (c1 - 128) * 53279 - (c2 - 128) * 25675) >> 16),
          clip((yy + (c2 - 128) * 132201) >> 16), 0};
}

std::vector<uint8_t> picture(int w, int h, uint8_t y, uint8_t c1, uint8_t c2) {
  const PlanarLayout l = planarLayout(w, h);
  std::vector<uint8_t> p(l.totalBytes, y);
  std::fill(p.begin() + l.firstChromaOffset, p.begin() + l.secondChromaOffset, c1);
  std::fill(p.begin() + l.secondChromaOffset, p.end(), c2);
  return p;
}

std::vector<ConvertPath> availablePaths() {
  std::vector<ConvertPath> paths;
  for (ConvertPath p : {ConvertPath::Table, ConvertPath::Sse2, ConvertPath::Avx2, ConvertPath::Avx512})
    if (convertPathAvailable(p)) paths.push_back(p);
  return paths;
}

TEST(ColorTables, HoldTheMultipliersAndTheClamp) {
  const ColorTables& t = initColorTables();
  EXPECT_EQ(t.tabY[16], 0);
  EXPECT_EQ(t.tabY[255], 239 * 76309);
  EXPECT_EQ(t.tabC1Byte0[0], -128 * 104597);
  EXPECT_EQ(t.tabC2Byte2[255], 127 * 132201);
  EXPECT_EQ(t.tabC2Byte1[129], 25675);
  EXPECT_EQ(t.tabC1Byte1[127], -53279);
  EXPECT_EQ(t.clip()[-384], 0);
  EXPECT_EQ(t.clip()[-1], 0);
  EXPECT_EQ(t.clip()[0], 0);
  EXPECT_EQ(t.clip()[200], 200);
  EXPECT_EQ(t.clip()[255], 255);
  EXPECT_EQ(t.clip()[639], 255);
}

TEST(PlanarLayout, EvenSizesMatchTheFixedOffsetsOddSizesRoundChromaUp) {
  const PlanarLayout even = planarLayout(640, 480);
  EXPECT_EQ(even.firstChromaOffset, 640u * 480);
  EXPECT_EQ(even.secondChromaOffset, 640u * 480 * 5 / 4);
  EXPECT_EQ(even.totalBytes, 640u * 480 * 3 / 2);
  const PlanarLayout odd = planarLayout(5, 3);
  EXPECT_EQ(odd.chromaWidth, 3);
  EXPECT_EQ(odd.chromaHeight, 2);
  EXPECT_EQ(odd.secondChromaOffset, 15u + 6);
  EXPECT_EQ(odd.totalBytes, 15u + 12);
}

struct Sample {
  uint8_t y, c1, c2;
  std::array<uint8_t, 4> bytes;
};

TEST(Convert, KnownSamplesOnEveryPath) {
  const Sample samples[] = {
      {16, 128, 128, {0, 0, 0, 0}},
      // 219 × 76309 falls 9 short of 255 × 65536: limited-range white lands
      // on 254 through these tables, and one step up reaches 255.
      {235, 128, 128, {254, 254, 254, 0}},
      {236, 128, 128, {255, 255, 255, 0}},
      // The first chroma plane drives byte 0 (1.596) and byte 1 (0.813); the
      // second drives byte 2 (2.017) and byte 1 (0.392).
      {128, 228, 128, {255, 49, 130, 0}},
      {128, 128, 178, {130, 110, 231, 0}},
      {0, 0, 0, {0, 135, 0, 0}},
      {255, 255, 255, {255, 125, 255, 0}},
  };
  for (ConvertPath path : availablePaths())
    for (const Sample& s : samples) {
      EXPECT_EQ(reference(s.y, s.c1, s.c2), s.bytes) << int(s.y) << " " << int(s.c1) << " " << int(s.c2);
      // 64 pixels wide so that the SIMD steps, not the tail, carry the sample.
      const auto pic = picture(64, 2, s.y, s.c1, s.c2);
      std::vector<uint8_t> out(64 * 2 * 4, 0xEE);
      convertPicture(path, pic.data(), 64, 2, out.data(), 64 * 4);
      for (size_t i = 0; i < out.size(); i += 4)
        ASSERT_EQ((std::array<uint8_t, 4>{out[i], out[i + 1], out[i + 2], out[i + 3]}), s.bytes)
            << "path " << int(path) << " pixel " << i / 4;
    }
}

// Every (Y, C1, C2) triple, one SIMD path at a time: one picture per C1 value
// whose 2 × 2 blocks walk all C2 values and all luma values.
class EveryTriple : public testing::TestWithParam<ConvertPath> {};

TEST_P(EveryTriple, MatchesTheTables) {
  const ConvertPath path = GetParam();
  if (!convertPathAvailable(path)) GTEST_SKIP() << "this CPU lacks the instructions of path " << int(path);
  constexpr int kBlocksPerC2 = 64;                   // 64 blocks × 4 pixels = 256 lumas
  constexpr int kWidth = 2 * kBlocksPerC2 * 256;     // 32768
  const PlanarLayout l = planarLayout(kWidth, 2);
  std::vector<uint8_t> pic(l.totalBytes);
  for (int b = 0; b < kWidth / 2; ++b) {
    const int base = (b % kBlocksPerC2) * 4;
    pic[2 * b] = static_cast<uint8_t>(base);
    pic[2 * b + 1] = static_cast<uint8_t>(base + 1);
    pic[kWidth + 2 * b] = static_cast<uint8_t>(base + 2);
    pic[kWidth + 2 * b + 1] = static_cast<uint8_t>(base + 3);
    pic[l.secondChromaOffset + b] = static_cast<uint8_t>(b / kBlocksPerC2);
  }
  std::vector<uint8_t> expected(static_cast<size_t>(kWidth) * 2 * 4), actual(expected.size());
  for (int c1 = 0; c1 < 256; ++c1) {
    std::fill(pic.begin() + l.firstChromaOffset, pic.begin() + l.secondChromaOffset, c1);
    convertPicture(ConvertPath::Table, pic.data(), kWidth, 2, expected.data(), kWidth * 4);
    if (c1 % 37 == 0)  // the tables themselves against the plain formula
      for (int x = 0; x < kWidth; ++x) {
        const int b = x / 2;
        ASSERT_EQ(reference(pic[x], c1, b / kBlocksPerC2),
                  (std::array<uint8_t, 4>{expected[x * 4], expected[x * 4 + 1], expected[x * 4 + 2],
                                          expected[x * 4 + 3]}));
      }
    std::fill(actual.begin(), actual.end(), 0xEE);
    convertPicture(path, pic.data(), kWidth, 2, actual.data(), kWidth * 4);
    ASSERT_EQ(actual, expected) << "path " << int(path) << " C1 " << c1;
  }
}

INSTANTIATE_TEST_SUITE_P(SimdPaths, EveryTriple,
                         testing::Values(ConvertPath::Sse2, ConvertPath::Avx2, ConvertPath::Avx512),
                         [](const testing::TestParamInfo<ConvertPath>& info) {
                           switch (info.param) {
                             case ConvertPath::Sse2: return "Sse2";
                             case ConvertPath::Avx2: return "Avx2";
                             case ConvertPath::Avx512: return "Avx512";
                             default: return "Table";
                           }
                         });

// Random pictures of awkward sizes: tails after the SIMD steps, odd rows and
// columns, a pitch wider than the row, packed or in padded planes. Bytes past
// each row stay untouched.
TEST(Convert, RandomPicturesOfAnySizeMatchOnEveryPath) {
  std::mt19937 rng(4);
  const int sizes[][2] = {{1, 1}, {1, 5}, {3, 1}, {2, 2}, {15, 7}, {16, 2}, {17, 3}, {31, 9},
                          {32, 4}, {33, 33}, {47, 6}, {63, 5}, {64, 64}, {65, 11}, {127, 4}, {128, 3}, {193, 5}, {640, 360}, {1919, 3}};
  for (auto [w, h] : sizes) {
    const PlanarLayout l = planarLayout(w, h);
    std::vector<uint8_t> pic(l.totalBytes);
    for (auto& b : pic) b = static_cast<uint8_t>(rng());
    const ptrdiff_t pitch = w * 4 + 12;
    std::vector<uint8_t> expected(pitch * h, 0xA5);
    convertPicture(ConvertPath::Table, pic.data(), w, h, expected.data(), pitch);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint8_t c1 = pic[l.firstChromaOffset + (y / 2) * l.chromaWidth + x / 2];
        const uint8_t c2 = pic[l.secondChromaOffset + (y / 2) * l.chromaWidth + x / 2];
        const uint8_t* p = &expected[y * pitch + x * 4];
        ASSERT_EQ(reference(pic[y * w + x], c1, c2), (std::array<uint8_t, 4>{p[0], p[1], p[2], p[3]}))
            << w << "x" << h << " at " << x << "," << y;
      }
    for (int y = 0; y < h; ++y)
      for (ptrdiff_t i = w * 4; i < pitch; ++i) ASSERT_EQ(expected[y * pitch + i], 0xA5);
    // The same picture in planes with padded rows, as a decoder leaves them.
    const ptrdiff_t lumaStride = w + 13, chromaStride = l.chromaWidth + 7;
    std::vector<uint8_t> luma(lumaStride * h, 0x5A), c1(chromaStride * l.chromaHeight, 0x5A),
        c2(c1.size(), 0x5A);
    for (int y = 0; y < h; ++y) std::copy_n(&pic[y * w], w, &luma[y * lumaStride]);
    for (int y = 0; y < l.chromaHeight; ++y) {
      std::copy_n(&pic[l.firstChromaOffset + y * l.chromaWidth], l.chromaWidth, &c1[y * chromaStride]);
      std::copy_n(&pic[l.secondChromaOffset + y * l.chromaWidth], l.chromaWidth, &c2[y * chromaStride]);
    }
    const PlanarPicture planes{luma.data(), c1.data(), c2.data(), lumaStride, chromaStride, w, h};
    for (ConvertPath path : availablePaths()) {
      std::vector<uint8_t> actual(pitch * h, 0xA5);
      convertPicture(path, pic.data(), w, h, actual.data(), pitch);
      ASSERT_EQ(actual, expected) << "path " << int(path) << " " << w << "x" << h;
      std::fill(actual.begin(), actual.end(), 0xA5);
      convertPicture(path, planes, actual.data(), pitch);
      ASSERT_EQ(actual, expected) << "padded planes, path " << int(path) << " " << w << "x" << h;
    }
  }
}

}  // namespace
}  // namespace tavolen
