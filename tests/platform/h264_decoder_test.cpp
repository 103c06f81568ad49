#include "platform/h264_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "player/h264_fixture.h"
#include "support/resident.h"

namespace tavolen::platform {
namespace {

using tavolen::test::encodeTestStream;
using tavolen::test::H264Stream;
using tavolen::test::referenceDecode;

H264DecAttr playerAttr() { return H264DecAttr{0, 0, 160, 128, 8, 0x10, 0, 0}; }

struct Decoder {
  H264DecHandle h;
  explicit Decoder(const H264DecAttr& a) : h(Hi264DecCreate(&a)) {}
  ~Decoder() { Hi264DecDestroy(h); }
  int32_t decode(const std::vector<uint8_t>& unit, H264DecOutput& out) {
    return Hi264DecAU(h, unit.data(), static_cast<uint32_t>(unit.size()), 0, &out, 0);
  }
};

// The picture as the renderer would read it: strides width and width / 2.
std::vector<uint8_t> packedPicture(const H264DecOutput& out) {
  const size_t w = out.width, h = out.height;
  std::vector<uint8_t> pic;
  for (size_t r = 0; r < h; ++r) pic.insert(pic.end(), out.luma + r * out.lumaStride, out.luma + r * out.lumaStride + w);
  for (const uint8_t* plane : {out.u, out.v})
    for (size_t r = 0; r < h / 2; ++r)
      pic.insert(pic.end(), plane + r * out.chromaStride, plane + r * out.chromaStride + w / 2);
  return pic;
}

struct SizeCase {
  int width, height;
  const char* profile;
};

class DecodeEachUnit : public ::testing::TestWithParam<SizeCase> {};

// Every unit's own picture comes out of the call that took it, bit-exact with
// ffmpeg, at the renderer's strides. 176 and 320 (chroma 88, 160) are widths
// whose rows libavcodec pads, so the repacking is exercised.
TEST_P(DecodeEachUnit, PictureOfEveryUnitInTheSameCall) {
  const SizeCase c = GetParam();
  const H264Stream s = encodeTestStream(c.width, c.height, 30, 12, c.profile);
  ASSERT_FALSE(s.units.empty());
  const auto reference = referenceDecode(s.units, c.width, c.height);
  ASSERT_EQ(reference.size(), s.units.size());
  Decoder dec(playerAttr());
  ASSERT_NE(dec.h, nullptr);
  for (size_t i = 0; i < s.units.size(); ++i) {
    H264DecOutput out;
    std::memset(&out, 0xEE, sizeof(out));
    ASSERT_EQ(dec.decode(s.units[i], out), 0) << "unit " << i;
    EXPECT_EQ(out.error, 0u);
    ASSERT_EQ(out.width, static_cast<uint32_t>(c.width));
    ASSERT_EQ(out.height, static_cast<uint32_t>(c.height));
    EXPECT_EQ(out.lumaStride, out.width);
    EXPECT_EQ(out.chromaStride, (out.width + 1) / 2);
    ASSERT_TRUE(packedPicture(out) == reference[i]) << "unit " << i << " differs from ffmpeg";
  }
}

// Every picture held, without copying, stays exactly the unit's picture
// through all later calls and past the decoder's end, at its own strides
// (padded at 176 and 320).
TEST_P(DecodeEachUnit, HeldPicturesOutliveLaterCallsAndTheDecoder) {
  const SizeCase c = GetParam();
  const H264Stream s = encodeTestStream(c.width, c.height, 30, 12, c.profile);
  const auto reference = referenceDecode(s.units, c.width, c.height);
  ASSERT_EQ(reference.size(), s.units.size());
  std::vector<std::shared_ptr<const HeldPicture>> held;
  {
    Decoder dec(playerAttr());
    for (const auto& unit : s.units) {
      H264DecOutput out;
      ASSERT_EQ(dec.decode(unit, out), 0);
      held.push_back(Hi264DecHoldPicture(dec.h));
      ASSERT_NE(held.back(), nullptr);
    }
    // A call without a picture leaves nothing to hold.
    const uint8_t junk[] = {0, 0, 0, 1, 0x09, 0xF0};
    H264DecOutput out;
    EXPECT_NE(Hi264DecAU(dec.h, junk, sizeof junk, 0, &out, 0), 0);
    EXPECT_EQ(Hi264DecHoldPicture(dec.h), nullptr);
  }
  EXPECT_EQ(Hi264DecHoldPicture(nullptr), nullptr);
  for (size_t i = 0; i < held.size(); ++i) {
    const HeldPicture& p = *held[i];
    ASSERT_EQ(p.width, static_cast<uint32_t>(c.width));
    ASSERT_EQ(p.height, static_cast<uint32_t>(c.height));
    H264DecOutput view{};
    view = {p.luma, p.u, p.v, p.width, p.height, p.lumaStride, p.chromaStride, {}, 0};
    ASSERT_TRUE(packedPicture(view) == reference[i]) << "held picture " << i << " changed";
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, DecodeEachUnit,
                         ::testing::Values(SizeCase{176, 144, "main"}, SizeCase{320, 240, "high"},
                                           SizeCase{640, 360, "baseline"}),
                         [](const auto& info) {
                           return std::to_string(info.param.width) + "x" +
                                  std::to_string(info.param.height) + info.param.profile;
                         });

TEST(H264Decoder, CreateRefusesMissingOrEmptyAttributes) {
  EXPECT_EQ(Hi264DecCreate(nullptr), nullptr);
  H264DecAttr none = playerAttr();
  none.maxWidthMb = 0;
  EXPECT_EQ(Hi264DecCreate(&none), nullptr);
  Hi264DecDestroy(nullptr);  // harmless
}

TEST(H264Decoder, BadArgumentsGiveNoPicture) {
  Decoder dec(playerAttr());
  H264DecOutput out;
  const uint8_t byte = 0;
  EXPECT_NE(Hi264DecAU(dec.h, nullptr, 10, 0, &out, 0), 0);
  EXPECT_NE(Hi264DecAU(dec.h, &byte, 0, 0, &out, 0), 0);
  EXPECT_NE(Hi264DecAU(dec.h, &byte, 1, 0, nullptr, 0), 0);
  EXPECT_NE(Hi264DecAU(nullptr, &byte, 1, 0, &out, 0), 0);
}

TEST(H264Decoder, PictureAboveTheAttributeMaximumIsRefused) {
  const H264Stream s = encodeTestStream(176, 144, 2, 12);
  ASSERT_EQ(s.units.size(), 2u);
  H264DecAttr small = playerAttr();
  small.maxWidthMb = 10;  // 160 pixels, one macroblock short of 176
  Decoder dec(small);
  H264DecOutput out;
  EXPECT_NE(dec.decode(s.units[0], out), 0);
}

// A unit whose parameter set announces 8192 x 4320 in a few bytes. The
// player's decoder refuses it before the buffers of so large a picture exist;
// a decoder allowed that size, fed the same bytes, shows what they would cost.
TEST(H264Decoder, AnnouncedSizeAboveTheMaximumCostsNoMemory) {
  const H264Stream s = encodeTestStream(176, 144, 1, 12, "baseline");
  ASSERT_EQ(s.units.size(), 1u);
  const std::vector<uint8_t> huge = test::withAnnouncedSize(s.units[0], 8192, 4320);
  H264DecAttr allowed = playerAttr();
  allowed.maxWidthMb = 8192 / 16;
  allowed.maxHeightMb = 4320 / 16;
  struct Case {
    const char* name;
    H264DecAttr attr;
    bool refused;
  };
  const Case cases[] = {{"player's maximum", playerAttr(), true}, {"allowed that size", allowed, false}};
  // One 8192 x 4320 picture alone is 53 MB; the tables the decoder sets up
  // for its macroblocks, even when it then refuses the picture's buffers, 14 MB.
  constexpr long long kRefusedBound = 8ll << 20;
  constexpr long long kCostBound = 32ll << 20;
  for (const Case& c : cases) {
    Decoder dec(c.attr);
    ASSERT_NE(dec.h, nullptr);
    ASSERT_TRUE(test::resetPeakResident());
    const long long before = test::residentBytes();
    H264DecOutput out;
    const int32_t result = dec.decode(huge, out);
    const long long grew = test::peakResidentBytes() - before;
    if (c.refused) {
      EXPECT_NE(result, 0) << c.name;
      EXPECT_LT(grew, kRefusedBound) << c.name;
    } else {
      EXPECT_GT(grew, kCostBound) << c.name << ": the fixture no longer shows the cost";
    }
  }
}

// Damage is reported as no picture or as a flagged picture, never as a good
// one, and the decoder recovers at the next key unit.
TEST(H264Decoder, CorruptUnitsAreFlaggedAndTheNextKeyRecovers) {
  const H264Stream s = encodeTestStream(176, 144, 24, 12);
  ASSERT_EQ(s.units.size(), 24u);
  ASSERT_TRUE(s.key[0] && s.key[12]);
  const auto reference = referenceDecode(s.units, 176, 144);
  Decoder dec(playerAttr());
  H264DecOutput out;

  std::vector<uint8_t> garbage(4000);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 7 + 3);
  const int32_t r = dec.decode(garbage, out);
  EXPECT_TRUE(r != 0 || out.error != 0) << "garbage came out as a good picture";

  ASSERT_EQ(dec.decode(s.units[0], out), 0);
  ASSERT_EQ(dec.decode(s.units[1], out), 0);

  // A delta unit cut in half: its slice data ends early.
  std::vector<uint8_t> cut(s.units[2].begin(), s.units[2].begin() + s.units[2].size() / 2);
  const int32_t rc = dec.decode(cut, out);
  EXPECT_TRUE(rc != 0 || out.error != 0) << "truncated unit came out as a good picture";

  // A delta with its slice payload overwritten.
  std::vector<uint8_t> smashed = s.units[3];
  for (size_t i = smashed.size() / 3; i < smashed.size(); ++i) smashed[i] = 0xFF;
  const int32_t rs = dec.decode(smashed, out);
  EXPECT_TRUE(rs != 0 || out.error != 0) << "smashed unit came out as a good picture";

  ASSERT_EQ(dec.decode(s.units[12], out), 0);
  EXPECT_EQ(out.error, 0u);
  EXPECT_TRUE(packedPicture(out) == reference[12]);
}

}  // namespace
}  // namespace tavolen::platform
