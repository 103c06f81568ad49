// What a host and a control see of an off-screen window: full screen on a set
// screen, the events the observer gets and when, the change listener.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/video_window.h"
#include "tavolen/window.h"

namespace tavolen::platform {
namespace {

TavolenWindowState stateOf(TavolenWindow* w) {
  TavolenWindowState s{};
  EXPECT_EQ(tavolen_window_get_state(w, &s), 1);
  return s;
}

struct Geometry {
  int32_t x, y, width, height, fullScreen;
  friend bool operator==(const Geometry&, const Geometry&) = default;
};

std::ostream& operator<<(std::ostream& os, const Geometry& g) {
  return os << g.x << "," << g.y << " " << g.width << "x" << g.height << (g.fullScreen ? " full" : "");
}

Geometry geometryOf(TavolenWindow* w) {
  const TavolenWindowState s = stateOf(w);
  return {s.x, s.y, s.width, s.height, s.fullScreen};
}

TEST(FullScreen, CoversTheScreenOnePixelShortAndReturnsToTheEmbeddedPlace) {
  enum Op { Max, Normal, Size, Move, Screen };
  struct Step {
    Op op;
    int32_t a = 0, b = 0;
    Geometry after;
  };
  // The window starts embedded at 30,40 with 200 x 100 on the default screen.
  struct Case {
    const char* name;
    std::vector<Step> steps;
  } cases[] = {
      {"there and back", {{Max, 0, 0, {0, 0, 1919, 1079, 1}}, {Normal, 0, 0, {30, 40, 200, 100, 0}}}},
      {"a second full screen keeps the embedded place",
       {{Max, 0, 0, {0, 0, 1919, 1079, 1}},
        {Screen, 640, 480, {0, 0, 1919, 1079, 1}},
        {Max, 0, 0, {0, 0, 639, 479, 1}},
        {Normal, 0, 0, {30, 40, 200, 100, 0}}}},
      {"the host resizes and moves while full screen",
       {{Max, 0, 0, {0, 0, 1919, 1079, 1}},
        {Size, 300, 50, {0, 0, 1919, 1079, 1}},
        {Move, 5, 6, {0, 0, 1919, 1079, 1}},
        {Normal, 0, 0, {5, 6, 300, 50, 0}}}},
      {"back while embedded changes nothing", {{Normal, 0, 0, {30, 40, 200, 100, 0}}}},
      {"a screen of the smallest size", {{Screen, 2, 2, {30, 40, 200, 100, 0}}, {Max, 0, 0, {0, 0, 1, 1, 1}}}},
  };
  for (const Case& c : cases) {
    TavolenWindow* handle = tavolen_window_create_offscreen(200, 100);
    ASSERT_EQ(tavolen_window_set_position(handle, 30, 40), 1);
    auto w = windowHandles().share(handle);
    for (size_t i = 0; i < c.steps.size(); ++i) {
      const Step& s = c.steps[i];
      switch (s.op) {
        case Max: EXPECT_TRUE(w->setFullScreen(true)); break;
        case Normal: EXPECT_TRUE(w->setFullScreen(false)); break;
        case Size: EXPECT_EQ(tavolen_window_set_size(handle, s.a, s.b), 1); break;
        case Move: EXPECT_EQ(tavolen_window_set_position(handle, s.a, s.b), 1); break;
        case Screen: EXPECT_EQ(tavolen_window_set_screen_size(handle, s.a, s.b), 1); break;
      }
      EXPECT_EQ(geometryOf(handle), s.after) << c.name << ", step " << i;
    }
    // What the host reads back is the window as it now is.
    const Geometry g = geometryOf(handle);
    std::vector<uint8_t> px(static_cast<size_t>(g.width) * g.height * 4);
    EXPECT_EQ(tavolen_window_read_pixels(handle, px.data(), static_cast<int32_t>(px.size())),
              static_cast<int32_t>(px.size()))
        << c.name;
    tavolen_window_destroy(handle);
  }
}

TEST(FullScreen, ScreenSizeBounds) {
  TavolenWindow* w = tavolen_window_create_offscreen(10, 10);
  EXPECT_EQ(stateOf(w).screenWidth, 1920);
  EXPECT_EQ(stateOf(w).screenHeight, 1080);
  for (auto [sw, sh] : {std::pair{1, 100}, {100, 1}, {0, 0}, {-5, 100}, {kMaxWindowSide + 1, 100}})
    EXPECT_EQ(tavolen_window_set_screen_size(w, sw, sh), 0) << sw << "x" << sh;
  EXPECT_EQ(tavolen_window_set_screen_size(w, kMaxWindowSide, 2), 1);
  EXPECT_EQ(stateOf(w).screenWidth, kMaxWindowSide);
  EXPECT_EQ(stateOf(w).screenHeight, 2);
  tavolen_window_destroy(w);
  EXPECT_EQ(tavolen_window_set_screen_size(w, 100, 100), 0);
  TavolenWindowState s{};
  EXPECT_EQ(tavolen_window_get_state(w, &s), 0);
  EXPECT_EQ(tavolen_window_get_state(nullptr, &s), 0);
}

TEST(FullScreen, EnteringAndLeavingRepaintWithTheBackground) {
  auto w = createOffscreenWindow(4, 2);
  w->setScreenSize(5, 3);  // full screen is then 4 x 2 as well
  w->fillRect({0, 0, 4, 2}, 9);
  w->setFullScreen(true);
  std::vector<uint32_t> px(8);
  w->readPixels(reinterpret_cast<uint8_t*>(px.data()), 32);
  EXPECT_EQ(px, std::vector<uint32_t>(8, 9)) << "same size, nothing to repaint";
  w->setScreenSize(6, 3);
  w->setFullScreen(true);
  px.resize(10);
  w->readPixels(reinterpret_cast<uint8_t*>(px.data()), 40);
  EXPECT_EQ(px, std::vector<uint32_t>(10, 0));
}

class RecordingObserver : public WindowObserver {
 public:
  explicit RecordingObserver(std::shared_ptr<VideoWindow> w) : window(std::move(w)) {}
  void windowEvent(const WindowEvent& e) override {
    events.push_back(e);
    sizes.push_back(window->clientSize());
  }
  std::shared_ptr<VideoWindow> window;
  std::vector<WindowEvent> events;
  std::vector<WindowSize> sizes;  // the client size the observer saw
};

TEST(Observer, GetsTheHostsChangesAfterTheyHappenAndNothingElse) {
  using K = WindowEvent::Kind;
  TavolenWindow* handle = tavolen_window_create_offscreen(20, 10);
  auto w = windowHandles().share(handle);
  auto observer = std::make_shared<RecordingObserver>(w);
  w->setObserver(observer);

  EXPECT_EQ(tavolen_window_set_size(handle, 30, 15), 1);
  EXPECT_EQ(tavolen_window_set_size(handle, 30, 15), 1);  // no change, no event
  EXPECT_EQ(tavolen_window_set_size(handle, 0, 15), 0);
  EXPECT_EQ(tavolen_window_set_position(handle, 3, 3), 1);  // moves are not events
  EXPECT_EQ(tavolen_window_set_visible(handle, 0), 1);
  EXPECT_EQ(tavolen_window_set_visible(handle, 0), 1);
  EXPECT_EQ(tavolen_window_set_visible(handle, 1), 1);
  for (int32_t e : {1, 2, 3, 4, 5}) EXPECT_EQ(tavolen_window_send_mouse(handle, e, e, 2 * e), 1);
  for (int32_t bad : {0, 6, -1}) EXPECT_EQ(tavolen_window_send_mouse(handle, bad, 1, 1), 0);
  // The control's own changes are not reported back to it.
  w->setFullScreen(true);
  w->setFullScreen(false);
  w->fillRect({0, 0, 5, 5}, 1);

  const std::vector<WindowEvent> expected = {
      {K::Resized, MouseEvent::Move, 30, 15},
      {K::Hidden},
      {K::Shown},
      {K::Mouse, MouseEvent::LeftDown, 1, 2},
      {K::Mouse, MouseEvent::RightDown, 2, 4},
      {K::Mouse, MouseEvent::LeftDoubleClick, 3, 6},
      {K::Mouse, MouseEvent::LeftUp, 4, 8},
      {K::Mouse, MouseEvent::Move, 5, 10},
  };
  EXPECT_EQ(observer->events, expected);
  EXPECT_EQ(observer->sizes[0], (WindowSize{30, 15}));

  // A size while full screen changes nothing the control must fit to.
  w->setFullScreen(true);
  observer->events.clear();
  EXPECT_EQ(tavolen_window_set_size(handle, 40, 20), 1);
  EXPECT_TRUE(observer->events.empty());

  w->setObserver(nullptr);
  EXPECT_EQ(tavolen_window_send_mouse(handle, 1, 0, 0), 1);
  EXPECT_TRUE(observer->events.empty());
  tavolen_window_destroy(handle);
  EXPECT_EQ(tavolen_window_send_mouse(handle, 1, 0, 0), 0);
}

// The observer may use the window it observes: no window lock is held.
TEST(Observer, MayDrawIntoTheWindowItObserves) {
  class Painter : public WindowObserver {
   public:
    explicit Painter(VideoWindow* w) : window(w) {}
    void windowEvent(const WindowEvent&) override {
      const WindowSize s = window->clientSize();
      window->fillRect({0, 0, s.width, s.height}, 0x00FF0000u);
    }
    VideoWindow* window;
  };
  TavolenWindow* handle = tavolen_window_create_offscreen(2, 1);
  auto w = windowHandles().share(handle);
  w->setObserver(std::make_shared<Painter>(w.get()));
  ASSERT_EQ(tavolen_window_set_size(handle, 3, 1), 1);
  // The call returned once the observer had painted.
  std::vector<uint32_t> px(3);
  ASSERT_EQ(tavolen_window_read_pixels(handle, reinterpret_cast<uint8_t*>(px.data()), 12), 12);
  EXPECT_EQ(px, std::vector<uint32_t>(3, 0x00FF0000u));
  tavolen_window_destroy(handle);
}

struct ListenerLog {
  std::mutex mutex;
  std::vector<std::thread::id> threads;
  std::vector<TavolenWindowState> states;
  TavolenWindow* window = nullptr;
  static void call(void* user) {
    auto* log = static_cast<ListenerLog*>(user);
    // Reading the window from the listener shows the change already made (and
    // proves no window lock is held around the call).
    TavolenWindowState s{};
    tavolen_window_get_state(log->window, &s);
    std::lock_guard lock(log->mutex);
    log->threads.push_back(std::this_thread::get_id());
    log->states.push_back(s);
  }
  size_t count() {
    std::lock_guard lock(mutex);
    return threads.size();
  }
};

TEST(Listener, CalledAfterEveryPixelOrStateChangeOnTheChangingThread) {
  ListenerLog log;
  log.window = tavolen_window_create_offscreen(8, 8);
  auto w = windowHandles().share(log.window);
  ASSERT_EQ(tavolen_window_set_listener(log.window, &ListenerLog::call, &log), 1);

  struct Change {
    const char* name;
    std::function<void()> make;
    size_t calls;
  } changes[] = {
      {"size", [&] { tavolen_window_set_size(log.window, 9, 9); }, 1},
      {"same size", [&] { tavolen_window_set_size(log.window, 9, 9); }, 0},
      {"position", [&] { tavolen_window_set_position(log.window, 2, 2); }, 1},
      {"visibility", [&] { tavolen_window_set_visible(log.window, 0); }, 1},
      {"screen", [&] { tavolen_window_set_screen_size(log.window, 100, 50); }, 1},
      {"full screen", [&] { w->setFullScreen(true); }, 1},
      {"fill", [&] { w->fillRect({0, 0, 1, 1}, 3); }, 1},
      {"erase", [&] { w->invalidate(); }, 1},
      {"mouse", [&] { tavolen_window_send_mouse(log.window, 1, 0, 0); }, 0},
  };
  for (const Change& c : changes) {
    const size_t before = log.count();
    c.make();
    EXPECT_EQ(log.count() - before, c.calls) << c.name;
  }
  EXPECT_EQ(log.states.front().width, 9);
  EXPECT_EQ(log.states.back().fullScreen, 1);
  EXPECT_EQ(log.states.back().width, 99);

  // A drawing thread calls it itself.
  std::thread::id drawer;
  std::thread t([&] {
    drawer = std::this_thread::get_id();
    auto child = createChildWindow(w, {1, 1, 3, 3});
    child->fillRect({0, 0, 2, 2}, 5);  // a child's drawing changes its parent
  });
  t.join();
  EXPECT_EQ(log.threads.back(), drawer);

  ASSERT_EQ(tavolen_window_set_listener(log.window, nullptr, nullptr), 1);
  const size_t before = log.count();
  w->invalidate();
  EXPECT_EQ(log.count(), before);

  // Once the window is destroyed, a drawer still holding it calls nobody.
  ASSERT_EQ(tavolen_window_set_listener(log.window, &ListenerLog::call, &log), 1);
  ASSERT_EQ(tavolen_window_destroy(log.window), 1);
  w->invalidate();
  w->fillRect({0, 0, 1, 1}, 1);
  EXPECT_EQ(log.count(), before);
  EXPECT_EQ(tavolen_window_set_listener(log.window, &ListenerLog::call, &log), 0);
}

// A listener that breaks its rules (changes its window, replaces itself)
// neither hangs nor recurses.
TEST(Listener, NestedCallsFromItsOwnListenerAreCaught) {
  struct Rogue {
    TavolenWindow* handle = nullptr;
    std::shared_ptr<VideoWindow> window;
    int calls = 0;
    int32_t replaced = -1;
    static void call(void* user) {
      auto* r = static_cast<Rogue*>(user);
      ++r->calls;
      r->window->fillRect({0, 0, 1, 1}, 7);
      r->replaced = tavolen_window_set_listener(r->handle, nullptr, nullptr);
    }
  } rogue;
  rogue.handle = tavolen_window_create_offscreen(4, 4);
  rogue.window = windowHandles().share(rogue.handle);
  ASSERT_EQ(tavolen_window_set_listener(rogue.handle, &Rogue::call, &rogue), 1);
  rogue.window->invalidate();
  EXPECT_EQ(rogue.calls, 1);
  EXPECT_EQ(rogue.replaced, 0);
  rogue.window->invalidate();  // still set
  EXPECT_EQ(rogue.calls, 2);
  tavolen_window_destroy(rogue.handle);
}

// Players draw while the host replaces the listener: each call reaches the
// listener that was set when it was made, never one already removed.
TEST(Listener, RemovalWaitsOutACallInProgress) {
  struct Counter {
    std::atomic<int> calls{0};
    std::atomic<bool> removed{false};
    std::atomic<int> lateCalls{0};
    static void call(void* user) {
      auto* c = static_cast<Counter*>(user);
      if (c->removed) ++c->lateCalls;
      ++c->calls;
    }
  } counter;
  TavolenWindow* handle = tavolen_window_create_offscreen(16, 16);
  auto w = windowHandles().share(handle);
  ASSERT_EQ(tavolen_window_set_listener(handle, &Counter::call, &counter), 1);
  std::atomic<bool> stop{false};
  std::thread drawer([&] {
    for (int i = 0; !stop; ++i) w->fillRect({0, 0, 16, 16}, static_cast<uint32_t>(i));
  });
  while (counter.calls < 100) std::this_thread::yield();
  ASSERT_EQ(tavolen_window_set_listener(handle, nullptr, nullptr), 1);
  counter.removed = true;
  const int atRemoval = counter.calls;
  stop = true;
  drawer.join();
  EXPECT_EQ(counter.lateCalls, 0);
  EXPECT_EQ(counter.calls, atRemoval);
  tavolen_window_destroy(handle);
}

}  // namespace
}  // namespace tavolen::platform
