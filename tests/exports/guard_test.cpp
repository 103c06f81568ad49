// Nothing thrown inside the library crosses the C boundary. Per export family:
// an object listed behind a real handle that throws from every operation (and
// from its cancel step), or an allocation that fails inside a call; the export
// must return its failure result, and the handle table must stay sound.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "link/device_list.h"
#include "platform/video_window.h"
#include "player/player_registry.h"
#include "tavolen/tavolen.h"
#include "tavolen/window.h"

// ---- allocation failure on demand ----
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"  // every form below is malloc/free
// The k-th allocation made on this thread after arm(k) fails (operator new
// throws, its nothrow form returns null); every other one succeeds. Both
// forms allocate with malloc so that every delete matches its new.
namespace {
thread_local int64_t tFailAt = 0;  // 0: never
thread_local int64_t tCount = 0;

void arm(int64_t k) {
  tCount = 0;
  tFailAt = k;
}
void disarm() { tFailAt = 0; }
bool failsNow() { return tFailAt > 0 && ++tCount == tFailAt; }
bool armedAndPassed() { return tFailAt > 0 && tCount >= tFailAt; }
}  // namespace

void* operator new(std::size_t n) {
  if (failsNow()) throw std::bad_alloc();
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return ::operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  if (failsNow()) return nullptr;
  return std::malloc(n == 0 ? 1 : n);
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return ::operator new(n, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { ::operator delete(p); }
void operator delete(void* p, std::size_t) noexcept { ::operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { ::operator delete(p); }

namespace tavolen::test {
namespace {

[[noreturn]] void fail() { throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again)); }

// Each case is one export called on the handle; expected is its failure result.
template <typename Handle>
struct ExportCase {
  const char* name;
  std::function<int64_t(Handle)> call;
  int64_t expected = 0;
};

template <typename Handle>
void expectEveryCaseFails(const std::vector<ExportCase<Handle>>& cases, Handle handle) {
  for (const auto& c : cases) {
    int64_t result = -12345;
    EXPECT_NO_THROW(result = c.call(handle)) << c.name;
    EXPECT_EQ(result, c.expected) << c.name;
  }
}

// ---- links ----
class ThrowingLink : public CNetDevice {
 public:
  int32_t startStream(int32_t, FrameCallback, void*) override { fail(); }
  int32_t stopStream() override { fail(); }
  int32_t startAudio(int32_t, FrameCallback, void*) override { fail(); }
  int32_t stopAudio() override { fail(); }
  int32_t startTalk() override { fail(); }
  int32_t stopTalk() override { fail(); }
  int32_t sendTalkData(const uint8_t*, int32_t) override { fail(); }
  int32_t set_event_callback(LinkEventCallback, void*) override { fail(); }
  int32_t ptz(int32_t) override { fail(); }
  int32_t record_file_search_list(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                  int32_t, int32_t, int32_t, int32_t, int32_t, RecordListCallback,
                                  void*) override {
    fail();
  }
  int32_t record_file_start(const char*, FrameCallback, void*) override { fail(); }
  int32_t record_file_stop() override { fail(); }
  int32_t record_file_set_pos(int32_t) override { fail(); }
  int32_t param_callback(ParamCallback, ResultCallback, void*) override { fail(); }
  int32_t set_network(int32_t, const void*, int32_t) override { fail(); }
  int32_t get_network(int32_t) override { fail(); }
  void cancel() override { fail(); }
};

TEST(ExportGuard, LinkExportsTurnExceptionsIntoFailure) {
  DeviceHandle h = deviceList().add(std::make_shared<ThrowingLink>());
  uint8_t talk[4] = {};
  const std::vector<ExportCase<DeviceHandle>> cases = {
      {"startStream", [](DeviceHandle d) { return device_net_work_startStream(d, 0, nullptr, nullptr); }},
      {"stopStream", [](DeviceHandle d) { return device_net_work_stopStream(d); }},
      {"startAudio", [](DeviceHandle d) { return device_net_work_startAudio(d, 1, nullptr, nullptr); }},
      {"stopAudio", [](DeviceHandle d) { return device_net_work_stopAudio(d); }},
      {"startTalk", [](DeviceHandle d) { return device_net_work_startTalk(d); }},
      {"stopTalk", [](DeviceHandle d) { return device_net_work_stopTalk(d); }},
      {"sendTalkData", [&](DeviceHandle d) { return device_net_work_sendTalkData(d, talk, 4); }},
      {"set_event_callback", [](DeviceHandle d) { return device_net_work_set_event_callback(d, nullptr, nullptr); }},
      {"ptz", [](DeviceHandle d) { return device_net_work_ptz(d, 0); }},
      {"param_callback", [](DeviceHandle d) { return device_net_work_param_callback(d, nullptr, nullptr, nullptr); }},
      {"set_network", [](DeviceHandle d) { return device_net_work_set_network(d, 0, nullptr, 0); }},
      {"get_network", [](DeviceHandle d) { return device_net_work_get_network(d, 0); }},
      {"record_file_search_list",
       [](DeviceHandle d) {
         return device_record_file_search_list(d, 2024, 1, 1, 0, 0, 0, 2024, 1, 2, 0, 0, 0, nullptr, nullptr);
       }},
      {"record_file_start", [](DeviceHandle d) { return device_record_file_start(d, "a", nullptr, nullptr); }},
      {"record_file_stop", [](DeviceHandle d) { return device_record_file_stop(d); }},
      {"record_file_set_pos", [](DeviceHandle d) { return device_record_file_set_pos(d, 0); }},
      // Its cancel step and its stopStream throw: the handle goes all the same.
      {"destroyInstance", [](DeviceHandle d) { return device_net_work_destroyInstance(d); }},
  };
  expectEveryCaseFails(cases, h);
  EXPECT_FALSE(deviceList().find(h));
  EXPECT_EQ(deviceList().size(), 0u);
}

// ---- players ----
class ThrowingPlayer : public CNetStreamPlay {
 public:
  int32_t startPlay() override { fail(); }
  int32_t stopPlay() override { fail(); }
  int32_t setPlayWnd(void*) override { fail(); }
  intptr_t getPlayWnd() override { fail(); }
  int32_t refreshLastPicture() override { fail(); }
  int32_t inputNetFrame(const uint8_t*, int32_t) override { fail(); }
  int32_t getListFrameNum() override { fail(); }
  int32_t openSound() override { fail(); }
  int32_t closeSound() override { fail(); }
  int32_t setOsdString(int32_t, const OsdItem*) override { fail(); }
  int32_t removeOsdstring(int32_t) override { fail(); }
  int32_t capturePicture(const char*) override { fail(); }
  int32_t capturePictureBuf(uint8_t*) override { fail(); }
  int32_t getPlayPicSize(int32_t*, int32_t*) override { fail(); }
  int32_t adjustViewArea(int32_t, int32_t, int32_t, int32_t) override { fail(); }
  int32_t setRenderEffect(int32_t) override { fail(); }
  int32_t renderActualProportion(int32_t) override { fail(); }
  int32_t startlocalrecord(RecordStartParams) override { fail(); }
  int32_t stoplocalrecord() override { fail(); }
  int32_t getrecordstatus() override { fail(); }
  int32_t getCounters(PlayerCounters*) override { fail(); }
};

TEST(ExportGuard, PlayerExportsTurnExceptionsIntoFailure) {
  PlayerHandle h = PlayerRegistry::instance().add(std::make_shared<ThrowingPlayer>());
  uint8_t frame[64] = {};
  uint8_t picture[64];
  OsdItem item{};
  PlayerCounters counters{};
  int32_t w = 0, ht = 0;
  const std::vector<ExportCase<PlayerHandle>> cases = {
      {"startPlay", [](PlayerHandle p) { return x_player_startPlay(p); }},
      {"stopPlay", [](PlayerHandle p) { return x_player_stopPlay(p); }},
      {"setPlayWnd", [](PlayerHandle p) { return x_player_setPlayWnd(p, nullptr); }},
      {"getPlayWnd", [](PlayerHandle p) { return static_cast<int64_t>(x_player_getPlayWnd(p)); }},
      {"refreshLastPicture", [](PlayerHandle p) { return x_player_refreshLastPicture(p); }},
      {"inputNetFrame", [&](PlayerHandle p) { return x_player_inputNetFrame(p, frame, 32); }},
      {"getListFrameNum", [](PlayerHandle p) { return x_player_getListFrameNum(p); }},
      {"openSound", [](PlayerHandle p) { return x_player_openSound(p); }},
      {"closeSound", [](PlayerHandle p) { return x_player_closeSound(p); }},
      {"setOsdString", [&](PlayerHandle p) { return x_player_setOsdString(p, 0, &item); }},
      {"removeOsdstring", [](PlayerHandle p) { return x_player_removeOsdstring(p, 0); }},
      {"capturePicture", [](PlayerHandle p) { return x_player_capturePicture(p, "x.bmp"); }},
      {"capturePictureBuf", [&](PlayerHandle p) { return x_player_capturePictureBuf(p, picture); }},
      {"getPlayPicSize", [&](PlayerHandle p) { return x_player_getPlayPicSize(p, &w, &ht); }},
      {"adjustViewArea", [](PlayerHandle p) { return x_player_adjustViewArea(p, 0, 0, 0, 0); }},
      {"setRenderEffect", [](PlayerHandle p) { return x_player_setRenderEffect(p, 1); }},
      {"renderActualProportion", [](PlayerHandle p) { return x_player_renderActualProportion(p, 1); }},
      {"startlocalrecord", [](PlayerHandle p) { return x_player_startlocalrecord(p, RecordStartParams{}); }},
      {"stoplocalrecord", [](PlayerHandle p) { return x_player_stoplocalrecord(p); }},
      {"getrecordstatus", [](PlayerHandle p) { return x_player_getrecordstatus(p); }},
      {"getCounters", [&](PlayerHandle p) { return x_player_getCounters(p, &counters); }},
      // Its stopPlay throws: the handle goes all the same.
      {"destroyPlayInstance", [](PlayerHandle p) { return x_player_destroyPlayInstance(p); }},
  };
  expectEveryCaseFails(cases, h);
  EXPECT_FALSE(PlayerRegistry::instance().find(h));
}

// A start that runs out of memory at any point (an allocation, the thread it
// starts) fails cleanly and leaves a player that starts, plays and goes later.
TEST(ExportGuard, PlayerStartThatRunsOutOfMemoryLeavesAUsablePlayer) {
  for (int32_t kind : {PlayerKindH264, PlayerKindJpeg}) {
    for (int64_t k = 1;; ++k) {
      PlayerHandle p = x_player_createPlayInstance(kind);
      ASSERT_NE(p, nullptr);
      int32_t started = -1;
      arm(k);
      EXPECT_NO_THROW(started = x_player_startPlay(p)) << kind << " " << k;
      const bool reached = armedAndPassed();
      disarm();
      if (started == 0) {
        EXPECT_EQ(x_player_startPlay(p), 1) << kind << " " << k;
      } else {
        EXPECT_EQ(started, 1) << kind << " " << k;
      }
      EXPECT_EQ(x_player_stopPlay(p), 1);
      EXPECT_EQ(x_player_destroyPlayInstance(p), 1);
      if (!reached) break;  // the start made fewer than k allocations: all points tried
    }
  }
}

// Creating a link or a player that runs out of memory at any point gives a
// null handle or a whole object, never a half-made one left running.
TEST(ExportGuard, CreateThatRunsOutOfMemoryGivesNoHalfMadeObject) {
  DeviceConnectParams params{};
  std::snprintf(params.host, sizeof params.host, "127.0.0.1");
  params.port = 1;
  for (int64_t k = 1;; ++k) {
    void* link = nullptr;
    void* player = nullptr;
    arm(k);
    EXPECT_NO_THROW(link = device_net_work_createInstance(params)) << k;
    const bool linkReached = armedAndPassed();
    arm(k);
    EXPECT_NO_THROW(player = x_player_createPlayInstance(PlayerKindH264)) << k;
    const bool playerReached = armedAndPassed();
    disarm();
    if (link != nullptr) {
      EXPECT_EQ(device_net_work_destroyInstance(link), 1);
    }
    if (player != nullptr) {
      EXPECT_EQ(x_player_destroyPlayInstance(player), 1);
    }
    if (!linkReached && !playerReached) break;
  }
  EXPECT_EQ(deviceList().size(), 0u);
  EXPECT_EQ(PlayerRegistry::instance().size(), 0u);
}

// ---- windows ----
class ThrowingWindow : public platform::VideoWindow {
 public:
  bool visible() const override { fail(); }
  bool screenRect(platform::WindowRect&) const override { fail(); }
  platform::WindowSize clientSize() const override { fail(); }
  void invalidate() override { fail(); }
  std::unique_ptr<platform::PictureSurface> createSurface(int32_t, int32_t) override { fail(); }
  bool stretchCopy(const platform::PictureSurface&, const platform::WindowRect&,
                   const platform::WindowRect&) override {
    fail();
  }
  bool copyBitmap(const uint8_t*, ptrdiff_t, int32_t, int32_t) override { fail(); }
  bool setSize(int32_t, int32_t) override { fail(); }
  bool setPosition(int32_t, int32_t) override { fail(); }
  bool setVisible(bool) override { fail(); }
  bool fillRect(const platform::WindowRect&, uint32_t) override { fail(); }
  bool sendMouse(platform::MouseEvent, int32_t, int32_t) override { fail(); }
  bool setScreenSize(int32_t, int32_t) override { fail(); }
  size_t readPixels(uint8_t*, size_t) const override { fail(); }
  platform::WindowState state() const override { fail(); }
  bool setListener(platform::WindowListener, void*) override { fail(); }
  void close() override { fail(); }
  void setObserver(std::shared_ptr<platform::WindowObserver>) override { fail(); }
  bool setFullScreen(bool) override { fail(); }
};

TEST(ExportGuard, WindowExportsTurnExceptionsIntoFailure) {
  auto* h = static_cast<TavolenWindow*>(platform::windowHandles().add(std::make_shared<ThrowingWindow>()));
  uint8_t pixels[16];
  const std::vector<ExportCase<TavolenWindow*>> cases = {
      {"pump", [](TavolenWindow* w) { return tavolen_window_pump(w, 0); }},
      {"set_size", [](TavolenWindow* w) { return tavolen_window_set_size(w, 2, 2); }},
      {"set_position", [](TavolenWindow* w) { return tavolen_window_set_position(w, 1, 1); }},
      {"set_visible", [](TavolenWindow* w) { return tavolen_window_set_visible(w, 0); }},
      {"read_pixels", [&](TavolenWindow* w) { return tavolen_window_read_pixels(w, pixels, sizeof pixels); }},
      {"send_mouse", [](TavolenWindow* w) { return tavolen_window_send_mouse(w, 1, 0, 0); }},
      {"set_screen_size", [](TavolenWindow* w) { return tavolen_window_set_screen_size(w, 640, 480); }},
      {"get_state", [](TavolenWindow* w) {
         TavolenWindowState s{};
         return tavolen_window_get_state(w, &s);
       }},
      {"set_listener", [](TavolenWindow* w) { return tavolen_window_set_listener(w, nullptr, nullptr); }},
      // Closing it throws: the handle goes all the same.
      {"destroy", [](TavolenWindow* w) { return tavolen_window_destroy(w); }},
  };
  expectEveryCaseFails(cases, h);
  EXPECT_EQ(platform::windowHandles().share(h), nullptr);
}

// ---- talk and search ----
// CWaveIn and the search are concrete objects: what fails inside them is an
// allocation (the first one of the call, i.e. the object or its thread).
TEST(ExportGuard, TalkAndSearchExportsTurnFailedAllocationsIntoFailure) {
  DualtalkHandle talk = nullptr;
  arm(1);
  EXPECT_NO_THROW(talk = x_player_createDualtalkInstance());
  disarm();
  EXPECT_EQ(talk, nullptr);

  talk = x_player_createDualtalkInstance();
  ASSERT_NE(talk, nullptr);
  EXPECT_EQ(x_player_StopDualTalk(talk), 1);  // a first call sets up this thread's pin list
  int32_t started = -1;
  arm(1);  // the capture thread's start
  EXPECT_NO_THROW(started = x_player_StartDualTalk(talk, [](const uint8_t*, int32_t, void*) { return 0; }, nullptr));
  disarm();
  EXPECT_EQ(started, 0);
  EXPECT_EQ(x_player_StopDualTalk(talk), 1);
  EXPECT_EQ(x_player_destroyDualtalkInstance(talk), 1);

  int32_t initialised = -1;
  arm(1);
  EXPECT_NO_THROW(initialised = device_broadcast_Initialization());
  disarm();
  EXPECT_EQ(initialised, 0);
  EXPECT_EQ(device_broadcast_search(nullptr, nullptr), 0);  // nothing was set up
  EXPECT_EQ(device_broadcast_unInitialization(), 1);
}

}  // namespace
}  // namespace tavolen::test
