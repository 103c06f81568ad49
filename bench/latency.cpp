// Time from the substitute camera writing a 720p frame (the time stamped into
// its header, CLOCK_REALTIME in milliseconds) to the player presenting its
// picture in the window, with an idle queue. The peer figure is one pacing
// tick (30 ms): a frame waits on average half a tick for its turn.
#include <algorithm>
#include <deque>
#include <memory>
#include <mutex>

#include "platform/video_window.h"
#include "media/media_frame.h"
#include "view_rig.h"

namespace {

namespace p = tavolen::platform;

double realtimeMs() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

// Write times of the video frames delivered and not yet presented, oldest first.
struct Pending {
  std::mutex lock;
  std::deque<double> written;
  PlayerHandle player = nullptr;
  uint32_t skippedSeen = 0;
  std::vector<double> latencies;
  bool recording = false;
};
Pending gPending;

// An off-screen window that notes when each picture reaches it.
class TimingWindow : public p::VideoWindow {
 public:
  explicit TimingWindow(std::shared_ptr<p::VideoWindow> inner) : inner_(std::move(inner)) {}
  bool visible() const override { return inner_->visible(); }
  bool screenRect(p::WindowRect& out) const override { return inner_->screenRect(out); }
  p::WindowSize clientSize() const override { return inner_->clientSize(); }
  void invalidate() override { inner_->invalidate(); }
  std::unique_ptr<p::PictureSurface> createSurface(int32_t w, int32_t h) override {
    return inner_->createSurface(w, h);
  }
  bool stretchCopy(const p::PictureSurface& s, const p::WindowRect& src,
                   const p::WindowRect& dst) override {
    const bool ok = inner_->stretchCopy(s, src, dst);
    const double now = realtimeMs();
    PlayerCounters c{};
    x_player_getCounters(gPending.player, &c);
    std::lock_guard g(gPending.lock);
    // Frames the decode thread discarded unread (before the first key) went
    // before this one.
    for (; gPending.skippedSeen < c.droppedUnusable && !gPending.written.empty(); ++gPending.skippedSeen)
      gPending.written.pop_front();
    if (!gPending.written.empty()) {
      if (gPending.recording) gPending.latencies.push_back(now - gPending.written.front());
      gPending.written.pop_front();
    }
    return ok;
  }
  bool copyBitmap(const uint8_t* px, ptrdiff_t pitch, int32_t w, int32_t h) override {
    return inner_->copyBitmap(px, pitch, w, h);
  }
  bool setSize(int32_t w, int32_t h) override { return inner_->setSize(w, h); }
  bool setPosition(int32_t x, int32_t y) override { return inner_->setPosition(x, y); }
  bool setVisible(bool on) override { return inner_->setVisible(on); }
  bool fillRect(const p::WindowRect& r, uint32_t pixel) override { return inner_->fillRect(r, pixel); }
  bool sendMouse(p::MouseEvent e, int32_t x, int32_t y) override { return inner_->sendMouse(e, x, y); }
  bool setScreenSize(int32_t w, int32_t h) override { return inner_->setScreenSize(w, h); }
  size_t readPixels(uint8_t* out, size_t cap) const override { return inner_->readPixels(out, cap); }
  p::WindowState state() const override { return inner_->state(); }
  bool setListener(p::WindowListener l, void* user) override { return inner_->setListener(l, user); }
  void close() override { inner_->close(); }
  void setObserver(std::shared_ptr<p::WindowObserver> o) override { inner_->setObserver(std::move(o)); }
  bool setFullScreen(bool on) override { return inner_->setFullScreen(on); }

 private:
  std::shared_ptr<p::VideoWindow> inner_;
};

int32_t deliver(const uint8_t* frame, int32_t length, void* user) {
  const FrameHeader h = tavolen::parseFrameHeader(frame);
  if (h.frameType == FRAME_H264_KEY || h.frameType == FRAME_H264_DELTA) {
    std::lock_guard g(gPending.lock);
    gPending.written.push_back(h.timestamp * 1000.0 + h.milliseconds);
  }
  x_player_inputNetFrame(static_cast<PlayerHandle>(user), frame, length);
  return 1;
}

double percentile(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, static_cast<size_t>(q * (v.size() - 1) + 0.5));
  return v[i];
}

}  // namespace

int main() {
  x_player_initPlayLib();
  device_net_work_init();
  bench::Camsim camsim({});  // stream 0: a live 1280x720@25 pattern
  auto window = std::make_shared<TimingWindow>(p::createOffscreenWindow(1280, 720));
  void* handle = p::windowHandles().add(window);
  PlayerHandle player = x_player_createPlayInstance(0);
  gPending.player = player;
  x_player_setPlayWnd(player, handle);
  x_player_startPlay(player);
  DeviceConnectParams params;
  std::memset(&params, 0, sizeof params);
  std::snprintf(params.user, sizeof params.user, "admin");
  std::snprintf(params.host, sizeof params.host, "127.0.0.1");
  params.port = camsim.port;
  DeviceHandle link = device_net_work_createInstance(params);
  device_net_work_startStream(link, 0, deliver, player);

  PlayerCounters c{};
  while (c.picturesPresented < 25) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    x_player_getCounters(player, &c);
  }
  {
    std::lock_guard g(gPending.lock);
    gPending.recording = true;
  }
  std::this_thread::sleep_for(std::chrono::seconds(12));
  device_net_work_stopStream(link);
  device_net_work_destroyInstance(link);
  x_player_getCounters(player, &c);
  x_player_stopPlay(player);
  x_player_destroyPlayInstance(player);
  p::windowHandles().remove(handle);
  device_net_work_deInit();

  std::vector<double> lat;
  {
    std::lock_guard g(gPending.lock);
    lat = gPending.latencies;
  }
  if (lat.empty()) {
    std::fprintf(stderr, "latency: no pictures measured\n");
    return 1;
  }
  const double median = percentile(lat, 0.5), p95 = percentile(lat, 0.95);
  std::printf("720p: %zu pictures, median %.1f ms, p95 %.1f ms, max %.1f ms; queue drops %u, decode errors %u\n",
              lat.size(), median, p95, percentile(lat, 1.0), c.droppedOverflow + c.droppedFlushed,
              c.decodeErrors);
  std::printf("{\"bench\":\"latency\",\"unit\":\"ms\",\"ours\":%.1f,\"p95\":%.1f,\"peer\":30,"
              "\"ratio\":%.3f,\"better\":\"lower\"}\n",
              median, p95, median / 30.0);
  return 0;
}
