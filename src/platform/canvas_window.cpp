#include "platform/canvas_window.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace tavolen::platform {

namespace {

bool validSize(int32_t width, int32_t height) {
  return width >= 1 && height >= 1 && width <= kMaxWindowSide && height <= kMaxWindowSide;
}

bool validPosition(int32_t x, int32_t y) {
  return x >= -kMaxWindowPosition && x <= kMaxWindowPosition && y >= -kMaxWindowPosition &&
         y <= kMaxWindowPosition;
}

}  // namespace

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

// ---- drawing on a region ----

void CanvasWindow::stretchLocked(const Region& r, const PictureSurface& surface,
                                 const WindowRect& src, const WindowRect& dst) {
  const int64_t sw = src.width(), sh = src.height();
  const int64_t dw = dst.width(), dh = dst.height();
  // The destination in the region's client coordinates, clipped to the region
  // and to the canvas.
  const int64_t cl = std::max<int64_t>({int64_t{dst.left} - r.screenX, 0, -int64_t{r.left}});
  const int64_t ct = std::max<int64_t>({int64_t{dst.top} - r.screenY, 0, -int64_t{r.top}});
  const int64_t cr = std::min<int64_t>({int64_t{dst.right} - r.screenX, r.width, int64_t{width_} - r.left});
  const int64_t cb = std::min<int64_t>({int64_t{dst.bottom} - r.screenY, r.height, int64_t{height_} - r.top});
  if (cl >= cr || ct >= cb) return;
  // Nearest pixel, sampled at pixel centres: a 1:1 copy is exact. Rows of the
  // same width are a plain copy of a span.
  const bool sameWidth = sw == dw;
  std::vector<int32_t> columns;
  if (!sameWidth) {
    columns.resize(static_cast<size_t>(cr - cl));
    for (int64_t cx = cl; cx < cr; ++cx) {
      const int64_t dx = cx + r.screenX - dst.left;
      const int64_t sx = (2 * dx + 1) * sw / (2 * dw);
      columns[static_cast<size_t>(cx - cl)] = static_cast<int32_t>(src.left + sx);
    }
  }
  for (int64_t cy = ct; cy < cb; ++cy) {
    const int64_t dy = cy + r.screenY - dst.top;
    const int64_t sy = (2 * dy + 1) * sh / (2 * dh);
    const auto* in = reinterpret_cast<const uint32_t*>(surface.row(static_cast<int32_t>(src.top + sy)));
    uint32_t* out = pixels_.data() + static_cast<size_t>(cy + r.top) * width_ + r.left;
    if (sameWidth) {
      std::memcpy(out + cl, in + src.left + (cl + r.screenX - dst.left),
                  static_cast<size_t>(cr - cl) * 4);
      continue;
    }
    for (int64_t cx = cl; cx < cr; ++cx) out[cx] = in[columns[static_cast<size_t>(cx - cl)]];
  }
}

void CanvasWindow::copyLocked(const Region& r, const uint8_t* pixels, ptrdiff_t pitch) {
  const int32_t cl = std::max(0, -r.left), cr = std::min(r.width, width_ - r.left);
  const int32_t ct = std::max(0, -r.top), cb = std::min(r.height, height_ - r.top);
  for (int32_t y = ct; y < cb && cl < cr; ++y)
    std::memcpy(pixels_.data() + static_cast<size_t>(y + r.top) * width_ + r.left + cl,
                pixels + y * pitch + static_cast<ptrdiff_t>(cl) * 4, static_cast<size_t>(cr - cl) * 4);
}

DirectDraw CanvasWindow::directLocked(const Region& r, const WindowRect& dst, PixelWriter write,
                                      void* user) {
  if (dst.empty()) return DirectDraw::Done;
  // dst in the region's client coordinates, then in canvas pixels: all of it
  // must be there, as a clipped block would need its own offsets.
  const int64_t cl = int64_t{dst.left} - r.screenX, ct = int64_t{dst.top} - r.screenY;
  const int64_t cr = int64_t{dst.right} - r.screenX, cb = int64_t{dst.bottom} - r.screenY;
  if (cl < 0 || ct < 0 || cr > r.width || cb > r.height) return DirectDraw::Unsuitable;
  const int64_t left = cl + r.left, top = ct + r.top;
  if (left < 0 || top < 0 || cr + r.left > width_ || cb + r.top > height_) return DirectDraw::Unsuitable;
  write(user, reinterpret_cast<uint8_t*>(pixels_.data() + top * width_ + left),
        static_cast<ptrdiff_t>(width_) * 4);
  return DirectDraw::Done;
}

void CanvasWindow::fillLocked(const Region& r, const WindowRect& rect, uint32_t pixel) {
  const int32_t cl = std::max({rect.left, 0, -r.left});
  const int32_t cr = std::min({rect.right, r.width, width_ - r.left});
  const int32_t ct = std::max({rect.top, 0, -r.top});
  const int32_t cb = std::min({rect.bottom, r.height, height_ - r.top});
  for (int32_t y = ct; y < cb && cl < cr; ++y) {
    uint32_t* row = pixels_.data() + static_cast<size_t>(y + r.top) * width_ + r.left;
    std::fill(row + cl, row + cr, pixel);
  }
}

void CanvasWindow::readLocked(const Region& r, uint8_t* out) const {
  const size_t rowBytes = static_cast<size_t>(r.width) * 4;
  std::memset(out, 0, rowBytes * r.height);
  const int32_t cl = std::max(0, -r.left), cr = std::min(r.width, width_ - r.left);
  const int32_t ct = std::max(0, -r.top), cb = std::min(r.height, height_ - r.top);
  for (int32_t y = ct; y < cb && cl < cr; ++y)
    std::memcpy(out + y * rowBytes + static_cast<size_t>(cl) * 4,
                pixels_.data() + static_cast<size_t>(y + r.top) * width_ + r.left + cl,
                static_cast<size_t>(cr - cl) * 4);
}

void CanvasWindow::resizeLocked(int32_t width, int32_t height) {
  width_ = width;
  height_ = height;
  // A resized window is repainted with its background.
  pixels_.assign(static_cast<size_t>(width) * height, 0u);
}

// ---- CanvasWindow: drawing side ----

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
  changed();
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
    stretchLocked(wholeLocked(), surface, src, dst);
  }
  changed();
  return true;
}

bool CanvasWindow::copyBitmap(const uint8_t* pixels, ptrdiff_t pitch, int32_t width,
                              int32_t height) {
  if (!pixels) return false;
  {
    std::lock_guard lock(mutex_);
    if (closed_ || width != width_ || height != height_ || pitch < static_cast<ptrdiff_t>(width) * 4)
      return false;
    copyLocked(wholeLocked(), pixels, pitch);
  }
  changed();
  return true;
}

DirectDraw CanvasWindow::drawDirect(const WindowRect& dst, PixelWriter write, void* user) {
  if (!write) return DirectDraw::Unsuitable;
  DirectDraw result;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return DirectDraw::Gone;
    result = directLocked(wholeLocked(), dst, write, user);
  }
  if (result == DirectDraw::Done && !dst.empty()) changed();
  return result;
}

bool CanvasWindow::fillRect(const WindowRect& rect, uint32_t pixel) {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    fillLocked(wholeLocked(), rect, pixel);
  }
  changed();
  return true;
}

// ---- CanvasWindow: host side ----

bool CanvasWindow::setSize(int32_t width, int32_t height) {
  if (!validSize(width, height)) return false;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    if (fullScreen_) {
      embedded_.right = embedded_.left + width;
      embedded_.bottom = embedded_.top + height;
      return true;
    }
    if (width == width_ && height == height_) return true;
    resizeLocked(width, height);
  }
  changed();
  notifyObserver({WindowEvent::Kind::Resized, MouseEvent::Move, width, height});
  return true;
}

bool CanvasWindow::setPosition(int32_t x, int32_t y) {
  if (!validPosition(x, y)) return false;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    if (fullScreen_) {
      embedded_ = {x, y, x + embedded_.width(), y + embedded_.height()};
      return true;
    }
    if (x == x_ && y == y_) return true;
    x_ = x;
    y_ = y;
  }
  changed();
  return true;
}

bool CanvasWindow::setVisible(bool on) {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    if (visible_ == on) return true;
    visible_ = on;
  }
  changed();
  notifyObserver({on ? WindowEvent::Kind::Shown : WindowEvent::Kind::Hidden});
  return true;
}

bool CanvasWindow::sendMouse(MouseEvent event, int32_t x, int32_t y) {
  if (closed()) return false;
  notifyObserver({WindowEvent::Kind::Mouse, event, x, y});
  return true;
}

bool CanvasWindow::setScreenSize(int32_t width, int32_t height) {
  if (width < kMinScreenSide || height < kMinScreenSide || width > kMaxWindowSide ||
      height > kMaxWindowSide || closed())
    return false;
  storeScreenSize(width, height);
  return true;
}

size_t CanvasWindow::readPixels(uint8_t* out, size_t capacity) const {
  std::lock_guard lock(mutex_);
  const size_t bytes = pixels_.size() * 4;
  if (!out || capacity < bytes) return 0;
  std::memcpy(out, pixels_.data(), bytes);
  return bytes;
}

WindowState CanvasWindow::state() const {
  std::lock_guard lock(mutex_);
  return {{x_, y_, x_ + width_, y_ + height_}, visible_ && !closed_, fullScreen_, screen_};
}

bool CanvasWindow::setListener(WindowListener listener, void* user) {
  if (closed()) return false;
  return listener_.set(listener, user);
}

void CanvasWindow::close() {
  std::shared_ptr<WindowObserver> observer;  // released outside the lock
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    observer = std::move(observer_);
  }
  listener_.set(nullptr, nullptr);
}

// ---- CanvasWindow: control side ----

void CanvasWindow::setObserver(std::shared_ptr<WindowObserver> observer) {
  std::lock_guard lock(mutex_);
  if (!closed_) observer_.swap(observer);
}

bool CanvasWindow::setFullScreen(bool on) {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    if (!on && !fullScreen_) return true;
    ++fullScreenRequests_;
    if (on) {
      if (!fullScreen_) embedded_ = {x_, y_, x_ + width_, y_ + height_};
      fullScreen_ = true;
      x_ = 0;
      y_ = 0;
      if (width_ != screen_.width - 1 || height_ != screen_.height - 1)
        resizeLocked(screen_.width - 1, screen_.height - 1);
    } else {
      fullScreen_ = false;
      x_ = embedded_.left;
      y_ = embedded_.top;
      if (width_ != embedded_.width() || height_ != embedded_.height())
        resizeLocked(embedded_.width(), embedded_.height());
    }
  }
  changed();
  return true;
}

// ---- for backends ----

uint64_t CanvasWindow::fullScreenRequests() const {
  std::lock_guard lock(mutex_);
  return fullScreenRequests_;
}

bool CanvasWindow::adoptSize(int32_t width, int32_t height, uint64_t requests) {
  if (!validSize(width, height)) return false;
  {
    std::lock_guard lock(mutex_);
    if (closed_ || requests != fullScreenRequests_ || (width == width_ && height == height_))
      return false;
    resizeLocked(width, height);
  }
  changed();
  return true;
}

bool CanvasWindow::adoptPosition(int32_t x, int32_t y, uint64_t requests) {
  if (!validPosition(x, y)) return false;
  {
    std::lock_guard lock(mutex_);
    if (closed_ || requests != fullScreenRequests_ || (x == x_ && y == y_)) return false;
    x_ = x;
    y_ = y;
  }
  changed();
  return true;
}

bool CanvasWindow::adoptVisible(bool on) {
  {
    std::lock_guard lock(mutex_);
    if (closed_ || visible_ == on) return false;
    visible_ = on;
  }
  changed();
  return true;
}

void CanvasWindow::storeScreenSize(int32_t width, int32_t height) {
  {
    std::lock_guard lock(mutex_);
    if (screen_ == WindowSize{width, height}) return;
    screen_ = {width, height};
  }
  changed();
}

void CanvasWindow::notifyObserver(const WindowEvent& event) {
  std::shared_ptr<WindowObserver> observer;
  {
    std::lock_guard lock(mutex_);
    observer = observer_;
  }
  if (observer) observer->windowEvent(event);
}

void CanvasWindow::changed() {
  listener_.notify();
  onChanged();
}

}  // namespace tavolen::platform
