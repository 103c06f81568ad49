#pragma once
// A video window whose client area is a plain 32-bit pixel buffer in memory.
// The off-screen backend is this alone; the SDL backend shows the same buffer
// on screen from the host's thread (sdl_window.cpp), so both behave alike in
// every drawing detail.
//
// Lock: mutex_ guards every field; it is a leaf lock, held only inside these
// calls and never across onChanged().

#include <mutex>
#include <vector>

#include "platform/video_window.h"

namespace tavolen::platform {

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

  bool setSize(int32_t width, int32_t height) override;
  bool setPosition(int32_t x, int32_t y) override;
  bool setVisible(bool on) override;
  size_t readPixels(uint8_t* out, size_t capacity) const override;
  void close() override;

 protected:
  // Called after the client pixels changed, outside the lock, on the drawing
  // thread. The SDL backend wakes its host here.
  virtual void onChanged() {}
  // Runs fn(pixels, width, height) under the lock: how the SDL host reads the
  // buffer to show it.
  template <typename Fn>
  void withPixels(Fn&& fn) const {
    std::lock_guard lock(mutex_);
    fn(pixels_.data(), width_, height_);
  }
  bool closed() const;

 private:
  mutable std::mutex mutex_;
  int32_t x_ = 0;
  int32_t y_ = 0;
  int32_t width_;
  int32_t height_;
  bool visible_ = true;
  bool closed_ = false;
  std::vector<uint32_t> pixels_;
};

}  // namespace tavolen::platform
