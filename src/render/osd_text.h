#pragma once
// On-screen text: the 16 caption and time stamp items a renderer draws over
// each picture, after any mirroring, so text is never mirrored.
//
// Coordinates are picture pixels from the picture's top-left corner; the
// fixed positions are laid out inside the shown part of the picture (its
// width W and height H after the view-area crop), the free position uses the
// item's own rectangle.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/text_drawer.h"
#include "platform/video_window.h"
#include "tavolen/types.h"

namespace tavolen {

// Texts converted from an item's UTF-8 fields stop after this many characters.
inline constexpr size_t kMaxOsdChars = 256;
// A picture wider than this shown in a destination narrower than
// kOsdNarrowDestination draws every item at the fixed size below.
inline constexpr int32_t kOsdWidePicture = 1000;
inline constexpr int32_t kOsdNarrowDestination = 700;
inline constexpr int32_t kOsdNarrowFontHeight = 36;
inline constexpr int32_t kOsdNarrowFontWidth = 17;
// Free rectangles are clamped to ±this many pixels (far outside any picture).
inline constexpr int32_t kMaxOsdCoordinate = 1 << 24;

// UTF-8 (at most maxBytes, stopping at a NUL) to characters; malformed bytes
// become U+FFFD; at most kMaxOsdChars characters.
std::u32string decodeUtf8(const char* bytes, size_t maxBytes);

// What a time stamp shows for a time that no calendar date of 1970 onwards
// can show: the renderer clamps it to 1970-01-01 00:00:00; the JPEG player
// takes the seconds as an unsigned 32-bit count, so they wrap.
enum class OsdTimeRange { ClampAtEpoch, Unsigned32 };

// "YYYY-MM-DD hh:mm:ss" of picTime - zoneHours × 3600 seconds since 1970,
// broken down as UTC.
std::string osdTimeText(int64_t picTime, int8_t zoneHours, OsdTimeRange range);

// The characters an item shows: a time stamp's text is its prefix followed by
// timeText; any other kind shows its text. At most kMaxOsdChars.
std::u32string osdItemText(const OsdItem& item, std::string_view timeText);

// The item's face and its own size.
platform::TextFont osdItemFont(const OsdItem& item);
// The renderer's font: the item's, or the fixed size for a wide picture shown
// in a narrow destination.
platform::TextFont osdFont(const OsdItem& item, int32_t picWidth, int32_t destinationWidth);

// Height of the bands the fixed positions lay text out in: the renderer's
// (picture pixels) and the JPEG player's (window client pixels).
inline constexpr int32_t kOsdBandHeight = 34;
inline constexpr int32_t kJpegOsdBandHeight = 24;

struct OsdPlacement {
  platform::WindowRect rect;
  platform::TextAlign align;
};
// The base rectangle and alignment for a position inside a W × H area: the
// five fixed positions are bands of bandHeight pixels 5 pixels in from the
// edges (the centre band around H / 2); any other position is the item's own
// rectangle, bounded to ±kMaxOsdCoordinate.
OsdPlacement osdPlacement(int32_t position, const OsdRect& itemRect, int32_t width, int32_t height,
                          int32_t bandHeight);

// Draws one text: white in the placement's rectangle, then in colour one
// pixel right and down.
void drawOsdText(platform::TextDrawer& drawer, platform::PictureSurface& surface,
                 const platform::TextFont& font, std::u32string_view text,
                 const OsdPlacement& placement, platform::TextColour colour);

struct OsdFrame {
  int64_t picTime;
  int8_t zoneHours;
  int32_t picWidth;
  platform::WindowRect source;       // the shown part of the picture
  platform::WindowRect destination;  // where it is stretched to
};
// Draws every enabled item, slot 0 first.
void drawOsdItems(platform::TextDrawer& drawer, platform::PictureSurface& surface,
                  const OsdItem (&items)[OSD_SLOT_COUNT], const bool (&enabled)[OSD_SLOT_COUNT],
                  const OsdFrame& frame);

}  // namespace tavolen
