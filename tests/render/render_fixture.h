#pragma once
// Shared helpers: off-screen windows through the public C functions, planar
// test pictures, and the pixels the converter makes of them.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "render/yuv_converter.h"
#include "tavolen/window.h"

namespace tavolen::test {

class Window {
 public:
  Window(int32_t w, int32_t h) : handle_(tavolen_window_create_offscreen(w, h)), w_(w), h_(h) {}
  ~Window() { tavolen_window_destroy(handle_); }
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  TavolenWindow* handle() const { return handle_; }
  void resize(int32_t w, int32_t h) {
    ASSERT_EQ(tavolen_window_set_size(handle_, w, h), 1);
    w_ = w;
    h_ = h;
  }
  int32_t width() const { return w_; }
  int32_t height() const { return h_; }
  std::vector<uint32_t> pixels() const {
    std::vector<uint32_t> out(static_cast<size_t>(w_) * h_);
    const int32_t n = tavolen_window_read_pixels(handle_, reinterpret_cast<uint8_t*>(out.data()),
                                                 static_cast<int32_t>(out.size() * 4));
    EXPECT_EQ(n, static_cast<int32_t>(out.size() * 4));
    return out;
  }
  uint32_t at(int32_t x, int32_t y) const { return pixels()[static_cast<size_t>(y) * w_ + x]; }

 private:
  TavolenWindow* handle_;
  int32_t w_, h_;
};

struct Picture {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> planes;
  // The converted pixels, row-major, no padding.
  std::vector<uint32_t> pixels() const {
    std::vector<uint32_t> out(static_cast<size_t>(width) * height);
    convertPicture(ConvertPath::Table, planes.data(), width, height,
                   reinterpret_cast<uint8_t*>(out.data()), width * 4);
    return out;
  }
};

inline Picture randomPicture(int32_t w, int32_t h, unsigned seed = 1) {
  Picture p{w, h, std::vector<uint8_t>(planarLayout(w, h).totalBytes)};
  std::mt19937 rng(seed);
  for (auto& b : p.planes) b = static_cast<uint8_t>(rng());
  return p;
}

inline Picture flatPicture(int32_t w, int32_t h, uint8_t y) {
  Picture p{w, h, std::vector<uint8_t>(planarLayout(w, h).totalBytes, 128)};
  std::memset(p.planes.data(), y, static_cast<size_t>(w) * h);
  return p;
}

}  // namespace tavolen::test
