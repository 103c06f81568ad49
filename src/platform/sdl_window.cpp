#include "platform/sdl_window.h"

#include <SDL2/SDL.h>

#include <atomic>
#include <deque>

#include "platform/canvas_window.h"

namespace tavolen::platform {

namespace {

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

class SdlWindow final : public CanvasWindow {
 public:
  SdlWindow(SDL_Window* window, int32_t width, int32_t height)
      : CanvasWindow(width, height), window_(window), id_(SDL_GetWindowID(window)) {
    int x = 0, y = 0;
    SDL_GetWindowPosition(window_, &x, &y);
    CanvasWindow::setPosition(x, y);
  }
  ~SdlWindow() override { close(); }

  bool setSize(int32_t width, int32_t height) override {
    if (!window_ || !CanvasWindow::setSize(width, height)) return false;
    SDL_SetWindowSize(window_, width, height);
    return true;
  }
  bool setPosition(int32_t x, int32_t y) override {
    if (!window_ || !CanvasWindow::setPosition(x, y)) return false;
    SDL_SetWindowPosition(window_, x, y);
    return true;
  }
  bool setVisible(bool on) override {
    if (!window_ || !CanvasWindow::setVisible(on)) return false;
    on ? SDL_ShowWindow(window_) : SDL_HideWindow(window_);
    return true;
  }
  void close() override {
    CanvasWindow::close();
    if (window_) {
      SDL_DestroyWindow(window_);
      window_ = nullptr;
      SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
  }

  int32_t pump(int32_t timeoutMs) {
    if (!window_) return 0;
    SDL_Event e;
    bool any = false;
    auto& parked = parkedEvents();
    for (auto it = parked.begin(); it != parked.end();) {
      if (it->window.windowID == id_) {
        handle(*it);
        it = parked.erase(it);
        any = true;
      } else {
        ++it;
      }
    }
    if (!any && !dirty_.load() && timeoutMs > 0 && SDL_WaitEventTimeout(&e, timeoutMs)) route(e);
    while (SDL_PollEvent(&e)) route(e);
    if (closedByUser_) return 0;
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
    } else if (e.type == SDL_WINDOWEVENT && e.window.windowID != id_) {
      parkedEvents().push_back(e);
    } else if (e.type == SDL_WINDOWEVENT) {
      handle(e);
    }
  }

  void handle(const SDL_Event& e) {
    if (e.type != SDL_WINDOWEVENT) return;
    switch (e.window.event) {
      case SDL_WINDOWEVENT_SIZE_CHANGED:
        CanvasWindow::setSize(e.window.data1, e.window.data2);
        break;
      case SDL_WINDOWEVENT_MOVED:
        CanvasWindow::setPosition(e.window.data1, e.window.data2);
        break;
      case SDL_WINDOWEVENT_HIDDEN:
      case SDL_WINDOWEVENT_MINIMIZED:
        CanvasWindow::setVisible(false);
        break;
      case SDL_WINDOWEVENT_SHOWN:
      case SDL_WINDOWEVENT_RESTORED:
        CanvasWindow::setVisible(true);
        dirty_ = true;
        break;
      case SDL_WINDOWEVENT_EXPOSED:
        dirty_ = true;
        break;
      case SDL_WINDOWEVENT_CLOSE:
        closedByUser_ = true;
        break;
      default:
        break;
    }
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
};

}  // namespace

std::shared_ptr<VideoWindow> createSdlWindow(const std::string& title, int32_t width, int32_t height) {
  if (width < 1 || height < 1 || width > kMaxWindowSide || height > kMaxWindowSide) return nullptr;
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
