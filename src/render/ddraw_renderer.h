#pragma once
// The renderer an H.264 player embeds: converts each decoded picture into a
// 32-bit picture surface, takes snapshots from it, mirrors it, draws the
// on-screen text over it and copies the shown part, scaled, into the player's
// video window.
//
// Threads and locks:
// - renderPicture, present, reset and setPictureTime are called by the
//   player with its render lock held (decode thread, refreshLastPicture), so
//   they never run twice at once. The renderer itself takes no lock there
//   except its two leaf locks below, each briefly.
// - The setters (setOsdString, removeOsdstring, adjustViewArea,
//   setRenderEffect, renderActualProportion) may run on any thread without
//   the render lock: settingsMutex_ guards what they write, and present copies
//   it once at its start, so a change takes effect from the next present that
//   starts after the call.
// - capturePicture/capturePictureBuf run on the caller's thread and wait up to
//   kCaptureWaitMs for the next present; they must not be called with the
//   render lock held. captureMutex_ guards the request; present writes the
//   snapshot while holding it, so once a request has given up the caller's
//   buffer is never written.
// - getPlayPicSize may run on any thread.
//
// Ownership: the renderer owns its picture surface and a reference to the
// window it draws into (dropped by reset). It does not own the picture planes
// (only read between renderPicture and present), the window handle or a
// snapshot buffer. A snapshot path is copied.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/event.h"
#include "platform/text_drawer.h"
#include "platform/video_window.h"
#include "render/yuv_converter.h"
#include "tavolen/types.h"

namespace tavolen {

// The largest picture renderPicture accepts, in bytes of its planar buffer
// (2560 x 2048 at 4:2:0, with room to spare); the H.264 player's picture
// buffer is this size.
inline constexpr size_t kMaxPictureBytes = 22118400;
inline constexpr uint32_t kCaptureWaitMs = 200;
inline constexpr size_t kBmpHeaderBytes = 54;

class CDDrawRenderer {
 public:
  CDDrawRenderer();
  ~CDDrawRenderer();
  CDDrawRenderer(const CDDrawRenderer&) = delete;
  CDDrawRenderer& operator=(const CDDrawRenderer&) = delete;

  // --- render lock held ---
  // Takes a picture (layout in render/yuv_converter.h) for the window handle
  // (a TavolenWindow*). False, with nothing shown, when the window is
  // invisible or gone, the size is bad, or preparing the surface failed (which
  // resets). The planes are read by the present() that follows, so they must
  // stay unchanged until it returns.
  bool renderPicture(const PlanarPicture& picture, const void* window);
  // The same for a packed picture of planarLayout(width, height).totalBytes.
  bool renderPicture(const uint8_t* picture, int32_t width, int32_t height, const void* window);
  // Shows the picture the renderPicture that just returned true took. When
  // the window shows it one to one (no crop, no scaling, no mirror, no text,
  // no snapshot pending) it is converted straight into the window's pixels;
  // otherwise into the surface, which is then mirrored, written on and copied.
  void present();
  // Forgets the window and the surface; the next picture rebuilds them. View
  // area, proportion, effect and text items survive.
  void reset();
  // The time of the picture about to be rendered (seconds since 1970 and the
  // frame's time-zone hours), for time stamp items. Any thread.
  void setPictureTime(int64_t picTime, int8_t zoneHours);

  // --- any thread; results as the player operations return them ---
  int32_t setOsdString(int32_t index, const OsdItem* item);
  int32_t removeOsdstring(int32_t index);
  int32_t adjustViewArea(int32_t left, int32_t right, int32_t top, int32_t bottom);
  int32_t setRenderEffect(int32_t effect);
  int32_t renderActualProportion(int32_t on);
  // Writes the size of the picture held (0 × 0 when unprepared). The player
  // refuses the call itself when it is not playing.
  void getPlayPicSize(int32_t* width, int32_t* height) const;
  // Snapshot of the next presented picture as a BMP file. 0 when another
  // snapshot is pending or the path is null; else 1, also when no picture
  // came within kCaptureWaitMs (the request is then dropped).
  int32_t capturePicture(const char* path);
  // The same BMP bytes (kBmpHeaderBytes + width × height × 4) into caller
  // memory, which must hold that many. 0 when another snapshot is pending, the
  // buffer is null, or no picture came within kCaptureWaitMs; else 1.
  int32_t capturePictureBuf(uint8_t* buffer);

  // --- for tests and the benchmark ---
  bool prepared() const { return surface_ != nullptr; }
  // Render lock held: whether present may convert straight into the window
  // (on by default), and how many presents did.
  void allowDirect(bool on) { directAllowed_ = on; }
  uint64_t directPresents() const { return directPresents_; }
  int32_t renderEffect() const;

 private:
  bool prepareSurfaces(const void* handle, int32_t width, int32_t height);
  void writeSnapshotLocked();
  bool captureRequest(const char* path, uint8_t* buffer, bool& busy);
  // Converts the pending picture straight into the window when it is shown
  // one to one; false when the surface path must run instead.
  bool presentDirect(const platform::WindowRect& dst);

  // Render-lock state.
  const void* hWnd_ = nullptr;
  platform::WindowRect rcWindow_{};
  platform::WindowRect rcDest_{};
  std::shared_ptr<platform::VideoWindow> window_;   // the attached window
  std::unique_ptr<platform::PictureSurface> surface_;
  PlanarPicture pending_;           // set by renderPicture, cleared by present
  bool surfaceCurrent_ = false;     // the surface holds the last picture shown
  bool directAllowed_ = true;
  uint64_t directPresents_ = 0;
  std::unique_ptr<platform::TextDrawer> text_;      // created at the first text
  std::atomic<int32_t> picWidth_{0};
  std::atomic<int32_t> picHeight_{0};
  std::atomic<int64_t> picTime_{0};
  std::atomic<int32_t> zoneHours_{0};

  // Guarded by settingsMutex_.
  mutable std::mutex settingsMutex_;
  bool viewAreaOn_ = false;
  platform::WindowRect rcViewArea_{};  // left, top, right, bottom margins
  bool invalidatePending_ = false;
  bool osdEnabled_[OSD_SLOT_COUNT] = {};
  OsdItem osdItems_[OSD_SLOT_COUNT] = {};
  bool actualProportion_ = false;
  int32_t renderEffect_ = 0;

  // Guarded by captureMutex_.
  std::mutex captureMutex_;
  bool captureRequested_ = false;
  std::string capturePath_;
  bool captureToFile_ = false;
  uint8_t* captureBuffer_ = nullptr;
  uint64_t captureSequence_ = 0;
  platform::Event captureDone_{platform::Event::Reset::Manual};
};

}  // namespace tavolen
