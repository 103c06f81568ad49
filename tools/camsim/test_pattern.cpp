#include <cstring>

#include "video_source.h"

namespace camsim {

namespace {

// 5x7 glyphs, one byte per row, bit 4 the leftmost column.
struct Glyph {
  char c;
  uint8_t rows[7];
};
constexpr Glyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}}, {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}}, {'#', {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A}},
    {' ', {0, 0, 0, 0, 0, 0, 0}},
};

const uint8_t* glyph(char c) {
  for (const Glyph& g : kFont) {
    if (g.c == c) return g.rows;
  }
  return kFont[sizeof kFont / sizeof kFont[0] - 1].rows;
}

void fillRect(uint8_t* plane, int stride, int w, int h, int x0, int y0, int rw, int rh, uint8_t v) {
  for (int yy = std::max(0, y0); yy < std::min(h, y0 + rh); ++yy) {
    for (int xx = std::max(0, x0); xx < std::min(w, x0 + rw); ++xx) plane[yy * stride + xx] = v;
  }
}

}  // namespace

void drawTestPattern(uint8_t* y, int ys, uint8_t* u, int us, uint8_t* v, int vs, int width,
                     int height, int64_t frame, const char* clockText) {
  // Diagonal luma ramp scrolling one step per frame, so every frame differs.
  const int shift = static_cast<int>(frame * 4);
  for (int row = 0; row < height; ++row) {
    uint8_t* line = y + row * ys;
    for (int col = 0; col < width; ++col) line[col] = static_cast<uint8_t>(((col + row + shift) & 0xFF) / 2 + 64);
  }
  for (int row = 0; row < height / 2; ++row) {
    for (int col = 0; col < width / 2; ++col) {
      u[row * us + col] = static_cast<uint8_t>(64 + (col * 128) / std::max(1, width / 2));
      v[row * vs + col] = static_cast<uint8_t>(64 + (row * 128) / std::max(1, height / 2));
    }
  }
  // A white box bouncing left and right.
  const int box = std::max(8, height / 6);
  const int span = std::max(1, width - box);
  int bx = static_cast<int>((frame * 8) % (2 * span));
  if (bx >= span) bx = 2 * span - bx;
  fillRect(y, ys, width, height, bx, height / 2 - box / 2, box, box, 235);

  // The clock, on a black band at the middle of the left edge: the corners
  // belong to the captions a viewer draws over the picture. Drawn last, so
  // the box passes under it.
  const int scale = std::max(1, height / 120);
  const int len = static_cast<int>(std::strlen(clockText));
  const int top = height / 2 - 9 * scale / 2;
  fillRect(y, ys, width, height, 0, top, (len * 6 + 2) * scale, 9 * scale, 16);
  for (int i = 0; i < len; ++i) {
    const uint8_t* rows = glyph(clockText[i]);
    for (int gy = 0; gy < 7; ++gy) {
      for (int gx = 0; gx < 5; ++gx) {
        if (rows[gy] & (0x10 >> gx)) {
          fillRect(y, ys, width, height, (1 + i * 6 + gx) * scale, top + (1 + gy) * scale, scale, scale, 235);
        }
      }
    }
  }
}

}  // namespace camsim
