#pragma once
// Text drawn into a 32-bit picture surface, the way a caption is drawn over a
// video picture: one line per '\n', lines top aligned inside a rectangle,
// each line aligned left, right or centred, clipped to the rectangle and the
// surface, no word wrap, transparent background.
//
// Fonts are named by face name (UTF-8). A name that no installed font carries
// resolves to a substitute; CJK face names resolve to an installed CJK serif
// face. Characters the chosen face lacks come from fallback faces that always
// cover Latin and CJK text.
//
// Size, as a caption font is asked for: height > 0 is the cell height (ascent
// plus descent) in pixels, height < 0 the character height (em) in pixels,
// height 0 a default of 16 pixels of cell; width is the average character
// width in pixels (0: the face's own proportions).
//
// Threads: one drawer is used by one thread at a time (the renderer calls it
// under its player's render lock). Faces, sizes and rendered glyphs are cached
// inside the drawer; face name lookups are cached process wide.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/video_window.h"

namespace tavolen::platform {

// Font sizes beyond this many pixels (either sign) are clamped to it.
inline constexpr int32_t kMaxFontPixels = 512;

struct TextFont {
  std::string faceName;
  int32_t height = 0;
  int32_t width = 0;
  friend bool operator==(const TextFont&, const TextFont&) = default;
};

enum class TextAlign { Left, Right, Centre };

struct TextColour {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
};

class TextDrawer {
 public:
  virtual ~TextDrawer() = default;
  virtual void drawText(PictureSurface& surface, const TextFont& font, std::u32string_view text,
                        const WindowRect& rect, TextAlign align, TextColour colour) = 0;
  // The width of the widest line and the total height in pixels, as drawText
  // lays them out.
  virtual WindowSize measureText(const TextFont& font, std::u32string_view text) = 0;
};

// The FreeType and fontconfig drawer; null when FreeType cannot start.
std::unique_ptr<TextDrawer> createTextDrawer();

// The font file a face name resolves to (for diagnostics and tests).
std::string resolvedFontFile(const std::string& faceName);

}  // namespace tavolen::platform
