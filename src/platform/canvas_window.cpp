#include "platform/canvas_window.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace tavolen::platform {

// ---- PictureSurface ----

std::unique_ptr<PictureSurface> PictureSurface::create(int32_t width, int32_t height) {
  if (width < 1 || height < 1 || width > kMaxSurfaceSide || height > kMaxSurfaceSide) return nullptr;
  constexpr ptrdiff_t kAlign = 64;
  const ptrdiff_t pitch = (static_cast<ptrdiff_t>(width) * 4 + kAlign - 1) / kAlign * kAlign;
  void* memory = std::aligned_alloc(kAlign, static_cast<size_t>(pitch) * height);
  if (!memory) return nullptr;
  std::memset(memory, 0, static_cast<size_t>(pitch) * height);
  return std::unique_ptr<PictureSurface>(
      new (std::nothrow) PictureSurface(width, height, pitch, static_cast<uint8_t*>(memory)));
}

PictureSurface::~PictureSurface() { std::free(pixels_); }

// ---- CanvasWindow ----

CanvasWindow::CanvasWindow(int32_t width, int32_t height)
    : width_(width), height_(height), pixels_(static_cast<size_t>(width) * height, 0u) {}

bool CanvasWindow::visible() const {
  std::lock_guard lock(mutex_);
  return visible_ && !closed_;
}

bool CanvasWindow::screenRect(WindowRect& out) const {
  std::lock_guard lock(mutex_);
  if (closed_) return false;
  out = {x_, y_, x_ + width_, y_ + height_};
  return true;
}

WindowSize CanvasWindow::clientSize() const {
  std::lock_guard lock(mutex_);
  if (closed_) return {};
  return {width_, height_};
}

bool CanvasWindow::closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

void CanvasWindow::invalidate() {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    std::fill(pixels_.begin(), pixels_.end(), 0u);
  }
  onChanged();
}

std::unique_ptr<PictureSurface> CanvasWindow::createSurface(int32_t width, int32_t height) {
  if (closed()) return nullptr;
  return PictureSurface::create(width, height);
}

bool CanvasWindow::stretchCopy(const PictureSurface& surface, const WindowRect& src,
                               const WindowRect& dst) {
  if (src.empty() || src.left < 0 || src.top < 0 || src.right > surface.width() ||
      src.bottom > surface.height())
    return false;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    if (dst.empty()) return true;
    const int64_t sw = src.width(), sh = src.height();
    const int64_t dw = dst.width(), dh = dst.height();
    // Clip the destination to the client area (screen to client coordinates).
    const int32_t cl = std::max(dst.left - x_, 0), ct = std::max(dst.top - y_, 0);
    const int32_t cr = std::min(dst.right - x_, width_), cb = std::min(dst.bottom - y_, height_);
    // Nearest pixel, sampled at pixel centres: a 1:1 copy is exact. Rows of
    // the same width are a plain copy of a span.
    const bool sameWidth = sw == dw;
    std::vector<int32_t> columns;
    if (cl < cr && !sameWidth) columns.resize(static_cast<size_t>(cr - cl));
    for (int32_t cx = cl; cx < cr && !sameWidth; ++cx) {
      const int64_t dx = cx + x_ - dst.left;
      const int64_t sx = (2 * dx + 1) * sw / (2 * dw);
      columns[static_cast<size_t>(cx - cl)] = static_cast<int32_t>(src.left + sx);
    }
    for (int32_t cy = ct; cy < cb; ++cy) {
      const int64_t dy = cy + y_ - dst.top;
      const int64_t sy = (2 * dy + 1) * sh / (2 * dh);
      const auto* in = reinterpret_cast<const uint32_t*>(surface.row(static_cast<int32_t>(src.top + sy)));
      uint32_t* out = pixels_.data() + static_cast<size_t>(cy) * width_;
      if (sameWidth) {
        if (cl < cr)
          std::memcpy(out + cl, in + src.left + (cl + x_ - dst.left), static_cast<size_t>(cr - cl) * 4);
        continue;
      }
      for (int32_t cx = cl; cx < cr; ++cx) out[cx] = in[columns[static_cast<size_t>(cx - cl)]];
    }
  }
  onChanged();
  return true;
}

bool CanvasWindow::copyBitmap(const uint8_t* pixels, ptrdiff_t pitch, int32_t width,
                              int32_t height) {
  if (!pixels) return false;
  {
    std::lock_guard lock(mutex_);
    if (closed_ || width != width_ || height != height_ || pitch < static_cast<ptrdiff_t>(width) * 4)
      return false;
    for (int32_t y = 0; y < height; ++y)
      std::memcpy(pixels_.data() + static_cast<size_t>(y) * width, pixels + y * pitch,
                  static_cast<size_t>(width) * 4);
  }
  onChanged();
  return true;
}

bool CanvasWindow::setSize(int32_t width, int32_t height) {
  if (width < 1 || height < 1 || width > kMaxWindowSide || height > kMaxWindowSide) return false;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    width_ = width;
    height_ = height;
    // A resized window is repainted with its background.
    pixels_.assign(static_cast<size_t>(width) * height, 0u);
  }
  onChanged();
  return true;
}

bool CanvasWindow::setPosition(int32_t x, int32_t y) {
  std::lock_guard lock(mutex_);
  if (closed_) return false;
  x_ = x;
  y_ = y;
  return true;
}

bool CanvasWindow::setVisible(bool on) {
  std::lock_guard lock(mutex_);
  if (closed_) return false;
  visible_ = on;
  return true;
}

size_t CanvasWindow::readPixels(uint8_t* out, size_t capacity) const {
  std::lock_guard lock(mutex_);
  const size_t bytes = pixels_.size() * 4;
  if (!out || capacity < bytes) return 0;
  std::memcpy(out, pixels_.data(), bytes);
  return bytes;
}

void CanvasWindow::close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
}

}  // namespace tavolen::platform
