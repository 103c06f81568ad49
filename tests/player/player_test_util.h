#pragma once
// Shared helpers of the player suites.

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "support/wait_until.h"
#include "tavolen/player.h"

namespace tavolen::test {

inline PlayerCounters counters(PlayerHandle p) {
  PlayerCounters c{};
  x_player_getCounters(p, &c);
  return c;
}

// The picture conversion written out per pixel from the colour formulas
// (BT.601 limited range in 16.16 fixed point, first chroma plane into byte 0),
// as a 32-bit bottom-up BMP: what a snapshot of that picture holds.
inline std::vector<uint8_t> expectedBmp(const std::vector<uint8_t>& yuv, int w, int h) {
  auto clip = [](int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
  std::vector<uint8_t> bmp(54 + static_cast<size_t>(w) * h * 4, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bmp[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  bmp[0] = 'B';
  bmp[1] = 'M';
  put32(2, static_cast<uint32_t>(bmp.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(w));
  put32(22, static_cast<uint32_t>(h));
  bmp[26] = 1;
  bmp[28] = 32;
  put32(34, static_cast<uint32_t>(w * h * 4));
  const uint8_t* Y = yuv.data();
  const uint8_t* C1 = Y + w * h;
  const uint8_t* C2 = C1 + (w / 2) * (h / 2);
  for (int r = 0; r < h; ++r) {
    uint8_t* out = bmp.data() + 54 + static_cast<size_t>(h - 1 - r) * w * 4;
    for (int x = 0; x < w; ++x) {
      const int y = (Y[r * w + x] - 16) * 76309;
      const int c1 = C1[(r / 2) * (w / 2) + x / 2] - 128;
      const int c2 = C2[(r / 2) * (w / 2) + x / 2] - 128;
      out[4 * x + 0] = clip((y + c1 * 104597) >> 16);
      out[4 * x + 1] = clip((y - c1 * 53279 - c2 * 25675) >> 16);
      out[4 * x + 2] = clip((y + c2 * 132201) >> 16);
      out[4 * x + 3] = 0;
    }
  }
  return bmp;
}

}  // namespace tavolen::test
