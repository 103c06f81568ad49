// Child windows: a rectangle of the parent's pixels that players draw into as
// into any window, never outside it.
#include "platform/child_window.h"

#include <gtest/gtest.h>

#include <vector>

#include "tavolen/window.h"

namespace tavolen::platform {
namespace {

std::vector<uint32_t> pixelsOf(const VideoWindow& w) {
  const WindowSize size = w.clientSize();
  std::vector<uint32_t> px(static_cast<size_t>(size.width) * size.height);
  w.readPixels(reinterpret_cast<uint8_t*>(px.data()), px.size() * 4);
  return px;
}

// A surface whose pixel (x, y) holds 1 + x + 16 y (never black).
std::unique_ptr<PictureSurface> numbered(int32_t width, int32_t height) {
  auto s = PictureSurface::create(width, height);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) reinterpret_cast<uint32_t*>(s->row(y))[x] = 1 + x + 16 * y;
  return s;
}

// A 6 x 4 parent at screen (100, 50) with a 4 x 2 child at (1, 1).
struct Family {
  std::shared_ptr<VideoWindow> parent = createOffscreenWindow(6, 4);
  std::shared_ptr<VideoWindow> child;
  Family(WindowRect rect = {1, 1, 5, 3}) {
    parent->setPosition(100, 50);
    child = createChildWindow(parent, rect);
  }
};

TEST(ChildWindow, DrawingLandsAtItsOffsetAndNeverOutsideIt) {
  struct Case {
    const char* name;
    WindowRect dst;  // screen coordinates
    std::vector<uint32_t> parent;
  } cases[] = {
      {"exactly the child", {101, 51, 105, 53},
       {0, 0, 0, 0, 0, 0,
        0, 1, 2, 3, 4, 0,
        0, 17, 18, 19, 20, 0,
        0, 0, 0, 0, 0, 0}},
      // The whole parent as destination: only the child's part shows.
      {"the whole parent", {100, 50, 106, 54},
       {0, 0, 0, 0, 0, 0,
        0, 2, 2, 3, 4, 0,
        0, 18, 18, 19, 20, 0,
        0, 0, 0, 0, 0, 0}},
      {"half outside to the left", {99, 51, 103, 53},
       {0, 0, 0, 0, 0, 0,
        0, 3, 4, 0, 0, 0,
        0, 19, 20, 0, 0, 0,
        0, 0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    Family f;
    auto s = numbered(4, 2);
    EXPECT_TRUE(f.child->stretchCopy(*s, {0, 0, 4, 2}, c.dst)) << c.name;
    EXPECT_EQ(pixelsOf(*f.parent), c.parent) << c.name;
  }
}

TEST(ChildWindow, IsAWindowOfItsOwnSizeAndPlace) {
  Family f;
  WindowRect rc;
  ASSERT_TRUE(f.child->screenRect(rc));
  EXPECT_EQ(rc, (WindowRect{101, 51, 105, 53}));
  EXPECT_EQ(f.child->clientSize(), (WindowSize{4, 2}));
  // The parent moves: the child moves with it.
  f.parent->setPosition(0, 0);
  ASSERT_TRUE(f.child->screenRect(rc));
  EXPECT_EQ(rc, (WindowRect{1, 1, 5, 3}));

  // Its own fills, bitmaps and erases, in its own client coordinates.
  f.parent->fillRect({0, 0, 6, 4}, 7);
  EXPECT_TRUE(f.child->fillRect({-1, 1, 2, 9}, 9));
  const uint32_t bitmap[2][4] = {{1, 2, 3, 4}, {5, 6, 7, 8}};
  EXPECT_FALSE(f.child->copyBitmap(reinterpret_cast<const uint8_t*>(bitmap), 16, 4, 1));
  EXPECT_EQ(pixelsOf(*f.parent), (std::vector<uint32_t>{7, 7, 7, 7, 7, 7,
                                                        7, 7, 7, 7, 7, 7,
                                                        7, 9, 9, 7, 7, 7,
                                                        7, 7, 7, 7, 7, 7}));
  EXPECT_TRUE(f.child->copyBitmap(reinterpret_cast<const uint8_t*>(bitmap), 16, 4, 2));
  EXPECT_EQ(pixelsOf(*f.child), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7, 8}));
  f.child->invalidate();
  EXPECT_EQ(pixelsOf(*f.parent), (std::vector<uint32_t>{7, 7, 7, 7, 7, 7,
                                                        7, 0, 0, 0, 0, 7,
                                                        7, 0, 0, 0, 0, 7,
                                                        7, 7, 7, 7, 7, 7}));
}

TEST(ChildWindow, PartlyOutsideItsParentDrawsOnlyTheSharedPart) {
  Family f({4, 2, 8, 6});
  f.parent->fillRect({0, 0, 6, 4}, 7);
  EXPECT_TRUE(f.child->fillRect({0, 0, 4, 4}, 9));
  EXPECT_EQ(pixelsOf(*f.parent), (std::vector<uint32_t>{7, 7, 7, 7, 7, 7,
                                                        7, 7, 7, 7, 7, 7,
                                                        7, 7, 7, 7, 9, 9,
                                                        7, 7, 7, 7, 9, 9}));
  // Read back, the part outside the parent is black.
  EXPECT_EQ(pixelsOf(*f.child), (std::vector<uint32_t>{9, 9, 0, 0, 9, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(ChildWindow, MovingOrResizingClearsItsNewPlaceOnly) {
  Family f;
  f.parent->fillRect({0, 0, 6, 4}, 7);
  EXPECT_TRUE(f.child->setPosition(2, 2));
  EXPECT_TRUE(f.child->setSize(3, 1));
  EXPECT_EQ(pixelsOf(*f.parent), (std::vector<uint32_t>{7, 7, 7, 7, 7, 7,
                                                        7, 7, 7, 7, 7, 7,
                                                        7, 7, 0, 0, 0, 0,
                                                        7, 7, 0, 0, 0, 0}));
  // An empty child is a window that shows nothing.
  f.parent->fillRect({0, 0, 6, 4}, 7);
  EXPECT_TRUE(f.child->setSize(0, 0));
  EXPECT_EQ(f.child->clientSize(), (WindowSize{0, 0}));
  auto s = numbered(2, 2);
  WindowRect rc;
  ASSERT_TRUE(f.child->screenRect(rc));
  EXPECT_TRUE(f.child->stretchCopy(*s, {0, 0, 2, 2}, {rc.left, rc.top, rc.left + 2, rc.top + 2}));
  EXPECT_EQ(pixelsOf(*f.parent), std::vector<uint32_t>(24, 7));
  for (auto [w, h] : {std::pair{-1, 1}, {1, -1}, {kMaxWindowSide + 1, 1}})
    EXPECT_FALSE(f.child->setSize(w, h)) << w << "x" << h;
  EXPECT_FALSE(f.child->setPosition(kMaxWindowPosition + 1, 0));
}

TEST(ChildWindow, VisibleWhileItAndItsParentAreAndGoneWithEither) {
  Family f;
  EXPECT_TRUE(f.child->visible());
  f.parent->setVisible(false);
  EXPECT_FALSE(f.child->visible());
  f.parent->setVisible(true);
  f.child->setVisible(false);
  EXPECT_FALSE(f.child->visible());
  EXPECT_TRUE(f.parent->visible());
  f.child->setVisible(true);

  Family closedChild;
  closedChild.child->close();
  EXPECT_FALSE(closedChild.child->visible());
  EXPECT_TRUE(closedChild.parent->fillRect({0, 0, 1, 1}, 1));

  f.parent->close();
  WindowRect rc;
  EXPECT_FALSE(f.child->visible());
  EXPECT_FALSE(f.child->screenRect(rc));
  EXPECT_EQ(f.child->createSurface(2, 2), nullptr);
  EXPECT_FALSE(f.child->fillRect({0, 0, 1, 1}, 1));
}

TEST(ChildWindow, OnlyCanvasParentsAndSaneRectangles) {
  auto parent = createOffscreenWindow(4, 4);
  EXPECT_EQ(createChildWindow(nullptr, {0, 0, 1, 1}), nullptr);
  EXPECT_EQ(createChildWindow(parent, {0, 0, -1, 1}), nullptr);
  EXPECT_EQ(createChildWindow(parent, {0, 0, kMaxWindowSide + 1, 1}), nullptr);
  EXPECT_EQ(createChildWindow(parent, {-kMaxWindowPosition - 1, 0, 0, 1}), nullptr);
  // A child is no full-screen window and has no screen of its own.
  auto child = createChildWindow(parent, {0, 0, 2, 2});
  ASSERT_TRUE(child);
  EXPECT_FALSE(child->setFullScreen(true));
  EXPECT_FALSE(child->setScreenSize(800, 600));
}

class RecordingObserver : public WindowObserver {
 public:
  void windowEvent(const WindowEvent& e) override { events.push_back(e); }
  std::vector<WindowEvent> events;
};

TEST(ChildWindow, HandleWorksWithTheCFunctionsButTakesNoInput) {
  auto parentObject = createOffscreenWindow(6, 4);
  auto* parent = static_cast<TavolenWindow*>(windowHandles().add(parentObject));
  auto* child = static_cast<TavolenWindow*>(windowHandles().add(createChildWindow(parentObject, {1, 1, 5, 3})));
  auto observer = std::make_shared<RecordingObserver>();
  parentObject->setObserver(observer);

  EXPECT_EQ(tavolen_window_send_mouse(child, 1, 0, 1), 0);
  EXPECT_TRUE(observer->events.empty());

  TavolenWindowState st{};
  ASSERT_EQ(tavolen_window_get_state(child, &st), 1);
  EXPECT_EQ(st.x, 1);
  EXPECT_EQ(st.y, 1);
  EXPECT_EQ(st.width, 4);
  EXPECT_EQ(st.height, 2);
  EXPECT_EQ(st.screenWidth, 1920);
  EXPECT_EQ(tavolen_window_set_screen_size(child, 800, 600), 0);

  parentObject->fillRect({0, 0, 6, 4}, 5);
  std::vector<uint32_t> px(8);
  EXPECT_EQ(tavolen_window_read_pixels(child, reinterpret_cast<uint8_t*>(px.data()), 32), 32);
  EXPECT_EQ(px, std::vector<uint32_t>(8, 5));

  EXPECT_EQ(tavolen_window_destroy(child), 1);
  EXPECT_EQ(tavolen_window_read_pixels(child, reinterpret_cast<uint8_t*>(px.data()), 32), 0);
  EXPECT_EQ(tavolen_window_destroy(parent), 1);
}

}  // namespace
}  // namespace tavolen::platform
