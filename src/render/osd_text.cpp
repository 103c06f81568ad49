#include "render/osd_text.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace tavolen {

std::u32string decodeUtf8(const char* bytes, size_t maxBytes) {
  std::u32string out;
  if (!bytes) return out;
  const size_t n = strnlen(bytes, maxBytes);
  const auto* s = reinterpret_cast<const unsigned char*>(bytes);
  size_t i = 0;
  while (i < n && out.size() < kMaxOsdChars) {
    const unsigned char b = s[i];
    int extra = 0;
    char32_t c = 0, min = 0;
    if (b < 0x80) { out.push_back(b); ++i; continue; }
    if ((b & 0xE0) == 0xC0) { extra = 1; c = b & 0x1F; min = 0x80; }
    else if ((b & 0xF0) == 0xE0) { extra = 2; c = b & 0x0F; min = 0x800; }
    else if ((b & 0xF8) == 0xF0) { extra = 3; c = b & 0x07; min = 0x10000; }
    else { out.push_back(U'\uFFFD'); ++i; continue; }
    size_t j = 1;
    for (; j <= static_cast<size_t>(extra) && i + j < n && (s[i + j] & 0xC0) == 0x80; ++j)
      c = (c << 6) | (s[i + j] & 0x3F);
    if (j != static_cast<size_t>(extra) + 1 || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      out.push_back(U'\uFFFD');
      i += j;  // the lead byte and the continuation bytes seen so far
      continue;
    }
    out.push_back(c);
    i += j;
  }
  return out;
}

namespace {
// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void civilFromDays(int64_t z, int64_t& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = yoe + era * 400 + (month <= 2 ? 1 : 0);
}
}  // namespace

std::string osdTimeText(int64_t picTime, int8_t zoneHours, OsdTimeRange range) {
  int64_t t;
  if (range == OsdTimeRange::Unsigned32) {
    t = static_cast<uint32_t>(static_cast<uint64_t>(picTime) - static_cast<uint64_t>(zoneHours * 3600));
  } else {
    if (__builtin_sub_overflow(picTime, static_cast<int64_t>(zoneHours) * 3600, &t))
      t = picTime < 0 ? -1 : INT64_MAX;
    if (t < 0) t = 0;
  }
  int64_t year;
  int month, day;
  civilFromDays(t / 86400, year, month, day);
  const int64_t secs = t % 86400;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04lld-%02d-%02d %02d:%02d:%02d", static_cast<long long>(year), month,
                day, static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60),
                static_cast<int>(secs % 60));
  return buf;
}

std::u32string osdItemText(const OsdItem& item, std::string_view timeText) {
  std::u32string text = decodeUtf8(item.text, sizeof item.text);
  if (item.kind != OsdKindTimeStamp) return text;
  for (char c : timeText) text.push_back(static_cast<unsigned char>(c));
  if (text.size() > kMaxOsdChars) text.resize(kMaxOsdChars);
  return text;
}

platform::TextFont osdItemFont(const OsdItem& item) {
  platform::TextFont font;
  font.faceName.assign(item.faceName, strnlen(item.faceName, sizeof item.faceName));
  font.height = item.fontHeight;
  font.width = item.fontWidth;
  return font;
}

platform::TextFont osdFont(const OsdItem& item, int32_t picWidth, int32_t destinationWidth) {
  platform::TextFont font = osdItemFont(item);
  if (picWidth > kOsdWidePicture && destinationWidth < kOsdNarrowDestination) {
    font.height = kOsdNarrowFontHeight;
    font.width = kOsdNarrowFontWidth;
  }
  return font;
}

namespace {

enum class Band { Top, Bottom, Middle };

struct FixedPosition {
  int32_t position;
  Band band;
  platform::TextAlign align;
};

constexpr FixedPosition kFixedPositions[] = {
    {OsdTopLeft, Band::Top, platform::TextAlign::Left},
    {OsdTopRight, Band::Top, platform::TextAlign::Right},
    {OsdBottomLeft, Band::Bottom, platform::TextAlign::Left},
    {OsdBottomRight, Band::Bottom, platform::TextAlign::Right},
    {OsdCentre, Band::Middle, platform::TextAlign::Centre},
};

constexpr int32_t kOsdInset = 5;

}  // namespace

OsdPlacement osdPlacement(int32_t position, const OsdRect& r, int32_t w, int32_t h,
                          int32_t bandHeight) {
  for (const FixedPosition& f : kFixedPositions) {
    if (f.position != position) continue;
    int32_t top = kOsdInset;
    if (f.band == Band::Bottom) top = h - kOsdInset - bandHeight;
    if (f.band == Band::Middle) top = h / 2 - bandHeight / 2;
    return {{kOsdInset, top, w - kOsdInset, top + bandHeight}, f.align};
  }
  // Bounded so that the shifted copy's one pixel cannot overflow.
  auto bound = [](int32_t v) { return std::clamp(v, -kMaxOsdCoordinate, kMaxOsdCoordinate); };
  return {{bound(r.left), bound(r.top), bound(r.right), bound(r.bottom)}, platform::TextAlign::Left};
}

void drawOsdText(platform::TextDrawer& drawer, platform::PictureSurface& surface,
                 const platform::TextFont& font, std::u32string_view text,
                 const OsdPlacement& placement, platform::TextColour colour) {
  const platform::WindowRect& r = placement.rect;
  drawer.drawText(surface, font, text, r, placement.align, {255, 255, 255});
  const platform::WindowRect shifted{r.left + 1, r.top + 1, r.right + 1, r.bottom + 1};
  drawer.drawText(surface, font, text, shifted, placement.align, colour);
}

void drawOsdItems(platform::TextDrawer& drawer, platform::PictureSurface& surface,
                  const OsdItem (&items)[OSD_SLOT_COUNT], const bool (&enabled)[OSD_SLOT_COUNT],
                  const OsdFrame& frame) {
  const std::string timeText = osdTimeText(frame.picTime, frame.zoneHours, OsdTimeRange::ClampAtEpoch);
  for (int i = 0; i < OSD_SLOT_COUNT; ++i) {
    if (!enabled[i]) continue;
    const OsdItem& item = items[i];
    const OsdPlacement placement = osdPlacement(item.position, item.rect, frame.source.width(),
                                                frame.source.height(), kOsdBandHeight);
    drawOsdText(drawer, surface, osdFont(item, frame.picWidth, frame.destination.width()),
                osdItemText(item, timeText), placement, {item.red, item.green, item.blue});
  }
}

}  // namespace tavolen
