// Snapshots are handed from the requesting thread to the presenting thread.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "render/ddraw_renderer.h"
#include "render_fixture.h"
#include "support/manual_clock.h"

namespace tavolen {
namespace {

using test::Picture;
using test::Window;

// The BMP for a picture, assembled byte by byte.
std::vector<uint8_t> expectedBmp(const Picture& p) {
  const uint32_t image = p.width * p.height * 4;
  auto le = [](std::vector<uint8_t>& v, uint32_t x, int n) {
    for (int i = 0; i < n; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
  };
  std::vector<uint8_t> b = {'B', 'M'};
  le(b, 54 + image, 4);
  le(b, 0, 4);
  le(b, 54, 4);
  le(b, 40, 4);
  le(b, p.width, 4);
  le(b, p.height, 4);
  le(b, 1, 2);
  le(b, 32, 2);
  le(b, 0, 4);
  le(b, image, 4);
  le(b, 0, 4);
  le(b, 0, 4);
  le(b, 0, 4);
  le(b, 0, 4);
  const auto px = p.pixels();
  for (int32_t y = p.height - 1; y >= 0; --y)
    for (int32_t x = 0; x < p.width; ++x) le(b, px[y * p.width + x], 4);
  return b;
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

// Presents pictures every few milliseconds until stopped, like a decode thread.
class Presenter {
 public:
  Presenter(CDDrawRenderer& r, const Picture& p, const Window& w)
      : thread_([&r, &p, &w, this] {
          while (!stop_) {
            if (r.renderPicture(p.planes.data(), p.width, p.height, w.handle())) r.present();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
          }
        }) {}
  ~Presenter() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

std::string tempPath(const char* name) {
  return (std::filesystem::temp_directory_path() / (std::to_string(getpid()) + name)).string();
}

// A known picture, with a mirror effect and a caption set: neither reaches the
// snapshot.
Picture snapshotPicture() { return test::randomPicture(6, 4, 11); }

void decorate(CDDrawRenderer& r) {
  r.setRenderEffect(3);
  OsdItem item{};
  std::snprintf(item.text, sizeof item.text, "XX");
  item.fontHeight = 4;
  item.position = OsdTopLeft;
  r.setOsdString(0, &item);
}

TEST(Snapshot, FileHoldsTheBmpOfThePicture) {
  Window win(6, 4);
  CDDrawRenderer r;
  decorate(r);
  const Picture p = snapshotPicture();
  const std::string path = tempPath("_snapshot.bmp");
  {
    Presenter presenter(r, p, win);
    EXPECT_EQ(r.capturePicture(path.c_str()), 1);
  }
  EXPECT_EQ(readFile(path), expectedBmp(p));
  std::filesystem::remove(path);
}

TEST(Snapshot, BufferHoldsTheSameBytes) {
  Window win(6, 4);
  CDDrawRenderer r;
  decorate(r);
  const Picture p = snapshotPicture();
  const auto expected = expectedBmp(p);
  std::vector<uint8_t> buffer(expected.size() + 8, 0xCC);
  {
    Presenter presenter(r, p, win);
    EXPECT_EQ(r.capturePictureBuf(buffer.data()), 1);
  }
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin()));
  for (size_t i = expected.size(); i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xCC);  // nothing past
}

// A capture's result once the clock has run through its wait.
int32_t afterTheCaptureWait(test::ManualClock& clock, const std::function<int32_t()>& call) {
  return static_cast<int32_t>(clock.callThroughLimit(kCaptureWaitMs, 1, call));
}

TEST(Snapshot, WithoutPicturesTheRequestTimesOutAndIsCleared) {
  test::ManualClock clock;
  CDDrawRenderer r;
  std::vector<uint8_t> buffer(64);
  EXPECT_EQ(afterTheCaptureWait(clock, [&] { return r.capturePicture(tempPath("_never.bmp").c_str()); }), 1);
  EXPECT_EQ(afterTheCaptureWait(clock, [&] { return r.capturePictureBuf(buffer.data()); }), 0);
  // Not refused as pending: cleared each time.
  EXPECT_EQ(afterTheCaptureWait(clock, [&] { return r.capturePictureBuf(buffer.data()); }), 0);
  EXPECT_FALSE(std::filesystem::exists(tempPath("_never.bmp")));
  EXPECT_EQ(r.capturePicture(nullptr), 0);
  EXPECT_EQ(r.capturePictureBuf(nullptr), 0);
}

TEST(Snapshot, UnopenableFileKeepsTheRequestUntilTheWaitRunsOut) {
  test::ManualClock clock;
  Window win(6, 4);
  CDDrawRenderer r;
  const Picture p = snapshotPicture();
  Presenter presenter(r, p, win);
  EXPECT_EQ(afterTheCaptureWait(clock, [&] { return r.capturePicture("/nonexistent-dir/x/snap.bmp"); }), 1);
  // The abandoned request does not block the next one.
  std::vector<uint8_t> buffer(54 + 6 * 4 * 4);
  EXPECT_EQ(r.capturePictureBuf(buffer.data()), 1);
  EXPECT_EQ(buffer, expectedBmp(p));
}

TEST(Snapshot, SecondRequestWhileOneIsPendingIsRefused) {
  test::ManualClock clock;
  CDDrawRenderer r;
  std::thread first([&] { r.capturePicture(tempPath("_pending.bmp").c_str()); });
  ASSERT_TRUE(clock.waitForSleepers(1));  // its request is posted and waiting
  std::vector<uint8_t> buffer(64);
  EXPECT_EQ(r.capturePictureBuf(buffer.data()), 0);
  EXPECT_EQ(r.capturePicture(tempPath("_other.bmp").c_str()), 0);
  clock.advance(kCaptureWaitMs);
  first.join();
}

// Callers change the settings while the decode thread presents: every change
// is picked up whole by a later picture, and nothing races.
TEST(ConcurrentSettings, SettersRunWhilePicturesArePresented) {
  Window win(32, 24);
  CDDrawRenderer r;
  const Picture p = test::randomPicture(32, 24, 5);
  {
    Presenter presenter(r, p, win);
    OsdItem item{};
    item.fontHeight = 10;
    item.position = OsdTopLeft;
    for (int i = 0; i < 200; ++i) {
      std::snprintf(item.text, sizeof item.text, "n%d", i);
      r.setOsdString(i % 16, &item);
      r.removeOsdstring((i + 5) % 16);
      r.adjustViewArea(i % 3, 0, i % 2, 0);
      r.setRenderEffect(i % 4);
      r.renderActualProportion(i % 2);
      int32_t w = 0, h = 0;
      r.getPlayPicSize(&w, &h);
      EXPECT_TRUE((w == 0 && h == 0) || (w == 32 && h == 24));
      r.setPictureTime(1688465109 + i, -8);
      if (i % 50 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  // The last settings hold: no crop, no effect, no text, so the copy is exact.
  for (int i = 0; i < 16; ++i) r.removeOsdstring(i);
  r.adjustViewArea(0, 0, 0, 0);
  r.setRenderEffect(0);
  r.renderActualProportion(0);
  ASSERT_TRUE(r.renderPicture(p.planes.data(), 32, 24, win.handle()));
  r.present();
  EXPECT_EQ(win.pixels(), p.pixels());
}

}  // namespace
}  // namespace tavolen
