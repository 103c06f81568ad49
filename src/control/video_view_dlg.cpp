#include "control/video_view_dlg.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "control/utf_text.h"
#include "render/osd_text.h"

namespace tavolen::control {

namespace {

// The window's font: the system's dialog face at 8 points on a 96 dpi screen
// (an em of 11 pixels).
const platform::TextFont kStatusFont{"MS Shell Dlg", -11, 0};

}  // namespace

CVideoViewDlg::~CVideoViewDlg() { destroy(); }

bool CVideoViewDlg::create(VideoViewOwner* owner, void* hostWindow) {
  if (window_ || !owner) return false;
  auto window = platform::windowHandles().share(hostWindow);
  if (!window) return false;
  const platform::WindowSize size = window->clientSize();
  auto surface = platform::createChildWindow(
      window, {kSurfaceInset, kSurfaceInset, kSurfaceInset + std::max(size.width - 2 * kSurfaceInset, 0),
               kSurfaceInset + std::max(size.height - 2 * kSurfaceInset, 0)});
  if (!surface) return false;
  window_ = std::move(window);
  surface_ = surface;
  surfaceHandle_ = platform::windowHandles().add(std::move(surface));
  owner_ = owner;
  focused_ = 0;
  std::memset(statusText_, 0, sizeof statusText_);
  ready_ = 1;
  paint();
  return true;
}

void CVideoViewDlg::destroy() {
  if (!window_) return;
  // The table's cancel step closes the surface: a player still holding it
  // draws nothing from then on. (Refused only inside a call on the surface's
  // own handle; it is closed all the same.)
  if (!platform::windowHandles().remove(surfaceHandle_)) surface_->close();
  // The host's window was only lent: it goes back to its place in the host.
  window_->setFullScreen(false);
  surfaceHandle_ = nullptr;
  surface_.reset();
  window_.reset();
  owner_ = nullptr;
  ready_ = 0;
}

void CVideoViewDlg::setStatusText(std::string_view utf8) {
  std::memset(statusText_, 0, sizeof statusText_);
  const std::string_view fitted = cutUtf8(utf8.substr(0, utf8.find('\0')), sizeof statusText_ - 1);
  std::memcpy(statusText_, fitted.data(), fitted.size());
  if (surface_) drawStatus(false);
}

void CVideoViewDlg::clearAndShowStatus() {
  if (surface_) drawStatus(true);
}

void CVideoViewDlg::drawStatus(bool overBlack) {
  const platform::WindowSize size = surface_->clientSize();
  if (size.width < 1 || size.height < 1) return;
  if (!overBlack && statusText_[0] == '\0') return;
  auto picture = platform::PictureSurface::create(size.width, size.height);
  if (!picture) return;
  if (!overBlack) {
    // The text lies over whatever the surface shows now (its background is
    // not painted). A picture the player draws in between is replaced by the
    // one read here until its next picture.
    std::vector<uint8_t> pixels(static_cast<size_t>(size.width) * size.height * 4);
    if (surface_->readPixels(pixels.data(), pixels.size()) != pixels.size()) return;
    for (int32_t y = 0; y < size.height; ++y)
      std::memcpy(picture->row(y), pixels.data() + static_cast<size_t>(y) * size.width * 4,
                  static_cast<size_t>(size.width) * 4);
  }
  if (statusText_[0] != '\0') {
    if (!drawer_) drawer_ = platform::createTextDrawer();
    if (drawer_) {
      // One line, centred both ways; line breaks are not honoured.
      std::u32string text = decodeUtf8(statusText_, sizeof statusText_);
      std::replace(text.begin(), text.end(), U'\n', U' ');
      std::replace(text.begin(), text.end(), U'\r', U' ');
      const int32_t lineHeight = drawer_->measureText(kStatusFont, text).height;
      const int32_t top = (size.height - lineHeight) / 2;
      drawer_->drawText(*picture, kStatusFont, text, {0, top, size.width, top + lineHeight},
                        platform::TextAlign::Centre, kStatusColour);
    }
  }
  surface_->copyBitmap(picture->pixels(), picture->pitch(), size.width, size.height);
}

void CVideoViewDlg::drawFocusFrame(int32_t value) {
  if (!window_) return;
  focused_ = value;
  const platform::WindowSize size = window_->clientSize();
  const uint32_t colour = value ? kFocusedFrame : kUnfocusedFrame;
  const int32_t w = size.width, h = size.height;
  window_->fillRect({0, 0, w, 1}, colour);
  window_->fillRect({0, h - 1, w, h}, colour);
  window_->fillRect({0, 0, 1, h}, colour);
  window_->fillRect({w - 1, 0, w, h}, colour);
}

void CVideoViewDlg::paint() {
  if (!window_) return;
  drawFocusFrame(focused_);
  owner_->repaint();
}

void CVideoViewDlg::fitSurfaceAndPaint() {
  const platform::WindowSize size = window_->clientSize();
  if (size.width > 0 && ready_) {
    surface_->setPosition(kSurfaceInset, kSurfaceInset);
    surface_->setSize(std::max(size.width - 2 * kSurfaceInset, 0),
                      std::max(size.height - 2 * kSurfaceInset, 0));
  }
  paint();
}

void CVideoViewDlg::ShowMax() {
  if (!window_) return;
  window_->setFullScreen(true);
  fitSurfaceAndPaint();
}

void CVideoViewDlg::ShowNormal() {
  if (!window_) return;
  window_->setFullScreen(false);
  fitSurfaceAndPaint();
}

void CVideoViewDlg::UpdataSize() {
  if (window_) fitSurfaceAndPaint();
}

void CVideoViewDlg::onWindowEvent(const platform::WindowEvent& event) {
  if (!window_) return;
  using Kind = platform::WindowEvent::Kind;
  using platform::MouseEvent;
  switch (event.kind) {
    case Kind::Resized:
      fitSurfaceAndPaint();
      break;
    case Kind::Shown:
    case Kind::Exposed:
      paint();
      break;
    case Kind::Hidden:
      break;
    case Kind::Mouse:
      if (event.mouse == MouseEvent::LeftDown || event.mouse == MouseEvent::RightDown) {
        drawFocusFrame(1);
        owner_->MessageNotify(0, 0);
      } else if (event.mouse == MouseEvent::LeftDoubleClick) {
        drawFocusFrame(1);
        owner_->MessageNotify(1, 0);
      }
      break;
  }
}

}  // namespace tavolen::control
