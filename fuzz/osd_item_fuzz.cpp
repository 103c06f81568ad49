// On-screen text items come from host programs as raw 188-byte records: any
// bytes must draw (or draw nothing) inside the picture without a fault.
// Input: a picture time (8 bytes), a time-zone byte, a picture width byte,
// then up to two records.
#include <cstdint>
#include <cstring>
#include <vector>

#include "render/ddraw_renderer.h"
#include "render/yuv_converter.h"
#include "tavolen/window.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 10) return 0;
  int64_t picTime;
  std::memcpy(&picTime, data, 8);
  const int8_t zone = static_cast<int8_t>(data[8]);
  const int32_t width = 2 + data[9] % 63;
  data += 10;
  size -= 10;

  static TavolenWindow* window = tavolen_window_create_offscreen(48, 32);
  tavolen::CDDrawRenderer renderer;
  for (int slot = 0; slot < 2 && size > 0; ++slot) {
    OsdItem item{};
    const size_t n = size < sizeof item ? size : sizeof item;
    std::memcpy(&item, data, n);
    // Keep fuzzed sizes small enough for quick runs; the clamps themselves
    // are covered by the tests.
    item.fontHeight %= 64;
    item.fontWidth %= 64;
    renderer.setOsdString(slot, &item);
    data += n;
    size -= n;
  }
  const int32_t height = 24;
  std::vector<uint8_t> picture(tavolen::planarLayout(width, height).totalBytes, 128);
  renderer.setPictureTime(picTime, zone);
  if (renderer.renderPicture(picture.data(), width, height, window)) renderer.present();
  return 0;
}
