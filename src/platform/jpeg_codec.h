#pragma once
// JPEG pictures from memory, as 32-bit pixels (bytes blue, green, red, 0 per
// pixel, rows top-down, pitch = width * 4): the layout of window surfaces.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavolen::platform {

// A picture side beyond this is refused rather than allocated: a few header
// bytes could otherwise ask for gigabytes.
inline constexpr int kMaxJpegSide = 8192;
// And so is a picture of more pixels than this (4096 x 4096, 64 MB decoded).
// Camera sensors stop well short of it (12 megapixels and below), while a
// 4 KB frame claiming 8192 x 8192 would otherwise cost 256 MB every frame.
inline constexpr int64_t kMaxJpegPixels = 4096 * 4096;

struct JpegPicture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // width * height * 4
};

// One decoder per thread; a JpegCodec is not shared between threads.
class JpegCodec {
 public:
  JpegCodec();
  ~JpegCodec();
  JpegCodec(const JpegCodec&) = delete;
  JpegCodec& operator=(const JpegCodec&) = delete;

  // False for data that is not a decodable JPEG or whose header exceeds
  // kMaxJpegSide or kMaxJpegPixels (found before anything is allocated for
  // it); out is then left 0 x 0 and empty. out's pixel buffer is reused: a
  // caller that decodes into the same picture again allocates nothing unless
  // the picture grew.
  bool decode(const uint8_t* data, size_t length, JpegPicture& out);

  // Encodes 32-bit pixels (as above) at the given quality; empty on failure.
  std::vector<uint8_t> encode(const uint8_t* pixels, int width, int height, int quality);

 private:
  void* decoder_;
  void* encoder_;
};

}  // namespace tavolen::platform
