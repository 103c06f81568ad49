#include "platform/jpeg_codec.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/resident.h"

namespace tavolen::platform {
namespace {

std::vector<uint8_t> flatPicture(int w, int h, uint8_t b, uint8_t g, uint8_t r) {
  std::vector<uint8_t> px(static_cast<size_t>(w) * h * 4);
  for (size_t i = 0; i < px.size(); i += 4) {
    px[i] = b;
    px[i + 1] = g;
    px[i + 2] = r;
    px[i + 3] = 0;
  }
  return px;
}

TEST(JpegCodec, RoundTripKeepsSizeAndChannelOrder) {
  JpegCodec codec;
  const auto px = flatPicture(64, 48, 200, 100, 20);
  const auto jpeg = codec.encode(px.data(), 64, 48, 95);
  ASSERT_FALSE(jpeg.empty());
  JpegPicture pic;
  ASSERT_TRUE(codec.decode(jpeg.data(), jpeg.size(), pic));
  ASSERT_EQ(pic.width, 64);
  ASSERT_EQ(pic.height, 48);
  ASSERT_EQ(pic.pixels.size(), 64u * 48 * 4);
  EXPECT_NEAR(pic.pixels[0], 200, 4);  // blue first
  EXPECT_NEAR(pic.pixels[1], 100, 4);
  EXPECT_NEAR(pic.pixels[2], 20, 4);
}

TEST(JpegCodec, UndecodableDataLeavesAnEmptyPicture) {
  JpegCodec codec;
  JpegPicture pic;
  pic.width = 5;
  const uint8_t junk[64] = {0xFF, 0xD8, 0x01};
  EXPECT_FALSE(codec.decode(junk, sizeof junk, pic));
  EXPECT_EQ(pic.width, 0);
  EXPECT_EQ(pic.height, 0);
  EXPECT_TRUE(pic.pixels.empty());
  EXPECT_FALSE(codec.decode(nullptr, 10, pic));
  const auto ok = codec.encode(flatPicture(16, 16, 1, 2, 3).data(), 16, 16, 80);
  EXPECT_FALSE(codec.decode(ok.data(), 0, pic));
}

// A header claiming a picture past the side limit is refused before anything
// is allocated for it: patch the SOF0 height of a small picture.
TEST(JpegCodec, OversizedHeaderIsRefused) {
  JpegCodec codec;
  auto jpeg = codec.encode(flatPicture(16, 16, 1, 2, 3).data(), 16, 16, 80);
  size_t sof = 0;
  for (size_t i = 2; i + 8 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) { sof = i; break; }
  ASSERT_NE(sof, 0u);
  const int tooTall = kMaxJpegSide + 1;
  jpeg[sof + 5] = static_cast<uint8_t>(tooTall >> 8);
  jpeg[sof + 6] = static_cast<uint8_t>(tooTall & 0xFF);
  JpegPicture pic;
  EXPECT_FALSE(codec.decode(jpeg.data(), jpeg.size(), pic));
}


// A small picture whose frame header claims another size.
std::vector<uint8_t> claimingSize(JpegCodec& codec, int width, int height) {
  auto jpeg = codec.encode(flatPicture(16, 16, 1, 2, 3).data(), 16, 16, 80);
  for (size_t i = 2; i + 8 < jpeg.size(); ++i) {
    if (jpeg[i] != 0xFF || jpeg[i + 1] != 0xC0) continue;
    jpeg[i + 5] = static_cast<uint8_t>(height >> 8);
    jpeg[i + 6] = static_cast<uint8_t>(height & 0xFF);
    jpeg[i + 7] = static_cast<uint8_t>(width >> 8);
    jpeg[i + 8] = static_cast<uint8_t>(width & 0xFF);
    return jpeg;
  }
  ADD_FAILURE() << "no frame header";
  return jpeg;
}

// The claimed size is judged before anything is allocated for it: a 4 KB
// frame claiming 8192 x 8192 would otherwise cost 256 MB.
TEST(JpegCodec, ClaimedSizeIsBoundedBeforeDecoding) {
  struct Case {
    int width, height;
    bool accepted;
  };
  const Case cases[] = {
      {4096, 4096, true},            // kMaxJpegPixels exactly
      {4097, 4096, false},           // one column past it
      {kMaxJpegSide, 2048, true},    // the longest side, within the pixel bound
      {kMaxJpegSide + 1, 16, false},
      {16, kMaxJpegSide + 1, false},
      {8192, 8192, false},
  };
  constexpr long long kBound = 16ll << 20;
  JpegCodec codec;
  for (const Case& c : cases) {
    const auto jpeg = claimingSize(codec, c.width, c.height);
    JpegPicture pic;
    ASSERT_TRUE(test::resetPeakResident());
    const long long before = test::residentBytes();
    EXPECT_EQ(codec.decode(jpeg.data(), jpeg.size(), pic), c.accepted) << c.width << "x" << c.height;
    if (c.accepted) {
      EXPECT_EQ(pic.width, c.width);
      EXPECT_EQ(pic.height, c.height);
    } else {
      EXPECT_EQ(pic.width, 0);
      EXPECT_TRUE(pic.pixels.empty());
      EXPECT_LT(test::peakResidentBytes() - before, kBound) << c.width << "x" << c.height;
    }
  }
}

// Pictures decoded one after another into the same picture reuse its pixels;
// a refused one in between empties it but keeps the room.
TEST(JpegCodec, DecodingAgainReusesThePicturesPixels) {
  JpegCodec codec;
  const auto red = codec.encode(flatPicture(64, 48, 0, 0, 250).data(), 64, 48, 95);
  const auto blue = codec.encode(flatPicture(64, 48, 250, 0, 0).data(), 64, 48, 95);
  const auto huge = claimingSize(codec, 8192, 8192);
  JpegPicture pic;
  ASSERT_TRUE(codec.decode(red.data(), red.size(), pic));
  const uint8_t* pixels = pic.pixels.data();
  ASSERT_TRUE(codec.decode(blue.data(), blue.size(), pic));
  EXPECT_EQ(pic.pixels.data(), pixels);
  EXPECT_NEAR(pic.pixels[0], 250, 4);
  EXPECT_NEAR(pic.pixels[2], 0, 4);
  EXPECT_FALSE(codec.decode(huge.data(), huge.size(), pic));
  EXPECT_TRUE(pic.pixels.empty());
  ASSERT_TRUE(codec.decode(red.data(), red.size(), pic));
  EXPECT_EQ(pic.pixels.data(), pixels);
  EXPECT_NEAR(pic.pixels[2], 250, 4);
}

}  // namespace
}  // namespace tavolen::platform
