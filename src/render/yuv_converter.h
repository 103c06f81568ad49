#pragma once
// Planar 4:2:0 to 32-bit pixel conversion, table driven, with SIMD paths that
// give the same bytes as the tables for every input.
//
// Picture layout (the player packs decoded pictures this way): the luma plane,
// width × height bytes, row stride = width; then the first chroma plane, then
// the second, each chromaWidth × chromaHeight bytes with stride chromaWidth,
// where chromaWidth = (width + 1) / 2 and chromaHeight = (height + 1) / 2. For
// even sizes this is width / 2 × height / 2 at offsets width × height and
// width × height × 5 / 4. Pixel (x, y) takes the chroma sample (x / 2, y / 2),
// so the last column or row of an odd-sized picture shares its own chroma
// sample between one pixel (or two) instead of four.
//
// Output pixel bytes: 0 = clip[(y + tabC1Byte0[C1]) >> 16],
// 1 = clip[(y - tabC1Byte1[C1] - tabC2Byte1[C2]) >> 16],
// 2 = clip[(y + tabC2Byte2[C2]) >> 16], 3 = 0, with y = tabY[Y].
//
// All functions are thread safe; the tables never change once filled.

#include <cstddef>
#include <cstdint>

namespace tavolen {

struct PlanarLayout {
  int32_t chromaWidth;
  int32_t chromaHeight;
  size_t firstChromaOffset;
  size_t secondChromaOffset;
  size_t totalBytes;
};
// Layout of a width × height picture; sizes must be positive.
PlanarLayout planarLayout(int32_t width, int32_t height);

struct ColorTables {
  int32_t tabY[256];
  int32_t tabC1Byte0[256];
  int32_t tabC2Byte2[256];
  int32_t tabC2Byte1[256];
  int32_t tabC1Byte1[256];
  uint8_t clipStorage[1024];
  // clip[i] for i in -384..639.
  const uint8_t* clip() const { return clipStorage + 384; }
};

// A 4:2:0 picture as three planes with their own row strides, e.g. a decoder's
// padded rows, read in place. The chroma planes hold (width + 1) / 2 ×
// (height + 1) / 2 samples, pixel (x, y) taking sample (x / 2, y / 2) as above.
// The caller owns the planes.
struct PlanarPicture {
  const uint8_t* luma = nullptr;
  const uint8_t* c1 = nullptr;
  const uint8_t* c2 = nullptr;
  ptrdiff_t lumaStride = 0;
  ptrdiff_t chromaStride = 0;
  int32_t width = 0;
  int32_t height = 0;
};
// The planes of a picture in the packed layout above.
PlanarPicture packedPicture(const uint8_t* picture, int32_t width, int32_t height);

// Fills the shared tables once (later calls only return them).
const ColorTables& initColorTables();

enum class ConvertPath { Table, Sse2, Avx2, Avx512 };

bool convertPathAvailable(ConvertPath path);
// The fastest path this CPU runs, chosen once from its features.
ConvertPath bestConvertPath();

// Converts the picture (layout above) into width × height pixels at out, row r
// at out + r × pitch. An unavailable path falls back to the table path.
void convertPicture(ConvertPath path, const uint8_t* picture, int32_t width, int32_t height,
                    uint8_t* out, ptrdiff_t pitch);
inline void convertPicture(const uint8_t* picture, int32_t width, int32_t height, uint8_t* out,
                           ptrdiff_t pitch) {
  convertPicture(bestConvertPath(), picture, width, height, out, pitch);
}
// The same for a picture in planes; nothing is written when a plane is null or
// a side is below 1.
void convertPicture(ConvertPath path, const PlanarPicture& picture, uint8_t* out, ptrdiff_t pitch);
inline void convertPicture(const PlanarPicture& picture, uint8_t* out, ptrdiff_t pitch) {
  convertPicture(bestConvertPath(), picture, out, pitch);
}

}  // namespace tavolen
