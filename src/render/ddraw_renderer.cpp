#include "render/ddraw_renderer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "render/osd_text.h"
#include "render/yuv_converter.h"

namespace tavolen {

namespace {

void debugMessage(const char* text) { std::fprintf(stderr, "%s\n", text); }

void putLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void putLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void bmpHeader(uint8_t (&h)[kBmpHeaderBytes], int32_t w, int32_t ht) {
  std::memset(h, 0, sizeof h);
  const uint32_t image = static_cast<uint32_t>(w) * static_cast<uint32_t>(ht) * 4;
  h[0] = 'B';
  h[1] = 'M';
  putLe32(h + 2, static_cast<uint32_t>(kBmpHeaderBytes) + image);
  putLe32(h + 10, static_cast<uint32_t>(kBmpHeaderBytes));
  putLe32(h + 14, 40);
  putLe32(h + 18, static_cast<uint32_t>(w));
  putLe32(h + 22, static_cast<uint32_t>(ht));
  putLe16(h + 26, 1);
  putLe16(h + 28, 32);
  putLe32(h + 34, image);
}

// drawDirect's writer: the pending picture converted into the window's pixels.
void writePicture(void* picture, uint8_t* pixels, ptrdiff_t pitch) {
  convertPicture(*static_cast<const PlanarPicture*>(picture), pixels, pitch);
}

}  // namespace

CDDrawRenderer::CDDrawRenderer() {
  initColorTables();
  reset();
}

CDDrawRenderer::~CDDrawRenderer() { reset(); }

void CDDrawRenderer::reset() {
  surface_.reset();
  surfaceCurrent_ = false;
  pending_ = {};
  window_.reset();
  hWnd_ = nullptr;
  rcWindow_ = {};
  picWidth_ = 0;
  picHeight_ = 0;
}

void CDDrawRenderer::setPictureTime(int64_t picTime, int8_t zoneHours) {
  picTime_ = picTime;
  zoneHours_ = zoneHours;
}

bool CDDrawRenderer::prepareSurfaces(const void* handle, int32_t width, int32_t height) {
  std::shared_ptr<platform::VideoWindow> win = platform::windowHandles().share(handle);
  platform::WindowRect rc;
  if (!win || !win->visible() || !win->screenRect(rc)) return false;

  const bool windowChanged = handle != hWnd_;
  hWnd_ = handle;

  bool proportion, viewArea;
  {
    std::lock_guard lock(settingsMutex_);
    proportion = actualProportion_;
    viewArea = viewAreaOn_;
  }
  const bool rectChanged = !(rc == rcWindow_);
  if (rectChanged) {
    rcWindow_ = rc;
    if (proportion || viewArea) win->invalidate();
  }
  const bool sizeChanged = width != 0 && (width != picWidth_ || height != picHeight_);
  if (sizeChanged) {
    picWidth_ = width;
    picHeight_ = height;
    if (proportion) {
      std::lock_guard lock(settingsMutex_);
      invalidatePending_ = true;
    }
  }
  if (rectChanged) {
    // A moved or resized window starts over with everything.
    rcDest_ = rcWindow_;
    surface_.reset();
    window_ = win;
  }
  if (rectChanged || windowChanged) {
    window_ = win;
    if (!rectChanged && !sizeChanged) return true;
  }
  if (rectChanged || sizeChanged) {
    if (!window_) {
      reset();
      return false;
    }
    surface_.reset();
    surface_ = window_->createSurface(picWidth_, picHeight_);
    if (!surface_) {
      debugMessage("pDD->CreateSurface(&ddsd, &pddsBackBuffer, NULL)");
      reset();
      return false;
    }
  }
  return true;
}

bool CDDrawRenderer::renderPicture(const PlanarPicture& picture, const void* window) {
  pending_ = {};
  const int32_t width = picture.width, height = picture.height;
  if (!picture.luma || !picture.c1 || !picture.c2 || width < 1 || height < 1 ||
      width > platform::kMaxSurfaceSide || height > platform::kMaxSurfaceSide ||
      planarLayout(width, height).totalBytes > kMaxPictureBytes)
    return false;
  if (!prepareSurfaces(window, width, height)) return false;
  if (!surface_ || surface_->width() != width || surface_->height() != height) {
    reset();
    return false;
  }
  pending_ = picture;
  return true;
}

bool CDDrawRenderer::renderPicture(const uint8_t* picture, int32_t width, int32_t height,
                                   const void* window) {
  return renderPicture(packedPicture(picture, width, height), window);
}

void CDDrawRenderer::writeSnapshotLocked() {
  const int32_t w = surface_->width(), h = surface_->height();
  uint8_t header[kBmpHeaderBytes];
  bmpHeader(header, w, h);
  const size_t rowBytes = static_cast<size_t>(w) * 4;
  if (captureToFile_) {
    FILE* f = std::fopen(capturePath_.c_str(), "wb");
    if (!f) return;  // the request stays until its requester gives up
    bool ok = std::fwrite(header, 1, sizeof header, f) == sizeof header &&
              std::fseek(f, static_cast<long>(kBmpHeaderBytes), SEEK_SET) == 0;
    for (int32_t y = h - 1; ok && y >= 0; --y) ok = std::fwrite(surface_->row(y), 1, rowBytes, f) == rowBytes;
    std::fclose(f);
  } else {
    uint8_t* out = captureBuffer_;
    std::memcpy(out, header, sizeof header);
    out += sizeof header;
    for (int32_t y = h - 1; y >= 0; --y, out += rowBytes) std::memcpy(out, surface_->row(y), rowBytes);
  }
  captureRequested_ = false;
  captureBuffer_ = nullptr;
  capturePath_.clear();
  captureDone_.signal();
}

void CDDrawRenderer::present() {
  PlanarPicture picture = std::exchange(pending_, PlanarPicture{});
  if (!window_ || !surface_) return;

  bool invalidate, viewArea, proportion;
  platform::WindowRect margins;
  int32_t effect;
  OsdItem items[OSD_SLOT_COUNT];
  bool enabled[OSD_SLOT_COUNT];
  {
    std::lock_guard lock(settingsMutex_);
    invalidate = invalidatePending_;
    invalidatePending_ = false;
    viewArea = viewAreaOn_;
    margins = rcViewArea_;
    proportion = actualProportion_;
    effect = renderEffect_;
    std::memcpy(items, osdItems_, sizeof items);
    std::memcpy(enabled, osdEnabled_, sizeof enabled);
  }

  if (invalidate) window_->invalidate();

  const int32_t picW = surface_->width(), picH = surface_->height();
  platform::WindowRect src{0, 0, picW, picH};
  int32_t sw = picW, sh = picH;
  if (viewArea) {
    if (margins.left > 0 && margins.left < sw) { src.left += margins.left; sw -= margins.left; }
    if (margins.right > 0 && margins.right < sw) { src.right -= margins.right; sw -= margins.right; }
    if (margins.top > 0 && margins.top < sh) { src.top += margins.top; sh -= margins.top; }
    if (margins.bottom > 0 && margins.bottom < sh) { src.bottom -= margins.bottom; sh -= margins.bottom; }
  }

  platform::WindowRect dst = rcDest_;
  if (proportion) {
    const int64_t dw = dst.width(), dh = dst.height();
    if (dw * sh < dh * sw) {
      const int32_t bar = static_cast<int32_t>((dh - dw * sh / sw) / 2);
      dst.top += bar;
      dst.bottom -= bar;
    } else {
      const int32_t bar = static_cast<int32_t>((dw - dh * sw / sh) / 2);
      dst.left += bar;
      dst.right -= bar;
    }
  }

  const platform::Mirror mirror = platform::mirrorForEffect(effect);
  const bool mirrored = mirror != platform::Mirror::None;
  const bool anyText = std::any_of(std::begin(enabled), std::end(enabled), [](bool b) { return b; });
  bool snapshotWanted;
  {
    std::lock_guard lock(captureMutex_);
    snapshotWanted = captureRequested_;
  }
  // One to one, the surface would only be copied as it is: the picture goes
  // straight into the window instead. A snapshot asked for after this check
  // waits for the next picture, as one asked for after a present does.
  if (directAllowed_ && picture.luma && !mirrored && !anyText && !snapshotWanted && src.left == 0 && src.top == 0 &&
      sw == picW && sh == picH && dst.width() == picW && dst.height() == picH) {
    switch (window_->drawDirect(dst, writePicture, &picture)) {
      case platform::DirectDraw::Done:
        surfaceCurrent_ = false;
        ++directPresents_;
        return;
      case platform::DirectDraw::Gone:
        reset();
        return;
      case platform::DirectDraw::Unsuitable:
        break;
    }
  }
  if (picture.luma) {
    convertPicture(picture, surface_->pixels(), surface_->pitch());
    surfaceCurrent_ = true;
  }
  if (!surfaceCurrent_) return;  // nothing converted since the last direct picture

  {
    std::lock_guard lock(captureMutex_);
    if (captureRequested_) writeSnapshotLocked();
  }

  if (mirrored) platform::mirrorPicture(surface_->pixels(), surface_->pitch(), picW, picH, mirror);

  if (anyText) {
    if (!text_) text_ = platform::createTextDrawer();
    if (text_) {
      const OsdFrame frame{picTime_.load(), static_cast<int8_t>(zoneHours_.load()), picW, src, dst};
      drawOsdItems(*text_, *surface_, items, enabled, frame);
    }
  }

  if (!window_->stretchCopy(*surface_, src, dst)) reset();
}

int32_t CDDrawRenderer::setOsdString(int32_t index, const OsdItem* item) {
  if (index < 0 || index >= OSD_SLOT_COUNT || !item) return 0;
  std::lock_guard lock(settingsMutex_);
  std::memcpy(&osdItems_[index], item, sizeof(OsdItem));
  osdEnabled_[index] = true;
  return 1;
}

int32_t CDDrawRenderer::removeOsdstring(int32_t index) {
  if (index < 0 || index >= OSD_SLOT_COUNT) return 0;
  std::lock_guard lock(settingsMutex_);
  osdEnabled_[index] = false;
  return 1;
}

int32_t CDDrawRenderer::adjustViewArea(int32_t left, int32_t right, int32_t top, int32_t bottom) {
  std::lock_guard lock(settingsMutex_);
  rcViewArea_ = {left, top, right, bottom};
  viewAreaOn_ = true;
  invalidatePending_ = true;
  return 1;
}

int32_t CDDrawRenderer::setRenderEffect(int32_t effect) {
  std::lock_guard lock(settingsMutex_);
  renderEffect_ = effect;
  return 1;
}

int32_t CDDrawRenderer::renderEffect() const {
  std::lock_guard lock(settingsMutex_);
  return renderEffect_;
}

int32_t CDDrawRenderer::renderActualProportion(int32_t on) {
  std::lock_guard lock(settingsMutex_);
  actualProportion_ = on != 0;
  invalidatePending_ = true;
  return 1;
}

void CDDrawRenderer::getPlayPicSize(int32_t* width, int32_t* height) const {
  if (width) *width = picWidth_;
  if (height) *height = picHeight_;
}

// Posts a request and waits for it. True when a present wrote it in time; on
// a time-out the request is withdrawn (unless it was written meanwhile).
bool CDDrawRenderer::captureRequest(const char* path, uint8_t* buffer, bool& busy) {
  uint64_t mine;
  {
    std::lock_guard lock(captureMutex_);
    busy = captureRequested_;
    if (busy) return false;
    captureDone_.reset();
    captureToFile_ = path != nullptr;
    capturePath_ = path ? path : "";
    captureBuffer_ = buffer;
    captureRequested_ = true;
    mine = ++captureSequence_;
  }
  const bool signalled = captureDone_.wait(kCaptureWaitMs);
  // The lock also orders the presenter's writes into the caller's buffer
  // before this return, whatever the event's own ordering.
  std::lock_guard lock(captureMutex_);
  if (signalled) return true;
  if (!captureRequested_ || captureSequence_ != mine) return true;
  captureRequested_ = false;
  capturePath_.clear();
  captureBuffer_ = nullptr;
  return false;
}

int32_t CDDrawRenderer::capturePicture(const char* path) {
  if (!path) return 0;
  bool busy = false;
  captureRequest(path, nullptr, busy);
  return busy ? 0 : 1;
}

int32_t CDDrawRenderer::capturePictureBuf(uint8_t* buffer) {
  if (!buffer) return 0;
  bool busy = false;
  return captureRequest(nullptr, buffer, busy) ? 1 : 0;
}

}  // namespace tavolen
