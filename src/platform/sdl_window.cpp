#include "platform/sdl_window.h"

#include <SDL2/SDL.h>

#include <atomic>
#include <deque>

#include "platform/canvas_window.h"

namespace tavolen::platform {

namespace {

// Events kept for a window that is not pumping them is bounded: beyond this
// many the oldest are dropped (a window nobody pumps loses its old motions,
// the process never grows without limit).
constexpr size_t kMaxParkedEvents = 1024;

// Events that arrived for another SDL window during a pump, kept for that
// window's own pump. Host thread only.
std::deque<SDL_Event>& parkedEvents() {
  static std::deque<SDL_Event> q;
  return q;
}

uint32_t wakeEventType() {
  static const uint32_t type = SDL_RegisterEvents(1);
  return type;
}

// The window an event is for, or 0 for events of no window.
uint32_t eventWindowId(const SDL_Event& e) {
  switch (e.type) {
    case SDL_WINDOWEVENT: return e.window.windowID;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: return e.button.windowID;
    case SDL_MOUSEMOTION: return e.motion.windowID;
    default: return e.type == wakeEventType() ? e.user.windowID : 0;
  }
}

// The mouse event a button press reports. Presses alternate between a press
// and the second press of a double click (SDL counts on: 3, 4, ...); only the
// left button has a double click event, the right one's second press reports
// nothing.
bool pressEvent(const SDL_MouseButtonEvent& b, MouseEvent& out) {
  const bool second = b.clicks >= 2 && b.clicks % 2 == 0;
  if (b.button == SDL_BUTTON_LEFT) {
    out = second ? MouseEvent::LeftDoubleClick : MouseEvent::LeftDown;
    return true;
  }
  if (b.button == SDL_BUTTON_RIGHT && !second) {
    out = MouseEvent::RightDown;
    return true;
  }
  return false;
}

class SdlWindow final : public CanvasWindow {
 public:
  SdlWindow(SDL_Window* window, int32_t width, int32_t height)
      : CanvasWindow(width, height), window_(window), id_(SDL_GetWindowID(window)) {
    int x = 0, y = 0;
    SDL_GetWindowPosition(window_, &x, &y);
    adoptPosition(x, y, 0);
    refreshScreenSize();
  }
  ~SdlWindow() override { close(); }

  // Host thread: the canvas takes the change, SDL follows at once.
  bool setSize(int32_t width, int32_t height) override {
    if (!window_ || !CanvasWindow::setSize(width, height)) return false;
    applyGeometry();
    return true;
  }
  bool setPosition(int32_t x, int32_t y) override {
    if (!window_ || !CanvasWindow::setPosition(x, y)) return false;
    applyGeometry();
    return true;
  }
  bool setVisible(bool on) override {
    if (!window_ || !CanvasWindow::setVisible(on)) return false;
    on ? SDL_ShowWindow(window_) : SDL_HideWindow(window_);
    return true;
  }
  // The screen is the display the window is on.
  bool setScreenSize(int32_t, int32_t) override { return false; }
  void close() override {
    CanvasWindow::close();
    if (window_) {
      SDL_DestroyWindow(window_);
      window_ = nullptr;
      SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
  }

  // Any thread (the control's): the canvas takes the change at once, so what
  // is drawn from now on has the new geometry; the pump moves the SDL window.
  // changed() wakes the pump.

  int32_t pump(int32_t timeoutMs) {
    if (!window_) return 0;
    auto& parked = parkedEvents();
    bool any = false;
    for (auto it = parked.begin(); it != parked.end();) {
      if (eventWindowId(*it) == id_) {
        SDL_Event e = *it;
        it = parked.erase(it);
        handle(e);
        any = true;
      } else {
        ++it;
      }
    }
    SDL_Event e;
    if (!any && !dirty_.load() && timeoutMs > 0 && SDL_WaitEventTimeout(&e, timeoutMs)) route(e);
    while (SDL_PollEvent(&e)) route(e);
    if (closedByUser_) return 0;
    syncGeometry();
    refreshScreenSize();
    if (dirty_.exchange(false)) show();
    return 1;
  }

 protected:
  void onChanged() override {
    if (!dirty_.exchange(true)) {
      SDL_Event e{};
      e.type = wakeEventType();
      e.user.windowID = id_;
      SDL_PushEvent(&e);  // thread safe; wakes a pump waiting for events
    }
  }

 private:
  void route(const SDL_Event& e) {
    if (e.type == SDL_QUIT) {
      closedByUser_ = true;
      return;
    }
    const uint32_t id = eventWindowId(e);
    if (id == 0 || e.type == wakeEventType()) return;
    if (id == id_) {
      handle(e);
      return;
    }
    auto& parked = parkedEvents();
    if (parked.size() >= kMaxParkedEvents) parked.pop_front();
    parked.push_back(e);
  }

  void handle(const SDL_Event& e) {
    switch (e.type) {
      case SDL_MOUSEBUTTONDOWN: {
        MouseEvent m;
        if (pressEvent(e.button, m)) notifyObserver({WindowEvent::Kind::Mouse, m, e.button.x, e.button.y});
        return;
      }
      case SDL_MOUSEBUTTONUP:
        if (e.button.button == SDL_BUTTON_LEFT)
          notifyObserver({WindowEvent::Kind::Mouse, MouseEvent::LeftUp, e.button.x, e.button.y});
        return;
      case SDL_MOUSEMOTION:
        notifyObserver({WindowEvent::Kind::Mouse, MouseEvent::Move, e.motion.x, e.motion.y});
        return;
      case SDL_WINDOWEVENT:
        break;
      default:
        return;
    }
    switch (e.window.event) {
      case SDL_WINDOWEVENT_HIDDEN:
      case SDL_WINDOWEVENT_MINIMIZED:
        if (adoptVisible(false)) notifyObserver({WindowEvent::Kind::Hidden});
        break;
      case SDL_WINDOWEVENT_SHOWN:
      case SDL_WINDOWEVENT_RESTORED:
        dirty_ = true;
        if (adoptVisible(true)) notifyObserver({WindowEvent::Kind::Shown});
        break;
      case SDL_WINDOWEVENT_EXPOSED:
        dirty_ = true;
        notifyObserver({WindowEvent::Kind::Exposed});
        break;
      case SDL_WINDOWEVENT_CLOSE:
        closedByUser_ = true;
        break;
      default:
        // Size and position are read from SDL once the queue is drained.
        break;
    }
  }

  // Carries out a full screen request the SDL window has not yet followed, or
  // else takes the SDL window's own size and place (the user's or the window
  // manager's doing) into the canvas.
  void syncGeometry() {
    const uint64_t requests = fullScreenRequests();
    if (requests != appliedRequests_) {
      appliedRequests_ = requests;
      applyGeometry();
      return;
    }
    int w = 0, h = 0, x = 0, y = 0;
    SDL_GetWindowSize(window_, &w, &h);
    SDL_GetWindowPosition(window_, &x, &y);
    adoptPosition(x, y, requests);
    if (adoptSize(w, h, requests)) notifyObserver({WindowEvent::Kind::Resized, MouseEvent::Move, w, h});
  }

  // The SDL window to the canvas's geometry: full screen is a borderless
  // window above the others, not the display's exclusive mode.
  void applyGeometry() {
    const WindowState s = state();
    SDL_SetWindowBordered(window_, s.fullScreen ? SDL_FALSE : SDL_TRUE);
    SDL_SetWindowAlwaysOnTop(window_, s.fullScreen ? SDL_TRUE : SDL_FALSE);
    SDL_SetWindowSize(window_, s.rect.width(), s.rect.height());
    SDL_SetWindowPosition(window_, s.rect.left, s.rect.top);
    if (s.fullScreen) SDL_RaiseWindow(window_);
    dirty_ = true;
  }

  void refreshScreenSize() {
    SDL_DisplayMode mode;
    const int display = SDL_GetWindowDisplayIndex(window_);
    if (display >= 0 && SDL_GetDesktopDisplayMode(display, &mode) == 0 &&
        mode.w >= kMinScreenSide && mode.h >= kMinScreenSide && mode.w <= kMaxWindowSide &&
        mode.h <= kMaxWindowSide)
      storeScreenSize(mode.w, mode.h);
  }

  void show() {
    SDL_Surface* screen = SDL_GetWindowSurface(window_);
    if (!screen) return;
    withPixels([&](const uint32_t* pixels, int32_t width, int32_t height) {
      SDL_Surface* canvas = SDL_CreateRGBSurfaceWithFormatFrom(
          const_cast<uint32_t*>(pixels), width, height, 32, width * 4, SDL_PIXELFORMAT_RGB888);
      if (!canvas) return;
      SDL_BlitSurface(canvas, nullptr, screen, nullptr);
      SDL_FreeSurface(canvas);
    });
    SDL_UpdateWindowSurface(window_);
  }

  SDL_Window* window_;
  uint32_t id_;
  std::atomic<bool> dirty_{true};
  bool closedByUser_ = false;
  uint64_t appliedRequests_ = 0;  // host thread
};

}  // namespace

std::shared_ptr<VideoWindow> createSdlWindow(const std::string& title, int32_t width, int32_t height) {
  if (width < 1 || height < 1 || width > kMaxWindowSide || height > kMaxWindowSide) return nullptr;
  // The picture is a plain memory blit: SDL's own window framebuffer, not a
  // GL texture (which would make SDL recreate the window at the first show).
  SDL_SetHintWithPriority(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0", SDL_HINT_DEFAULT);
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return nullptr;
  SDL_Window* w = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                                   width, height, SDL_WINDOW_RESIZABLE);
  if (!w) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return nullptr;
  }
  return std::make_shared<SdlWindow>(w, width, height);
}

int32_t pumpSdlWindow(VideoWindow& window, int32_t timeoutMs) {
  auto* sdl = dynamic_cast<SdlWindow*>(&window);
  return sdl ? sdl->pump(timeoutMs) : 0;
}

}  // namespace tavolen::platform
