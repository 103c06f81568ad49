#pragma once
// A video window whose client area is a plain 32-bit pixel buffer in memory.
// The off-screen backend is this alone; the SDL backend shows the same buffer
// on screen from the host's thread (sdl_window.cpp), so both behave alike in
// every drawing detail. Child windows (child_window.h) draw into a rectangle
// of this buffer.
//
// Locks: mutex_ guards every field below it and the geometry of every child;
// it is a leaf lock, held only inside these calls and never across the
// listener, the observer or onChanged(). The listener has its own lock
// (ListenerSlot), taken only outside mutex_.

#include <mutex>
#include <vector>

#include "platform/listener_slot.h"
#include "platform/video_window.h"

namespace tavolen::platform {

class ChildWindow;

class CanvasWindow : public VideoWindow {
 public:
  CanvasWindow(int32_t width, int32_t height);

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

 protected:
  // Called after the client pixels or the state changed, outside the lock, on
  // the changing thread, after the listener. The SDL backend wakes its host.
  virtual void onChanged() {}
  // Runs fn(pixels, width, height) under the lock: how the SDL host reads the
  // buffer to show it.
  template <typename Fn>
  void withPixels(Fn&& fn) const {
    std::lock_guard lock(mutex_);
    fn(pixels_.data(), width_, height_);
  }
  bool closed() const;
  // Counts the setFullScreen calls that changed or re-applied the geometry, so
  // that a backend can tell a request it has not yet carried out.
  uint64_t fullScreenRequests() const;
  // What the backend's real window turned out to be (the SDL window after the
  // user or the window manager moved, resized, hid or showed it). Size and
  // position are taken only while fullScreenRequests() still equals
  // `requests` (a newer request wins). These change the current state whatever
  // the full screen state, and return whether it changed; the caller tells the
  // observer.
  bool adoptSize(int32_t width, int32_t height, uint64_t requests);
  bool adoptPosition(int32_t x, int32_t y, uint64_t requests);
  bool adoptVisible(bool on);
  void storeScreenSize(int32_t width, int32_t height);
  // Tells the observer, if any, outside every lock.
  void notifyObserver(const WindowEvent& event);
  // The listener, then onChanged().
  void changed();

 private:
  friend class ChildWindow;

  // Where a window's client area lies: its origin and size in canvas pixels,
  // and its origin on screen.
  struct Region {
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t screenX = 0;
    int32_t screenY = 0;
  };
  // The drawing operations on a region, mutex_ held, clipped to the region
  // and to the canvas.
  Region wholeLocked() const { return {0, 0, width_, height_, x_, y_}; }
  void stretchLocked(const Region& r, const PictureSurface& surface, const WindowRect& src,
                     const WindowRect& dst);
  void copyLocked(const Region& r, const uint8_t* pixels, ptrdiff_t pitch);
  DirectDraw directLocked(const Region& r, const WindowRect& dst, PixelWriter write, void* user);
  void fillLocked(const Region& r, const WindowRect& rect, uint32_t pixel);
  void readLocked(const Region& r, uint8_t* out) const;
  // Current size to width x height, repainted with the background.
  void resizeLocked(int32_t width, int32_t height);

  mutable std::mutex mutex_;
  int32_t x_ = 0;
  int32_t y_ = 0;
  int32_t width_;
  int32_t height_;
  bool visible_ = true;
  bool closed_ = false;
  bool fullScreen_ = false;
  WindowRect embedded_;  // place and size to return to while full screen
  uint64_t fullScreenRequests_ = 0;
  WindowSize screen_{kDefaultScreenWidth, kDefaultScreenHeight};
  std::shared_ptr<WindowObserver> observer_;
  std::vector<uint32_t> pixels_;

  ListenerSlot listener_;
};

}  // namespace tavolen::platform
