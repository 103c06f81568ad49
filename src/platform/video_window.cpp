#include "platform/video_window.h"

#include <algorithm>

namespace tavolen::platform {

Mirror mirrorForEffect(int32_t effect) {
  return effect >= 1 && effect <= 3 ? static_cast<Mirror>(effect) : Mirror::None;
}

void mirrorPicture(uint8_t* pixels, ptrdiff_t pitch, int32_t width, int32_t height, Mirror mirror) {
  auto row = [&](int32_t y) { return reinterpret_cast<uint32_t*>(pixels + y * pitch); };
  if (mirror == Mirror::LeftRight || mirror == Mirror::Both)
    for (int32_t y = 0; y < height; ++y) std::reverse(row(y), row(y) + width);
  if (mirror == Mirror::UpDown || mirror == Mirror::Both)
    for (int32_t y = 0; y < height / 2; ++y) std::swap_ranges(row(y), row(y) + width, row(height - 1 - y));
}

WindowTable& windowHandles() {
  // Never destroyed: hosts may destroy windows during process exit.
  static WindowTable* table = new WindowTable([](VideoWindow& window) { window.close(); });
  return *table;
}

}  // namespace tavolen::platform
