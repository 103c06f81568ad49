#include "platform/child_window.h"

#include <cstring>

namespace tavolen::platform {

namespace {

bool validRect(const WindowRect& r) {
  auto inRange = [](int32_t v, int32_t bound) { return v >= -bound && v <= bound; };
  return inRange(r.left, kMaxWindowPosition) && inRange(r.top, kMaxWindowPosition) &&
         r.width() >= 0 && r.height() >= 0 && r.width() <= kMaxWindowSide &&
         r.height() <= kMaxWindowSide;
}

}  // namespace

std::shared_ptr<VideoWindow> createChildWindow(const std::shared_ptr<VideoWindow>& parent,
                                               const WindowRect& rect) {
  auto canvas = std::dynamic_pointer_cast<CanvasWindow>(parent);
  if (!canvas || !validRect(rect)) return nullptr;
  return std::make_shared<ChildWindow>(std::move(canvas), rect);
}

ChildWindow::ChildWindow(std::shared_ptr<CanvasWindow> parent, const WindowRect& rect)
    : parent_(std::move(parent)), rect_(rect) {}

ChildWindow::Region ChildWindow::regionLocked() const {
  return {rect_.left, rect_.top, rect_.width(), rect_.height(), parent_->x_ + rect_.left,
          parent_->y_ + rect_.top};
}

void ChildWindow::changed() {
  listener_.notify();
  parent_->changed();
}

// ---- drawing side ----

bool ChildWindow::visible() const {
  std::lock_guard lock(parent_->mutex_);
  return !goneLocked() && visible_ && parent_->visible_;
}

bool ChildWindow::screenRect(WindowRect& out) const {
  std::lock_guard lock(parent_->mutex_);
  if (goneLocked()) return false;
  const Region r = regionLocked();
  out = {r.screenX, r.screenY, r.screenX + r.width, r.screenY + r.height};
  return true;
}

WindowSize ChildWindow::clientSize() const {
  std::lock_guard lock(parent_->mutex_);
  if (goneLocked()) return {};
  return {rect_.width(), rect_.height()};
}

void ChildWindow::invalidate() {
  {
    std::lock_guard lock(parent_->mutex_);
    if (goneLocked()) return;
    parent_->fillLocked(regionLocked(), {0, 0, rect_.width(), rect_.height()}, 0u);
  }
  changed();
}

std::unique_ptr<PictureSurface> ChildWindow::createSurface(int32_t width, int32_t height) {
  {
    std::lock_guard lock(parent_->mutex_);
    if (goneLocked()) return nullptr;
  }
  return PictureSurface::create(width, height);
}

bool ChildWindow::stretchCopy(const PictureSurface& surface, const WindowRect& src,
                              const WindowRect& dst) {
  if (src.empty() || src.left < 0 || src.top < 0 || src.right > surface.width() ||
      src.bottom > surface.height())
    return false;
  {
    std::lock_guard lock(parent_->mutex_);
    if (goneLocked()) return false;
    if (dst.empty()) return true;
    parent_->stretchLocked(regionLocked(), surface, src, dst);
  }
  changed();
  return true;
}

bool ChildWindow::copyBitmap(const uint8_t* pixels, ptrdiff_t pitch, int32_t width, int32_t height) {
  if (!pixels) return false;
  {
    std::lock_guard lock(parent_->mutex_);
    if (goneLocked() || width != rect_.width() || height != rect_.height() ||
        pitch < static_cast<ptrdiff_t>(width) * 4)
      return false;
    parent_->copyLocked(regionLocked(), pixels, pitch);
  }
  changed();
  return true;
}

DirectDraw ChildWindow::drawDirect(const WindowRect& dst, PixelWriter write, void* user) {
  if (!write) return DirectDraw::Unsuitable;
  DirectDraw result;
  {
    std::lock_guard lock(parent_->mutex_);
    if (goneLocked()) return DirectDraw::Gone;
    result = parent_->directLocked(regionLocked(), dst, write, user);
  }
  if (result == DirectDraw::Done && !dst.empty()) changed();
  return result;
}

bool ChildWindow::fillRect(const WindowRect& rect, uint32_t pixel) {
  {
    std::lock_guard lock(parent_->mutex_);
    if (goneLocked()) return false;
    parent_->fillLocked(regionLocked(), rect, pixel);
  }
  changed();
  return true;
}

// ---- host side ----

bool ChildWindow::moveTo(const WindowRect& rect) {
  if (!validRect(rect)) return false;
  {
    std::lock_guard lock(parent_->mutex_);
    if (goneLocked()) return false;
    if (rect == rect_) return true;
    rect_ = rect;
    parent_->fillLocked(regionLocked(), {0, 0, rect.width(), rect.height()}, 0u);
  }
  changed();
  return true;
}

bool ChildWindow::setSize(int32_t width, int32_t height) {
  WindowRect rect;
  {
    std::lock_guard lock(parent_->mutex_);
    rect = rect_;
  }
  if (width < 0 || height < 0 || width > kMaxWindowSide || height > kMaxWindowSide) return false;
  return moveTo({rect.left, rect.top, rect.left + width, rect.top + height});
}

bool ChildWindow::setPosition(int32_t x, int32_t y) {
  WindowRect rect;
  {
    std::lock_guard lock(parent_->mutex_);
    rect = rect_;
  }
  if (!validRect({x, y, x, y})) return false;
  return moveTo({x, y, x + rect.width(), y + rect.height()});
}

bool ChildWindow::setVisible(bool on) {
  {
    std::lock_guard lock(parent_->mutex_);
    if (goneLocked()) return false;
    if (visible_ == on) return true;
    visible_ = on;
  }
  changed();
  return true;
}

// Hosts send their input to the top-level window: a child takes none (a
// child's handle is the control's own, and a call on it that waited for the
// control could hold up the control's removal of that very handle).
bool ChildWindow::sendMouse(MouseEvent, int32_t, int32_t) { return false; }

bool ChildWindow::setScreenSize(int32_t, int32_t) { return false; }

size_t ChildWindow::readPixels(uint8_t* out, size_t capacity) const {
  std::lock_guard lock(parent_->mutex_);
  const size_t bytes = static_cast<size_t>(rect_.width()) * rect_.height() * 4;
  if (!out || capacity < bytes) return 0;
  parent_->readLocked(regionLocked(), out);
  return bytes;
}

WindowState ChildWindow::state() const {
  std::lock_guard lock(parent_->mutex_);
  const Region r = regionLocked();
  return {{r.screenX, r.screenY, r.screenX + r.width, r.screenY + r.height},
          !goneLocked() && visible_ && parent_->visible_, parent_->fullScreen_, parent_->screen_};
}

bool ChildWindow::setListener(WindowListener listener, void* user) {
  {
    std::lock_guard lock(parent_->mutex_);
    if (goneLocked()) return false;
  }
  return listener_.set(listener, user);
}

void ChildWindow::close() {
  {
    std::lock_guard lock(parent_->mutex_);
    closed_ = true;
  }
  listener_.set(nullptr, nullptr);
}

// ---- control side: a child takes no host events and never goes full screen ----

void ChildWindow::setObserver(std::shared_ptr<WindowObserver>) {}

bool ChildWindow::setFullScreen(bool) { return false; }

}  // namespace tavolen::platform
