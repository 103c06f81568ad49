#include "platform/text_drawer.h"

#include <gtest/gtest.h>

#include <cstring>

namespace tavolen::platform {
namespace {

// Lit pixels of a surface drawn once with white text on black.
struct Ink {
  int32_t left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;
  int64_t total = 0;
  bool empty() const { return total == 0; }
};

Ink ink(const PictureSurface& s) {
  Ink k;
  for (int32_t y = 0; y < s.height(); ++y)
    for (int32_t x = 0; x < s.width(); ++x) {
      const uint8_t* p = s.row(y) + x * 4;
      if (p[0] | p[1] | p[2]) {
        k.left = std::min(k.left, x);
        k.right = std::max(k.right, x);
        k.top = std::min(k.top, y);
        k.bottom = std::max(k.bottom, y);
        k.total += p[0];
      }
    }
  return k;
}

class TextDrawerTest : public testing::Test {
 protected:
  void SetUp() override {
    drawer_ = createTextDrawer();
    ASSERT_TRUE(drawer_);
  }
  Ink draw(const TextFont& f, std::u32string_view text, WindowRect rect, TextAlign align,
           int32_t w = 200, int32_t h = 60) {
    auto s = PictureSurface::create(w, h);
    drawer_->drawText(*s, f, text, rect, align, {255, 255, 255});
    return ink(*s);
  }
  std::unique_ptr<TextDrawer> drawer_;
};

TEST(FontLookup, CjkFaceNamesResolveToTheInstalledCjkSerifFace) {
  for (const char* name : {"宋体", "新宋体", "SimSun", "楷体"})
    EXPECT_NE(resolvedFontFile(name).find("uming"), std::string::npos) << name;
  EXPECT_NE(resolvedFontFile("DejaVu Sans").find("DejaVuSans"), std::string::npos);
  EXPECT_FALSE(resolvedFontFile("No Such Face 123").empty());
  EXPECT_FALSE(resolvedFontFile("").empty());
}

TEST_F(TextDrawerTest, CellHeightIsTheLineHeight) {
  for (int32_t h : {12, 20, 36}) {
    const WindowSize size = drawer_->measureText({"DejaVu Sans", h, 0}, U"Ag");
    EXPECT_EQ(size.height, h);
    EXPECT_GT(size.width, 0);
  }
  EXPECT_EQ(drawer_->measureText({"DejaVu Sans", 20, 0}, U"a\nb\r\nc").height, 60);
  // Width is the average character width: 17 wide letters are much wider than 6.
  const int32_t narrow = drawer_->measureText({"DejaVu Sans", 36, 6}, U"abcdefgh").width;
  const int32_t wide = drawer_->measureText({"DejaVu Sans", 36, 17}, U"abcdefgh").width;
  EXPECT_NEAR(narrow, 8 * 6, 8);
  EXPECT_NEAR(wide, 8 * 17, 12);
  // Sizes out of range are clamped instead of refused or overflowing.
  EXPECT_EQ(drawer_->measureText({"DejaVu Sans", 1 << 30, 0}, U"x").height, kMaxFontPixels);
}

TEST_F(TextDrawerTest, AlignmentAndClipping) {
  const TextFont f{"DejaVu Sans", 20, 0};
  const int32_t width = drawer_->measureText(f, U"Wide").width;
  const Ink left = draw(f, U"Wide", {10, 5, 190, 40}, TextAlign::Left);
  const Ink right = draw(f, U"Wide", {10, 5, 190, 40}, TextAlign::Right);
  const Ink centre = draw(f, U"Wide", {10, 5, 190, 40}, TextAlign::Centre);
  ASSERT_FALSE(left.empty());
  EXPECT_LE(left.left, 12);
  EXPECT_GE(left.left, 10);
  EXPECT_LE(right.right, 189);
  EXPECT_GE(right.right, 189 - 3);
  EXPECT_NEAR(centre.left, 10 + (180 - width) / 2, 3);
  EXPECT_GE(left.top, 5);
  // Clipped to the rectangle, and to the surface for a rectangle beyond it.
  const Ink clipped = draw(f, U"Wide", {10, 5, 20, 12}, TextAlign::Left);
  EXPECT_LE(clipped.right, 19);
  EXPECT_LE(clipped.bottom, 11);
  const Ink outside = draw(f, U"Wide", {-500, -500, 5000, 5000}, TextAlign::Centre, 8, 8);
  EXPECT_LE(outside.right, 7);
  EXPECT_TRUE(draw(f, U"Wide", {300, 0, 400, 40}, TextAlign::Left).empty());
}

TEST_F(TextDrawerTest, CjkAndLatinAlwaysRenderWhateverTheFace) {
  for (const char* face : {"DejaVu Sans", "宋体", "No Such Face 123", ""}) {
    EXPECT_FALSE(draw({face, 24, 0}, U"中文", {0, 0, 200, 60}, TextAlign::Left).empty()) << face;
    EXPECT_FALSE(draw({face, 24, 0}, U"Abc", {0, 0, 200, 60}, TextAlign::Left).empty()) << face;
  }
  // The CJK glyph of a Latin face comes from the CJK face, at the same em size.
  const Ink viaLatin = draw({"DejaVu Sans", -24, 0}, U"中", {0, 0, 200, 60}, TextAlign::Left);
  const Ink direct = draw({"AR PL UMing CN", -24, 0}, U"中", {0, 0, 200, 60}, TextAlign::Left);
  EXPECT_EQ(viaLatin.right - viaLatin.left, direct.right - direct.left);
  EXPECT_EQ(viaLatin.bottom - viaLatin.top, direct.bottom - direct.top);
  EXPECT_EQ(viaLatin.total, direct.total);
}

TEST_F(TextDrawerTest, SmallSizesOfFacesWithBitmapStrikesDraw) {
  // The caption face at the sizes captions use (height 0 is the default 16
  // pixel cell) comes as one-bit bitmaps, which must light pixels too.
  for (int32_t height : {0, 12, 16, -12, -16}) {
    for (const char32_t* text : {U"Porch", U"\u95e8"}) {
      const Ink k = draw({"\u5b8b\u4f53", height, 0}, text, {0, 0, 200, 60}, TextAlign::Left);
      EXPECT_FALSE(k.empty()) << height;
      EXPECT_LE(k.bottom, 24) << height;
    }
  }
}

TEST_F(TextDrawerTest, ManySizesAndGlyphsStayBounded) {
  // More sizes and characters than the caches hold: the drawer starts its
  // caches over and keeps drawing the same pixels.
  const Ink before = draw({"DejaVu Sans", 20, 0}, U"cache", {0, 0, 200, 60}, TextAlign::Left);
  std::u32string many;
  for (char32_t c = 0x4E00; c < 0x4E00 + 300; ++c) many.push_back(c);
  for (int32_t h = 8; h < 60; ++h) drawer_->measureText({"DejaVu Sans", h, 0}, many);
  const Ink after = draw({"DejaVu Sans", 20, 0}, U"cache", {0, 0, 200, 60}, TextAlign::Left);
  EXPECT_EQ(before.total, after.total);
  EXPECT_EQ(before.left, after.left);
}

}  // namespace
}  // namespace tavolen::platform
