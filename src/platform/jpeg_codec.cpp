#include "platform/jpeg_codec.h"

#include <turbojpeg.h>

#include <climits>

namespace tavolen::platform {

JpegCodec::JpegCodec() : decoder_(tjInitDecompress()), encoder_(nullptr) {}

JpegCodec::~JpegCodec() {
  if (decoder_ != nullptr) tjDestroy(decoder_);
  if (encoder_ != nullptr) tjDestroy(encoder_);
}

bool JpegCodec::decode(const uint8_t* data, size_t length, JpegPicture& out) {
  out.width = 0;
  out.height = 0;
  int width = 0, height = 0, subsampling = 0, colorspace = 0;
  const bool accepted =
      decoder_ != nullptr && data != nullptr && length != 0 && length <= ULONG_MAX &&
      tjDecompressHeader3(decoder_, data, static_cast<unsigned long>(length), &width, &height,
                          &subsampling, &colorspace) == 0 &&
      width > 0 && height > 0 && width <= kMaxJpegSide && height <= kMaxJpegSide &&
      static_cast<int64_t>(width) * height <= kMaxJpegPixels;
  if (!accepted) {
    out.pixels.clear();
    return false;
  }
  // Same size as before: nothing is allocated or cleared, every pixel is
  // written by the decode.
  out.pixels.resize(static_cast<size_t>(width) * height * 4);
  if (tjDecompress2(decoder_, data, static_cast<unsigned long>(length), out.pixels.data(), width,
                    width * 4, height, TJPF_BGRX, 0) != 0) {
    // A picture cut short still decodes its upper part; only a hard failure
    // counts as undecodable.
    if (tjGetErrorCode(decoder_) != TJERR_WARNING) {
      out.pixels.clear();
      return false;
    }
  }
  out.width = width;
  out.height = height;
  return true;
}

std::vector<uint8_t> JpegCodec::encode(const uint8_t* pixels, int width, int height, int quality) {
  if (encoder_ == nullptr) encoder_ = tjInitCompress();
  if (encoder_ == nullptr || pixels == nullptr || width <= 0 || height <= 0 ||
      width > kMaxJpegSide || height > kMaxJpegSide)
    return {};
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  if (tjCompress2(encoder_, pixels, width, width * 4, height, TJPF_BGRX, &jpeg, &size, TJSAMP_420,
                  quality, 0) != 0) {
    tjFree(jpeg);
    return {};
  }
  std::vector<uint8_t> result(jpeg, jpeg + size);
  tjFree(jpeg);
  return result;
}

}  // namespace tavolen::platform
