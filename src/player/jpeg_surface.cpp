#include "player/jpeg_surface.h"

#include <cstring>
#include <vector>

namespace tavolen {

void stretchPicture(const platform::JpegPicture& pic, platform::PictureSurface& surface) {
  const int W = surface.width(), H = surface.height();
  if (pic.width <= 0 || pic.height <= 0) return;
  const auto* src = reinterpret_cast<const uint32_t*>(pic.pixels.data());
  if (pic.width == W && pic.height == H) {
    for (int y = 0; y < H; ++y)
      std::memcpy(surface.row(y), src + static_cast<size_t>(y) * W, static_cast<size_t>(W) * 4);
    return;
  }
  std::vector<int> columns(W);
  for (int x = 0; x < W; ++x)
    columns[x] = static_cast<int>((static_cast<int64_t>(2 * x + 1) * pic.width) / (2 * W));
  for (int y = 0; y < H; ++y) {
    const int sy = static_cast<int>((static_cast<int64_t>(2 * y + 1) * pic.height) / (2 * H));
    const uint32_t* row = src + static_cast<size_t>(sy) * pic.width;
    auto* out = reinterpret_cast<uint32_t*>(surface.row(y));
    for (int x = 0; x < W; ++x) out[x] = row[columns[x]];
  }
}

JpegSurface::JpegSurface() = default;
JpegSurface::~JpegSurface() = default;

bool JpegSurface::begin(const void* windowHandle) {
  window_ = platform::windowHandles().share(windowHandle);
  if (window_ == nullptr) return false;
  const platform::WindowSize size = window_->clientSize();
  if (size.width <= 0 || size.height <= 0) return false;
  if (bitmap_ == nullptr || bitmap_->width() != size.width || bitmap_->height() != size.height)
    bitmap_ = platform::PictureSurface::create(size.width, size.height);
  if (bitmap_ == nullptr) return false;
  for (int32_t y = 0; y < bitmap_->height(); ++y)
    std::memset(bitmap_->row(y), 0, static_cast<size_t>(bitmap_->width()) * 4);
  return true;
}

int32_t JpegSurface::width() const { return bitmap_ != nullptr ? bitmap_->width() : 0; }
int32_t JpegSurface::height() const { return bitmap_ != nullptr ? bitmap_->height() : 0; }

void JpegSurface::drawPicture(const platform::JpegPicture& pic) {
  if (bitmap_ != nullptr) stretchPicture(pic, *bitmap_);
}

void JpegSurface::drawText(const OsdItem& item, std::u32string_view text,
                           const OsdPlacement& placement) {
  if (bitmap_ == nullptr || text.empty()) return;
  if (text_ == nullptr) text_ = platform::createTextDrawer();
  if (text_ == nullptr) return;
  drawOsdText(*text_, *bitmap_, osdItemFont(item), text, placement, {item.red, item.green, item.blue});
}

bool JpegSurface::show() {
  if (window_ == nullptr || bitmap_ == nullptr) return false;
  const bool shown =
      window_->copyBitmap(bitmap_->pixels(), bitmap_->pitch(), bitmap_->width(), bitmap_->height());
  window_.reset();
  return shown;
}

}  // namespace tavolen
