#include "render/osd_text.h"

#include <gtest/gtest.h>

#include <cstring>

#include "render/ddraw_renderer.h"
#include "render_fixture.h"

namespace tavolen {
namespace {

using platform::TextAlign;
using platform::WindowRect;

// The renderer lays text out in picture pixels with 34-pixel bands, the JPEG
// player in window client pixels with 24-pixel bands; one table serves both.
TEST(OsdPlacement, FixedPositionsAndTheFreeRectangle) {
  const OsdRect free{30, 40, 300, 90};
  struct Case {
    int32_t position, width, height, band;
    WindowRect rect;
    TextAlign align;
  } cases[] = {
      {OsdTopLeft, 1280, 720, kOsdBandHeight, {5, 5, 1275, 39}, TextAlign::Left},
      {OsdTopRight, 1280, 720, kOsdBandHeight, {5, 5, 1275, 39}, TextAlign::Right},
      {OsdBottomLeft, 1280, 720, kOsdBandHeight, {5, 681, 1275, 715}, TextAlign::Left},
      {OsdBottomRight, 1280, 720, kOsdBandHeight, {5, 681, 1275, 715}, TextAlign::Right},
      {OsdCentre, 1280, 720, kOsdBandHeight, {5, 343, 1275, 377}, TextAlign::Centre},
      {OsdCentre, 100, 75, kOsdBandHeight, {5, 20, 95, 54}, TextAlign::Centre},  // H / 2 truncates
      {0, 1280, 720, kOsdBandHeight, {30, 40, 300, 90}, TextAlign::Left},
      {15, 1280, 720, kOsdBandHeight, {30, 40, 300, 90}, TextAlign::Left},
      {OsdTopLeft, 640, 480, kJpegOsdBandHeight, {5, 5, 635, 29}, TextAlign::Left},
      {OsdTopRight, 640, 480, kJpegOsdBandHeight, {5, 5, 635, 29}, TextAlign::Right},
      {OsdBottomLeft, 640, 480, kJpegOsdBandHeight, {5, 451, 635, 475}, TextAlign::Left},
      {OsdBottomRight, 640, 480, kJpegOsdBandHeight, {5, 451, 635, 475}, TextAlign::Right},
      {OsdCentre, 640, 480, kJpegOsdBandHeight, {5, 228, 635, 252}, TextAlign::Centre},
      {0, 640, 480, kJpegOsdBandHeight, {30, 40, 300, 90}, TextAlign::Left},
      {15, 640, 480, kJpegOsdBandHeight, {30, 40, 300, 90}, TextAlign::Left},
  };
  for (const Case& c : cases) {
    const OsdPlacement p = osdPlacement(c.position, free, c.width, c.height, c.band);
    EXPECT_EQ(p.rect, c.rect) << c.position << " band " << c.band;
    EXPECT_EQ(p.align, c.align) << c.position << " band " << c.band;
  }
  // Free rectangles far outside any picture are bounded, not overflowed.
  const OsdRect extreme{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
  for (int32_t band : {kOsdBandHeight, kJpegOsdBandHeight})
    EXPECT_EQ(osdPlacement(0, extreme, 10, 10, band).rect,
              (WindowRect{-kMaxOsdCoordinate, -kMaxOsdCoordinate, kMaxOsdCoordinate, kMaxOsdCoordinate}));
}

TEST(OsdFont, NarrowDestinationForcesTheFixedSize) {
  OsdItem item{};
  std::strcpy(item.faceName, "Face");
  item.fontHeight = 20;
  item.fontWidth = 9;
  struct Case {
    int32_t picWidth, destWidth, height, width;
  } cases[] = {
      {1920, 640, 36, 17}, {1920, 699, 36, 17}, {1920, 700, 20, 9},
      {1000, 300, 20, 9},  {1001, 100, 36, 17}, {640, 320, 20, 9},
  };
  for (const Case& c : cases) {
    const platform::TextFont f = osdFont(item, c.picWidth, c.destWidth);
    EXPECT_EQ(f.height, c.height) << c.picWidth << " in " << c.destWidth;
    EXPECT_EQ(f.width, c.width) << c.picWidth << " in " << c.destWidth;
    EXPECT_EQ(f.faceName, "Face");
  }
  // A face name that fills its field without a NUL stops at the field's end.
  std::memset(item.faceName, 'a', sizeof item.faceName);
  EXPECT_EQ(osdFont(item, 10, 10).faceName, std::string(24, 'a'));
}

// Picture time less the zone's hours, as UTC. The renderer shows a time
// before 1970 as the epoch; the JPEG player's seconds are unsigned 32-bit and
// wrap.
TEST(OsdTimeText, PictureTimeLessZoneHoursAsUtc) {
  constexpr OsdTimeRange kClamp = OsdTimeRange::ClampAtEpoch;
  constexpr OsdTimeRange kWrap = OsdTimeRange::Unsigned32;
  struct Case {
    int64_t picTime;
    int8_t zone;
    OsdTimeRange range;
    const char* text;
  } cases[] = {
      {1688465109, -8, kClamp, "2023-07-04 18:05:09"},
      {1688465109, 0, kClamp, "2023-07-04 10:05:09"},
      {1688465109, 8, kClamp, "2023-07-04 02:05:09"},
      {0, 0, kClamp, "1970-01-01 00:00:00"},
      {951782400, 0, kClamp, "2000-02-29 00:00:00"},
      {4294967295LL, 0, kClamp, "2106-02-07 06:28:15"},
      {3600, 2, kClamp, "1970-01-01 00:00:00"},  // negative: shown as the epoch
      {-5, 0, kClamp, "1970-01-01 00:00:00"},
      {INT64_MIN, 127, kClamp, "1970-01-01 00:00:00"},
      {1000000000, 0, kWrap, "2001-09-09 01:46:40"},
      {1000000000, -8, kWrap, "2001-09-09 09:46:40"},
      {1688465109, -8, kWrap, "2023-07-04 18:05:09"},
      {0, 0, kWrap, "1970-01-01 00:00:00"},
      {0, 1, kWrap, "2106-02-07 05:28:16"},  // an hour before 1970 wraps into 2106
      {4294967295LL, -1, kWrap, "1970-01-01 00:59:59"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(osdTimeText(c.picTime, c.zone, c.range), c.text) << c.picTime << " " << int{c.zone};
}

// A time stamp shows its text as a prefix; other kinds show their text alone.
TEST(OsdItemText, TimeStampsPrefixTheirText) {
  OsdItem stamp{};
  stamp.kind = OsdKindTimeStamp;
  std::snprintf(stamp.text, sizeof stamp.text, "Cam1 ");
  OsdItem caption = stamp;
  caption.kind = OsdKindText;
  EXPECT_EQ(osdItemText(stamp, "2023-07-04 02:05:09"), U"Cam1 2023-07-04 02:05:09");
  EXPECT_EQ(osdItemText(caption, "2023-07-04 02:05:09"), U"Cam1 ");
  // A prefix that fills its field without a NUL stops at the field's end.
  std::memset(stamp.text, 'p', sizeof stamp.text);
  EXPECT_EQ(osdItemText(stamp, "T"), std::u32string(sizeof stamp.text, U'p') + U"T");
}

TEST(OsdUtf8, DecodesAndReplacesMalformedBytes) {
  struct Case {
    const char* bytes;
    std::u32string text;
  } cases[] = {
      {"abc", U"abc"},
      {"\xE5\xAE\x8B\xE4\xBD\x93", U"宋体"},
      {"\xF0\x9F\x98\x80", U"\U0001F600"},
      {"a\xFF" "b", U"a\uFFFDb"},
      {"\xC0\x80", U"\uFFFD"},             // overlong NUL
      {"\xED\xA0\x80", U"\uFFFD"},         // surrogate
      {"\xE5\xAE", U"\uFFFD"},             // cut short
      {"\xE5" "a", U"\uFFFDa"},
  };
  for (const Case& c : cases) EXPECT_EQ(decodeUtf8(c.bytes, 128), c.text) << c.bytes;
  char unterminated[8];
  std::memset(unterminated, 'x', sizeof unterminated);
  EXPECT_EQ(decodeUtf8(unterminated, sizeof unterminated), U"xxxxxxxx");
  const std::string longText(1000, 'y');
  EXPECT_EQ(decodeUtf8(longText.c_str(), longText.size()).size(), kMaxOsdChars);
}

// ---- drawn through the renderer ----

OsdItem textItem(int32_t position, const char* text, int32_t height = 20) {
  OsdItem item{};
  std::strcpy(item.faceName, "DejaVu Sans");
  item.fontHeight = height;
  item.red = 255;
  item.position = position;
  std::snprintf(item.text, sizeof item.text, "%s", text);
  return item;
}

// The rectangle of window pixels that differ from a plain black picture.
struct Band {
  int32_t left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;
  bool empty() const { return right < 0; }
};

Band changedBand(const test::Window& w) {
  Band b;
  const auto px = w.pixels();
  for (int32_t y = 0; y < w.height(); ++y)
    for (int32_t x = 0; x < w.width(); ++x)
      if (px[y * w.width() + x] != 0) {
        b.left = std::min(b.left, x);
        b.right = std::max(b.right, x);
        b.top = std::min(b.top, y);
        b.bottom = std::max(b.bottom, y);
      }
  return b;
}

Band drawnBand(CDDrawRenderer& r, int32_t effect = 0) {
  test::Window win(320, 240);
  const test::Picture black = test::flatPicture(320, 240, 16);
  r.setRenderEffect(effect);
  EXPECT_TRUE(r.renderPicture(black.planes.data(), 320, 240, win.handle()));
  r.present();
  return changedBand(win);
}

TEST(OsdDrawing, TextLandsInItsBandAndIsNeverMirrored) {
  struct Case {
    int32_t position;
    int32_t effect;
    int32_t minX, minY, maxX, maxY;  // the base rectangle grown by the shifted copy
  } cases[] = {
      {OsdTopLeft, 0, 5, 5, 160, 40},      {OsdTopLeft, 1, 5, 5, 160, 40},
      {OsdTopLeft, 3, 5, 5, 160, 40},      {OsdTopRight, 0, 160, 5, 315, 40},
      {OsdBottomLeft, 2, 5, 201, 160, 235}, {OsdBottomRight, 0, 160, 201, 315, 235},
      {OsdCentre, 0, 100, 103, 220, 137},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "position " << c.position << " effect " << c.effect);
    CDDrawRenderer r;
    const OsdItem item = textItem(c.position, "Tavolen 12");
    ASSERT_EQ(r.setOsdString(4, &item), 1);
    const Band b = drawnBand(r, c.effect);
    ASSERT_FALSE(b.empty());
    EXPECT_GE(b.left, c.minX);
    EXPECT_GE(b.top, c.minY);
    EXPECT_LE(b.right, c.maxX);
    EXPECT_LE(b.bottom, c.maxY);
  }
}

TEST(OsdDrawing, ColouredCopyLiesOnePixelRightAndDownOfTheWhiteOne) {
  CDDrawRenderer r;
  OsdItem item = textItem(OsdTopLeft, "l");
  item.red = 0;
  item.blue = 255;  // pure blue: byte 0
  r.setOsdString(0, &item);
  test::Window win(64, 48);
  const test::Picture black = test::flatPicture(64, 48, 16);
  ASSERT_TRUE(r.renderPicture(black.planes.data(), 64, 48, win.handle()));
  r.present();
  const auto px = win.pixels();
  // The topmost leftmost lit pixel is white; somewhere the blue copy shows.
  const Band b = changedBand(win);
  bool white = false, blue = false;
  for (int32_t x = b.left; x <= b.right; ++x) white |= px[b.top * 64 + x] == 0x00FFFFFFu;
  for (uint32_t p : px) blue |= p == 0x000000FFu;
  EXPECT_TRUE(white);
  EXPECT_TRUE(blue);
}

TEST(OsdDrawing, RemovedSlotReEnabledUsesTheNewRecord) {
  CDDrawRenderer r;
  const OsdItem top = textItem(OsdTopLeft, "TOP");
  const OsdItem bottom = textItem(OsdBottomLeft, "BOTTOM");
  r.setOsdString(2, &top);
  EXPECT_EQ(r.removeOsdstring(2), 1);
  EXPECT_TRUE(drawnBand(r).empty());
  r.setOsdString(2, &bottom);
  const Band b = drawnBand(r);
  ASSERT_FALSE(b.empty());
  EXPECT_GE(b.top, 201);
}

TEST(OsdDrawing, CropKeepsPicturePositionsButNarrowsTheArea) {
  // With 100 pixels cropped on the left of a 320-wide picture, W = 220: a
  // right-aligned text ends by x = 215 of the picture, i.e. 115 of the window.
  CDDrawRenderer r;
  const OsdItem item = textItem(OsdTopRight, "R");
  r.setOsdString(0, &item);
  r.adjustViewArea(100, 0, 0, 0);
  test::Window win(220, 240);
  const test::Picture black = test::flatPicture(320, 240, 16);
  ASSERT_TRUE(r.renderPicture(black.planes.data(), 320, 240, win.handle()));
  r.present();
  const Band b = changedBand(win);
  ASSERT_FALSE(b.empty());
  EXPECT_LE(b.right, 215 - 100 + 1);
  EXPECT_GE(b.right, 215 - 100 - 20);
}

TEST(OsdDrawing, ExtremeItemValuesDrawNothingOutsideThePicture) {
  CDDrawRenderer r;
  OsdItem item = textItem(0, "edge");
  item.rect = {INT32_MAX - 1, INT32_MAX - 1, INT32_MAX, INT32_MAX};
  item.fontWidth = INT32_MIN;
  item.fontHeight = INT32_MIN;
  r.setOsdString(0, &item);
  OsdItem huge = textItem(OsdCentre, "W", INT32_MAX);
  huge.fontWidth = INT32_MAX;
  r.setOsdString(1, &huge);
  test::Window win(64, 48);
  const test::Picture black = test::flatPicture(64, 48, 16);
  ASSERT_TRUE(r.renderPicture(black.planes.data(), 64, 48, win.handle()));
  r.present();  // the huge glyph is clipped to the picture
  EXPECT_EQ(win.pixels().size(), 64u * 48);
}

TEST(OsdDrawing, TimeStampUsesThePictureTime) {
  // Two time stamps one second apart draw different pixels; the same time
  // drawn twice draws the same pixels.
  auto draw = [](int64_t t) {
    CDDrawRenderer r;
    OsdItem item = textItem(OsdTopLeft, "");
    item.kind = OsdKindTimeStamp;
    r.setOsdString(1, &item);
    r.setPictureTime(t, -8);
    test::Window win(320, 240);
    const test::Picture black = test::flatPicture(320, 240, 16);
    EXPECT_TRUE(r.renderPicture(black.planes.data(), 320, 240, win.handle()));
    r.present();
    return win.pixels();
  };
  EXPECT_EQ(draw(1688465109), draw(1688465109));
  EXPECT_NE(draw(1688465109), draw(1688465110));
}

}  // namespace
}  // namespace tavolen
