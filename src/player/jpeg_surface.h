#pragma once
// The JPEG player's drawing: an off-screen bitmap the size of the window's
// client area, the picture stretched over all of it, text drawn into it, and
// the bitmap copied into the window in one piece, so the window never shows a
// half-drawn picture.
//
// Used by one thread at a time (the player's draw lock).

#include <cstdint>
#include <memory>
#include <string>

#include "platform/jpeg_codec.h"
#include "platform/text_drawer.h"
#include "platform/video_window.h"
#include "render/osd_text.h"
#include "tavolen/types.h"

namespace tavolen {

// Stretches pic over the whole surface, without keeping its aspect ratio
// (nearest sample); a 0 x 0 picture leaves the surface as it is.
void stretchPicture(const platform::JpegPicture& pic, platform::PictureSurface& surface);

class JpegSurface {
 public:
  JpegSurface();
  ~JpegSurface();

  // Finds the window behind the handle and readies a black bitmap of its
  // client size. False when there is no such window or it has no area.
  bool begin(const void* windowHandle);
  int32_t width() const;
  int32_t height() const;
  void drawPicture(const platform::JpegPicture& pic);
  // The item's text as the renderer draws it, with the item's own font (no
  // size override).
  void drawText(const OsdItem& item, std::u32string_view text, const OsdPlacement& placement);
  // Copies the bitmap into the window; false when the window took nothing.
  bool show();

 private:
  std::shared_ptr<platform::VideoWindow> window_;
  std::unique_ptr<platform::PictureSurface> bitmap_;
  std::unique_ptr<platform::TextDrawer> text_;  // created at the first text
};

}  // namespace tavolen
