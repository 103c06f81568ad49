#pragma once
// The video window: what a player draws into. A window handle handed to a
// player (`setPlayWnd`) is the address of one of these objects; the handle
// table below turns the handle back into the object, or into nothing once the
// host has destroyed the window, so that a stale handle behaves like a window
// that is gone (invisible, every drawing call fails) instead of dangling.
//
// Pixels are 32 bits, 4 bytes each, in the order the renderer writes them
// (byte 0 blue, byte 1 green, byte 2 red, byte 3 unused): the window shows them
// as such and hands them back unchanged (`readPixels`).
//
// Threads: the drawing operations (visible, screenRect, clientSize, invalidate,
// createSurface, stretchCopy, copyBitmap) may be called from any thread; each
// backend serialises them with its own lock. The host operations (setSize,
// setPosition, setVisible) are called by the host on the thread that created
// the window. No operation calls back into the caller.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/handle_table.h"

namespace tavolen::platform {

// Largest client area or picture surface side accepted, in pixels.
inline constexpr int32_t kMaxWindowSide = 8192;
inline constexpr int32_t kMaxSurfaceSide = 8192;

struct WindowRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;

  int32_t width() const { return right - left; }
  int32_t height() const { return bottom - top; }
  bool empty() const { return right <= left || bottom <= top; }
  friend bool operator==(const WindowRect&, const WindowRect&) = default;
};

struct WindowSize {
  int32_t width = 0;
  int32_t height = 0;
  friend bool operator==(const WindowSize&, const WindowSize&) = default;
};

// A 32-bit picture surface of a fixed size in plain memory. Rows start at
// pixels() + row × pitch(); the pitch is a multiple of 64 bytes. The creator
// owns it; it is not tied to the window once created.
class PictureSurface {
 public:
  // Null when either side is outside 1..kMaxSurfaceSide or memory runs out.
  static std::unique_ptr<PictureSurface> create(int32_t width, int32_t height);
  ~PictureSurface();
  PictureSurface(const PictureSurface&) = delete;
  PictureSurface& operator=(const PictureSurface&) = delete;

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  ptrdiff_t pitch() const { return pitch_; }
  uint8_t* pixels() { return pixels_; }
  const uint8_t* pixels() const { return pixels_; }
  uint8_t* row(int32_t y) { return pixels_ + y * pitch_; }
  const uint8_t* row(int32_t y) const { return pixels_ + y * pitch_; }

 private:
  PictureSurface(int32_t width, int32_t height, ptrdiff_t pitch, uint8_t* pixels)
      : width_(width), height_(height), pitch_(pitch), pixels_(pixels) {}
  int32_t width_;
  int32_t height_;
  ptrdiff_t pitch_;
  uint8_t* pixels_;
};

enum class Mirror { None = 0, LeftRight = 1, UpDown = 2, Both = 3 };

// The mirror a render effect or flip mode asks for: 1, 2, 3 as above, any
// other value none.
Mirror mirrorForEffect(int32_t effect);
// Mirrors a 32-bit picture in place; its rows start at pixels + y × pitch.
void mirrorPicture(uint8_t* pixels, ptrdiff_t pitch, int32_t width, int32_t height, Mirror mirror);

class VideoWindow {
 public:
  virtual ~VideoWindow() = default;

  // --- drawing side (players, any thread) ---
  virtual bool visible() const = 0;
  // The window's rectangle in screen coordinates (the client area: these
  // windows have no frame). False once the window is gone.
  virtual bool screenRect(WindowRect& out) const = 0;
  virtual WindowSize clientSize() const = 0;
  // Erases the whole client area to the background (black) before anything
  // drawn afterwards.
  virtual void invalidate() = 0;
  // A surface that stretchCopy accepts as its source; null on a bad size or a
  // window that is gone.
  virtual std::unique_ptr<PictureSurface> createSurface(int32_t width, int32_t height) = 0;
  // Copies src (surface pixels) scaled to dst (screen coordinates), clipped to
  // the client area, nearest pixel. A src that is empty or not inside the
  // surface fails; an empty dst draws nothing and succeeds.
  virtual bool stretchCopy(const PictureSurface& surface, const WindowRect& src,
                           const WindowRect& dst) = 0;
  // Copies a bitmap of exactly the client size (rows top to bottom, pitch in
  // bytes) into the client area. False when the size differs or the window is
  // gone.
  virtual bool copyBitmap(const uint8_t* pixels, ptrdiff_t pitch, int32_t width,
                          int32_t height) = 0;

  // --- host side ---
  virtual bool setSize(int32_t width, int32_t height) = 0;
  virtual bool setPosition(int32_t x, int32_t y) = 0;
  virtual bool setVisible(bool on) = 0;
  // Copies the client area out, 4 bytes per pixel, rows top to bottom. Returns
  // the byte count, or 0 when `capacity` is too small.
  virtual size_t readPixels(uint8_t* out, size_t capacity) const = 0;
  // Releases what the backend holds outside this process's memory (for SDL:
  // the window itself); from then on the window is gone. Host thread.
  virtual void close() = 0;
};

// --- backends ---
// Off-screen window of that client size, visible, at screen position (0, 0).
// Null when a side is outside 1..kMaxWindowSide.
std::shared_ptr<VideoWindow> createOffscreenWindow(int32_t width, int32_t height);

// --- handle table ---
// Window handles (TavolenWindow*) follow the rule of platform/handle_table.h.
// The cancel step closes the window, so from a destroy on every drawing call
// fails. Players keep a shared reference (share()) from one picture to the
// next and hold no pin, so a destroy never waits for them.
using WindowTable = HandleTable<VideoWindow>;
WindowTable& windowHandles();

}  // namespace tavolen::platform
