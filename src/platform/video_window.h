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
// Three sides use a window:
// - drawing (players, the control): visible, screenRect, clientSize,
//   invalidate, createSurface, stretchCopy, copyBitmap, drawDirect, fillRect;
//   any thread, each backend serialises them with its own lock;
// - host (the program that made the window): setSize, setPosition,
//   setVisible, sendMouse, setScreenSize, readPixels, state, setListener,
//   close; on the thread that created the window for SDL windows, any thread
//   for the others;
// - control (the object living in the window): setObserver, setFullScreen,
//   and the host operations of its child windows; any thread.
// After a change of pixels or state the window calls its listener (see
// setListener), and after a host-side event its observer (window_observer.h),
// both outside every window lock, on the thread that made the change.
//
// Child windows: a child's client area is a rectangle of its parent's client
// area (a position relative to the parent's client origin and a size). It is a
// window of its own for drawing: its client size, screen rectangle, invalidate
// and copies are its own, its drawing lands in the parent's pixels clipped to
// its rectangle (and to the parent), and it has a handle of its own. It is
// visible while it and its parent are, and gone once either is gone.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/handle_table.h"
#include "platform/window_observer.h"

namespace tavolen::platform {

// Largest client area or picture surface side accepted, in pixels.
inline constexpr int32_t kMaxWindowSide = 8192;
inline constexpr int32_t kMaxSurfaceSide = 8192;
// The screen an off-screen window sits on until the host says otherwise, and
// the smallest screen side accepted (full screen is one pixel short of it).
inline constexpr int32_t kDefaultScreenWidth = 1920;
inline constexpr int32_t kDefaultScreenHeight = 1080;
inline constexpr int32_t kMinScreenSide = 2;
// Window positions (screen or parent coordinates) are bounded by this many
// pixels either way, far beyond any screen, so that no edge overflows.
inline constexpr int32_t kMaxWindowPosition = 1 << 24;

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

// Where a window is and what it shows (a child reports its parent's full
// screen state and screen).
struct WindowState {
  WindowRect rect;  // the client area, screen coordinates
  bool visible = false;
  bool fullScreen = false;
  WindowSize screen;
  friend bool operator==(const WindowState&, const WindowState&) = default;
};

// What drawDirect did; see there.
enum class DirectDraw { Done, Unsuitable, Gone };
// Writes one block of pixels (rows `pitch` bytes apart) for drawDirect.
using PixelWriter = void (*)(void* user, uint8_t* pixels, ptrdiff_t pitch);

// Called after a window's pixels or state changed; see setListener.
using WindowListener = void (*)(void* user);

// Pixel values as the window holds them (blue, green, red, unused).
constexpr uint32_t windowPixel(uint8_t red, uint8_t green, uint8_t blue) {
  return static_cast<uint32_t>(blue) | static_cast<uint32_t>(green) << 8 |
         static_cast<uint32_t>(red) << 16;
}

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
  // Hands the client pixels under dst (screen coordinates) to `write`, which
  // fills exactly dst's width × height pixels from the top-left, under the
  // window's drawing lock: a picture produced there ends up as it would
  // through a surface of dst's size copied 1:1 by stretchCopy, without that
  // whole-picture copy. Unsuitable, with nothing called, when dst does not lie
  // wholly inside the client area (and, for a child, its parent's) or the
  // backend cannot; the caller then draws through a surface. Gone when the
  // window is. An empty dst draws nothing and is Done.
  virtual DirectDraw drawDirect(const WindowRect& dst, PixelWriter write, void* user) {
    (void)dst, (void)write, (void)user;
    return DirectDraw::Unsuitable;
  }

  // Fills rect (client coordinates, clipped to the client area) with one
  // pixel value. False once the window is gone.
  virtual bool fillRect(const WindowRect& rect, uint32_t pixel) = 0;

  // --- host side ---
  // A new client size (1..kMaxWindowSide; children also 0) repaints the client
  // area with the background and tells the observer (Resized). The same size
  // again changes nothing. While full screen, the size is kept for the return
  // to the embedded state and the window stays as it is.
  virtual bool setSize(int32_t width, int32_t height) = 0;
  // Screen position of the client area (each within ±kMaxWindowPosition); a
  // child's is relative to its parent's client origin. While full screen, kept
  // for the return like the size.
  virtual bool setPosition(int32_t x, int32_t y) = 0;
  // Tells the observer (Shown or Hidden) when visibility changed.
  virtual bool setVisible(bool on) = 0;
  // A mouse event at client pixel (x, y) for the observer. False for child
  // windows: input goes to the top-level window, whose client area includes
  // its children's.
  virtual bool sendMouse(MouseEvent event, int32_t x, int32_t y) = 0;
  // The screen full screen covers (kMinScreenSide..kMaxWindowSide each).
  // False for child windows and for windows that report a real display.
  virtual bool setScreenSize(int32_t width, int32_t height) = 0;
  // Copies the client area out, 4 bytes per pixel, rows top to bottom. Returns
  // the byte count, or 0 when `capacity` is too small.
  virtual size_t readPixels(uint8_t* out, size_t capacity) const = 0;
  virtual WindowState state() const = 0;
  // The listener is called after the window's pixels or state changed, on the
  // thread that changed them, outside the window's drawing lock; it should only
  // wake the host. Calls are serialised, and once setListener (or close) has
  // returned, the previous listener is not running and is never called again.
  // From inside the listener, setListener is refused and changes to the window
  // call nobody. Null removes it. False once the window is gone.
  virtual bool setListener(WindowListener listener, void* user) = 0;
  // Releases what the backend holds outside this process's memory (for SDL:
  // the window itself); from then on the window is gone, and its listener and
  // observer are dropped. Host thread.
  virtual void close() = 0;

  // --- control side ---
  // The object living in the window; see window_observer.h. Null removes it.
  virtual void setObserver(std::shared_ptr<WindowObserver> observer) = 0;
  // Full screen: the client area at (0, 0), one pixel short of the screen in
  // each direction, above other windows. Entering remembers the embedded
  // position and size (entering again keeps what was remembered); leaving
  // restores them; leaving while embedded changes nothing. Both repaint the
  // client area with the background when its size changes. The observer is not
  // told: the control that asks does its own fitting. False for child windows
  // and once the window is gone.
  virtual bool setFullScreen(bool on) = 0;
};

// --- backends ---
// Off-screen window of that client size, visible, at screen position (0, 0).
// Null when a side is outside 1..kMaxWindowSide.
std::shared_ptr<VideoWindow> createOffscreenWindow(int32_t width, int32_t height);
// A child of `parent` (an off-screen or SDL window) covering rect (relative to
// the parent's client origin; sides 0..kMaxWindowSide). Null for another kind
// of parent or a bad rectangle.
std::shared_ptr<VideoWindow> createChildWindow(const std::shared_ptr<VideoWindow>& parent,
                                               const WindowRect& rect);

// --- handle table ---
// Window handles (TavolenWindow*) follow the rule of platform/handle_table.h.
// The cancel step closes the window, so from a destroy on every drawing call
// fails. Players keep a shared reference (share()) from one picture to the
// next and hold no pin, so a destroy never waits for them.
using WindowTable = HandleTable<VideoWindow>;
WindowTable& windowHandles();

}  // namespace tavolen::platform
