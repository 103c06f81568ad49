#pragma once
// A child window: a rectangle of a CanvasWindow's client area that is a window
// of its own for drawing (see video_window.h). The control's video surface is
// one.
//
// Lock: the child's geometry and visibility are guarded by the parent's
// mutex, so a drawing thread always sees the rectangle and the parent's pixels
// together. The child's own listener slot is called, then the parent's
// listener, after each change. Its host operations (size, position,
// visibility) are made by one thread, the one that owns the child.

#include <memory>

#include "platform/canvas_window.h"

namespace tavolen::platform {

class ChildWindow final : public VideoWindow {
 public:
  ChildWindow(std::shared_ptr<CanvasWindow> parent, const WindowRect& rect);

  bool visible() const override;
  bool screenRect(WindowRect& out) const override;
  WindowSize clientSize() const override;
  void invalidate() override;
  std::unique_ptr<PictureSurface> createSurface(int32_t width, int32_t height) override;
  bool stretchCopy(const PictureSurface& surface, const WindowRect& src, const WindowRect& dst) override;
  bool copyBitmap(const uint8_t* pixels, ptrdiff_t pitch, int32_t width, int32_t height) override;
  DirectDraw drawDirect(const WindowRect& dst, PixelWriter write, void* user) override;
  bool fillRect(const WindowRect& rect, uint32_t pixel) override;

  bool setSize(int32_t width, int32_t height) override;
  bool setPosition(int32_t x, int32_t y) override;
  bool setVisible(bool on) override;
  bool sendMouse(MouseEvent event, int32_t x, int32_t y) override;
  bool setScreenSize(int32_t width, int32_t height) override;
  size_t readPixels(uint8_t* out, size_t capacity) const override;
  WindowState state() const override;
  bool setListener(WindowListener listener, void* user) override;
  void close() override;

  void setObserver(std::shared_ptr<WindowObserver> observer) override;
  bool setFullScreen(bool on) override;

 private:
  using Region = CanvasWindow::Region;
  // parent_->mutex_ held for all of these.
  bool goneLocked() const { return closed_ || parent_->closed_; }
  Region regionLocked() const;
  // Moves the rectangle and clears its new place to the background, unless
  // nothing changed; false when gone.
  bool moveTo(const WindowRect& rect);
  void changed();

  const std::shared_ptr<CanvasWindow> parent_;
  WindowRect rect_;  // relative to the parent's client origin
  bool visible_ = true;
  bool closed_ = false;
  ListenerSlot listener_;
};

}  // namespace tavolen::platform
