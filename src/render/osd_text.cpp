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

std::string osdTimeStamp(std::string_view prefix, int64_t picTime, int8_t zoneHours) {
  int64_t t;
  if (__builtin_sub_overflow(picTime, static_cast<int64_t>(zoneHours) * 3600, &t))
    t = picTime < 0 ? -1 : INT64_MAX;
  if (t < 0) t = 0;
  int64_t year;
  int month, day;
  civilFromDays(t / 86400, year, month, day);
  const int64_t secs = t % 86400;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04lld-%02d-%02d %02d:%02d:%02d", static_cast<long long>(year), month,
                day, static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60),
                static_cast<int>(secs % 60));
  return std::string(prefix) + buf;
}

platform::TextFont osdFont(const OsdItem& item, int32_t picWidth, int32_t destinationWidth) {
  platform::TextFont font;
  font.faceName.assign(item.faceName, strnlen(item.faceName, sizeof item.faceName));
  if (picWidth > kOsdWidePicture && destinationWidth < kOsdNarrowDestination) {
    font.height = kOsdNarrowFontHeight;
    font.width = kOsdNarrowFontWidth;
  } else {
    font.height = item.fontHeight;
    font.width = item.fontWidth;
  }
  return font;
}

OsdPlacement osdPlacement(int32_t position, const OsdRect& r, int32_t w, int32_t h) {
  using platform::TextAlign;
  switch (position) {
    case OsdTopLeft: return {{5, 5, w - 5, 39}, TextAlign::Left};
    case OsdTopRight: return {{5, 5, w - 5, 39}, TextAlign::Right};
    case OsdBottomLeft: return {{5, h - 39, w - 5, h - 5}, TextAlign::Left};
    case OsdBottomRight: return {{5, h - 39, w - 5, h - 5}, TextAlign::Right};
    case OsdCentre: return {{5, h / 2 - 17, w - 5, h / 2 + 17}, TextAlign::Centre};
    default: {
      // Bounded so that the shifted copy's one pixel cannot overflow.
      auto bound = [](int32_t v) { return std::clamp(v, -kMaxOsdCoordinate, kMaxOsdCoordinate); };
      return {{bound(r.left), bound(r.top), bound(r.right), bound(r.bottom)}, TextAlign::Left};
    }
  }
}

void drawOsdText(platform::TextDrawer& drawer, platform::PictureSurface& surface,
                 const platform::TextFont& font, int32_t position, std::u32string_view text,
                 platform::TextColour colour, const platform::WindowRect& source,
                 const OsdRect& itemRect) {
  const OsdPlacement p = osdPlacement(position, itemRect, source.width(), source.height());
  drawer.drawText(surface, font, text, p.rect, p.align, {255, 255, 255});
  const platform::WindowRect shifted{p.rect.left + 1, p.rect.top + 1, p.rect.right + 1,
                                     p.rect.bottom + 1};
  drawer.drawText(surface, font, text, shifted, p.align, colour);
}

void drawOsdItems(platform::TextDrawer& drawer, platform::PictureSurface& surface,
                  const OsdItem (&items)[OSD_SLOT_COUNT], const bool (&enabled)[OSD_SLOT_COUNT],
                  const OsdFrame& frame) {
  for (int i = 0; i < OSD_SLOT_COUNT; ++i) {
    if (!enabled[i]) continue;
    const OsdItem& item = items[i];
    const platform::TextFont font = osdFont(item, frame.picWidth, frame.destination.width());
    std::u32string text;
    if (item.kind == OsdKindTimeStamp) {
      const std::u32string prefix = decodeUtf8(item.text, sizeof item.text);
      std::string stamp = osdTimeStamp("", frame.picTime, frame.zoneHours);
      text = prefix;
      for (char c : stamp) text.push_back(static_cast<unsigned char>(c));
      if (text.size() > kMaxOsdChars) text.resize(kMaxOsdChars);
    } else {
      text = decodeUtf8(item.text, sizeof item.text);
    }
    drawOsdText(drawer, surface, font, item.position, text, {item.red, item.green, item.blue},
                frame.source, item.rect);
  }
}

}  // namespace tavolen
