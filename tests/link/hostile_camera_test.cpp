// Cameras that misbehave on purpose, on loopback: answers whose head never
// ends, a stream that stops taking talk, header lines sent as fast as the
// network goes, pictures that claim the largest sizes, and cameras that
// never accept a connection. Each call must return within its limit, destroy
// within a second, the next command must get its connection, and the
// resident size must stay bounded.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/link_test_support.h"
#include "link/tcp_net_device.h"
#include "platform/jpeg_codec.h"
#include "player/h264_fixture.h"
#include "player/pacing_timer.h"
#include "support/loopback_server.h"
#include "support/resident.h"

namespace tavolen::test {
namespace {

using namespace std::chrono_literals;

// Every script ends by itself after this long, whatever the client does.
constexpr auto kScriptBound = 15s;
// How long a call broken off by a destroy or a stop may take to return: a
// guard against a hang, far below every limit that could end the call
// otherwise (those are a minute, or wait on a clock that stands).
constexpr auto kBrokenOff = 10s;
// Growth of the resident size that the cases stay below; the faults they
// prove cost tens to hundreds of megabytes.
constexpr long long kResidentBound = 32ll << 20;

// A camera that answers every connection with the test's script. A script
// runs until the client goes (a write fails), the camera is destroyed, or
// kScriptBound passes; it learns which connection it serves (1, 2, ...).
class HostileCamera {
 public:
  using Script = std::function<void(int fd, int connection, HostileCamera& camera)>;

  explicit HostileCamera(Script script)
      : script_(std::move(script)), server_([this](int fd) { serve(fd); }) {}
  ~HostileCamera() { stopping_ = true; }  // server_ then joins the scripts

  int port() const { return server_.port(); }
  int connections() const { return server_.accepted(); }
  bool goOn(std::chrono::steady_clock::time_point started) const {
    return !stopping_ && std::chrono::steady_clock::now() - started < kScriptBound;
  }
  // Waits until the client has closed connection n, as its script saw it.
  bool waitForClose(int n, std::chrono::milliseconds timeout) const {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (closedCount_.load() < n) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(5ms);
    }
    return true;
  }
  void sawClose() { ++closedCount_; }

  // The request head, up to its blank line ("" when none came within timeout).
  static std::string readRequest(int fd, std::chrono::milliseconds timeout) {
    std::string head;
    const auto end = std::chrono::steady_clock::now() + timeout;
    char c;
    while (head.find("\r\n\r\n") == std::string::npos) {
      pollfd p{fd, POLLIN, 0};
      if (std::chrono::steady_clock::now() > end || ::poll(&p, 1, 50) < 0) return "";
      if ((p.revents & POLLIN) == 0) continue;
      if (::recv(fd, &c, 1, 0) != 1) return "";
      head += c;
    }
    return head;
  }

 private:
  void serve(int fd) {
    const int n = ++counter_;
    script_(fd, n, *this);
  }

  Script script_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> counter_{0};
  std::atomic<int> closedCount_{0};
  LoopbackServer server_;
};

// Writes one piece after another until the client goes (then counted as a
// close), the camera ends or its bound passes. next(i) gives piece i.
void writeUntilGone(int fd, HostileCamera& camera, std::chrono::milliseconds pause,
                    const std::function<std::string(int)>& next) {
  const auto started = std::chrono::steady_clock::now();
  for (int i = 0; camera.goOn(started); ++i) {
    if (!LoopbackServer::writeAll(fd, next(i))) {
      camera.sawClose();
      return;
    }
    if (pause.count() > 0) std::this_thread::sleep_for(pause);
  }
}

// A call on its own thread, so that the test can require it to return
// within a bound without measuring how long it took.
class Running {
 public:
  explicit Running(std::function<int32_t()> call) : result_(std::async(std::launch::async, std::move(call))) {}
  bool returnsWithin(std::chrono::milliseconds bound) {
    return result_.wait_for(bound) == std::future_status::ready;
  }
  int32_t result() { return result_.get(); }

 private:
  std::future<int32_t> result_;
};

int32_t noFrame(const uint8_t*, int32_t, void*) { return 0; }

void countFile(const char*, const char*, int32_t, void* user) { ++*static_cast<std::atomic<int>*>(user); }

class HostileCameraTest : public ::testing::Test {
 protected:
  void SetUp() override { useTiming(fastTiming()); }
  void TearDown() override {
    for (DeviceHandle h : links_) device_net_work_destroyInstance(h);
    links_.clear();
    setLinkTiming(LinkTiming{});
    clock_.reset();  // after the links: their threads wait on it
  }
  // A clock that stands unless the test moves it, for the links made after.
  ManualClock& manualClock() {
    if (!clock_) clock_ = std::make_unique<ManualClock>();
    return *clock_;
  }
  void useTiming(const LinkTiming& t) { setLinkTiming(t); }
  // The fast timing with one limit set.
  void useLimit(uint32_t LinkTiming::*limit, uint32_t ms) {
    LinkTiming t = fastTiming();
    t.*limit = ms;
    useTiming(t);
  }
  // A link whose live stream is up, its events in events_.
  DeviceHandle streamingLinkTo(int port) {
    DeviceHandle h = linkTo(port);
    device_net_work_set_event_callback(h, EventLog::callback, &events_);
    EXPECT_EQ(device_net_work_startStream(h, 1, &noFrame, nullptr), 1);
    EXPECT_TRUE(events_.waitFor(LinkEventStreamConnected, 1));
    return h;
  }
  DeviceHandle linkTo(int port) {
    DeviceHandle h = device_net_work_createInstance(connectParams("127.0.0.1", port));
    EXPECT_NE(h, nullptr);
    links_.push_back(h);
    return h;
  }
  // Destroys on its own thread; false when it did not return, so that the
  // destroy waited for something a far limit or the clock would have ended.
  bool destroyReturns(DeviceHandle h) {
    std::erase(links_, h);
    Running destroy([h] { return device_net_work_destroyInstance(h); });
    const bool returned = destroy.returnsWithin(kBrokenOff);
    EXPECT_EQ(destroy.result(), 1);
    return returned;
  }
  int32_t search(DeviceHandle h) {
    return device_record_file_search_list(h, 2026, 1, 1, 0, 0, 0, 2026, 1, 2, 0, 0, 0, &countFile, &files_);
  }
  // Waits until the link has the camera's address.
  static void waitForAddress(DeviceHandle h) {
    auto* device = dynamic_cast<CTcpNetDevice*>(static_cast<CNetDevice*>(h));
    ASSERT_NE(device, nullptr);
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (!device->hostResolved() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(5ms);
    ASSERT_TRUE(device->hostResolved());
  }

  std::vector<DeviceHandle> links_;
  std::unique_ptr<ManualClock> clock_;
  // What the links report into lives as long as the fixture, so that a link
  // left to TearDown never calls into a log that has gone.
  std::atomic<int> files_{0};
  EventLog events_;
};

// ---- 1. an answer whose head never ends ----

// Answers a request with a status line, then one header line every pause.
HostileCamera::Script endlessHead(std::chrono::milliseconds pause) {
  return [pause](int fd, int, HostileCamera& camera) {
    if (HostileCamera::readRequest(fd, 5s).empty()) return;
    LoopbackServer::writeAll(fd, "HTTP/1.1 200 OK\r\n");
    writeUntilGone(fd, camera, pause, [](int i) { return "X-Wait-" + std::to_string(i) + ": 1\r\n"; });
  };
}

TEST_F(HostileCameraTest, ASearchWhoseAnswerNeverEndsEndsAtTheResponseDeadline) {
  useLimit(&LinkTiming::responseDeadlineMs, 400);
  HostileCamera camera(endlessHead(50ms));
  DeviceHandle h = linkTo(camera.port());
  const long long before = residentBytes();
  ASSERT_EQ(search(h), 1);
  // The second search waits for the first, which the deadline ends.
  Running second([&] { return search(h); });
  ASSERT_TRUE(second.returnsWithin(5000ms)) << "the second search is still waiting for the first";
  EXPECT_EQ(second.result(), 1);
  // The first exchange failed: its connection is let go.
  EXPECT_TRUE(camera.waitForClose(1, 5000ms));
  // And so does the second, which had its own connection.
  EXPECT_TRUE(camera.waitForClose(2, 5000ms));
  EXPECT_EQ(camera.connections(), 2);
  EXPECT_EQ(files_.load(), 0);
  EXPECT_TRUE(destroyReturns(h));
  EXPECT_LT(residentBytes() - before, kResidentBound);
}

TEST_F(HostileCameraTest, DestroyBreaksOffAStuckSearchAndTheSearchWaitingForIt) {
  useLimit(&LinkTiming::responseDeadlineMs, 60000);  // far beyond the test: only destroy can end the wait
  HostileCamera camera(endlessHead(50ms));
  DeviceHandle h = linkTo(camera.port());
  ASSERT_EQ(search(h), 1);
  Running second([&] { return search(h); });
  EXPECT_FALSE(second.returnsWithin(300ms)) << "the second search did not wait for the first";
  EXPECT_TRUE(destroyReturns(h));
  ASSERT_TRUE(second.returnsWithin(kBrokenOff));
  second.result();
  EXPECT_TRUE(camera.waitForClose(1, 5000ms));
  EXPECT_EQ(camera.connections(), 1);  // no search began once destroy had
  EXPECT_EQ(files_.load(), 0);
}

// ---- 2. a camera that streams on but stops taking talk ----

// Answers the live request with a small media frame every 20 ms and never
// reads again.
void streamWithoutReading(int fd, int, HostileCamera& camera) {
  if (HostileCamera::readRequest(fd, 5s).empty()) return;
  const std::string frame = makeFrame(FRAME_H264_DELTA, std::string(200, 'v'));
  writeUntilGone(fd, camera, 20ms, [&](int) { return frame; });
}

// Talks in full packets until told to stop; every call must return 1.
class Talker {
 public:
  explicit Talker(DeviceHandle h)
      : thread_([this, h] {
          const std::vector<uint8_t> block(4064, 0x55);
          while (!stop_) {
            inCall_ = true;
            const int32_t r = device_net_work_sendTalkData(h, block.data(), static_cast<int32_t>(block.size()));
            inCall_ = false;
            if (r != 1) ++notOne_;
            ++returned_;
          }
        }) {}
  ~Talker() { finish(); }
  // True once a call has stayed inside sendTalkData for holdMs (its send is
  // blocked), false if none did within timeout.
  bool waitUntilBlocked(std::chrono::milliseconds hold, std::chrono::milliseconds timeout) const {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
      const uint64_t seen = returned_.load();
      const auto since = std::chrono::steady_clock::now();
      while (inCall_.load() && returned_.load() == seen) {
        if (std::chrono::steady_clock::now() - since >= hold) return true;
        std::this_thread::sleep_for(5ms);
      }
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }
  void finish() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  uint64_t returned() const { return returned_.load(); }
  int notOne() const { return notOne_.load(); }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<bool> inCall_{false};
  std::atomic<uint64_t> returned_{0};
  std::atomic<int> notOne_{0};
  std::thread thread_;
};

TEST_F(HostileCameraTest, TalkToACameraThatStopsReadingIsDroppedAndTheStreamReconnects) {
  useLimit(&LinkTiming::sendTimeLimitMs, 200);
  HostileCamera camera(&streamWithoutReading);
  DeviceHandle h = streamingLinkTo(camera.port());
  const long long before = residentBytes();
  {
    Talker talker(h);
    // Frames never stop on their own: only a failed talk send ends the first
    // connection, and the watchdog then opens a second.
    EXPECT_TRUE(events_.waitFor(LinkEventStreamConnected, 2, 10000));
    EXPECT_TRUE(camera.waitForClose(1, 5000ms));
    auto finishing = std::async(std::launch::async, [&] { talker.finish(); });
    ASSERT_EQ(finishing.wait_for(2000ms), std::future_status::ready) << "a talk call did not return";
    EXPECT_GT(talker.returned(), 0u);
    EXPECT_EQ(talker.notOne(), 0);
  }
  EXPECT_GE(camera.connections(), 2);
  EXPECT_TRUE(destroyReturns(h));
  EXPECT_LT(residentBytes() - before, kResidentBound);
}

TEST_F(HostileCameraTest, DestroyBreaksOffABlockedTalkSend) {
  useLimit(&LinkTiming::sendTimeLimitMs, 60000);  // only destroy can end the send
  HostileCamera camera(&streamWithoutReading);
  DeviceHandle h = streamingLinkTo(camera.port());
  Talker talker(h);
  ASSERT_TRUE(talker.waitUntilBlocked(300ms, 10000ms)) << "the camera took all the talk";
  EXPECT_TRUE(destroyReturns(h));
  auto finishing = std::async(std::launch::async, [&] { talker.finish(); });
  EXPECT_EQ(finishing.wait_for(kBrokenOff), std::future_status::ready) << "the blocked talk call did not return";
}

// ---- 3. header lines as fast as the network goes ----

std::atomic<int> gResults{0};
std::atomic<int> gFailures{0};
void onResult(int32_t, int32_t result) {
  ++(result == 0 ? gResults : gFailures);
}

TEST_F(HostileCameraTest, EndlessFastHeaderLinesFailTheCommandAndTheNextGetsItsConnection) {
  gResults = 0;
  gFailures = 0;
  HostileCamera camera([](int fd, int connection, HostileCamera& camera) {
    if (HostileCamera::readRequest(fd, 5s).empty()) return;
    if (connection == 1) {
      LoopbackServer::writeAll(fd, "HTTP/1.1 200 OK\r\n");
      writeUntilGone(fd, camera, 0ms, [](int i) { return "X-Fast-" + std::to_string(i) + ": 1\r\n"; });
      return;
    }
    const std::string body = "var result=\"ok\";\r\n";
    LoopbackServer::writeAll(fd, "HTTP/1.1 200 OK\r\nContent-length: " + std::to_string(body.size()) +
                                     "\r\n\r\n" + body);
  });
  DeviceHandle h = linkTo(camera.port());
  ASSERT_EQ(device_net_work_param_callback(h, nullptr, &onResult, nullptr), 1);
  const long long before = residentBytes();
  const MiscParams misc{};
  ASSERT_EQ(device_net_work_set_network(h, CommandSetMisc, &misc, sizeof misc), 1);
  ASSERT_EQ(device_net_work_set_network(h, CommandSetMisc, &misc, sizeof misc), 1);
  const auto end = std::chrono::steady_clock::now() + 5s;
  while (gResults.load() + gFailures.load() < 2 && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(5ms);
  EXPECT_EQ(gFailures.load(), 1);  // the flood: a failed exchange
  EXPECT_EQ(gResults.load(), 1);   // the next command, on its own connection
  EXPECT_TRUE(camera.waitForClose(1, 5000ms));
  EXPECT_EQ(camera.connections(), 2);
  EXPECT_TRUE(destroyReturns(h));
  EXPECT_LT(residentBytes() - before, kResidentBound);
}

// ---- 4. pictures that claim the largest sizes ----

// A small JPEG whose frame header claims width x height.
std::string jpegClaiming(int width, int height) {
  platform::JpegCodec codec;
  const std::vector<uint8_t> px(16 * 16 * 4, 0x80);
  std::vector<uint8_t> jpeg = codec.encode(px.data(), 16, 16, 80);
  for (size_t i = 2; i + 8 < jpeg.size(); ++i) {
    if (jpeg[i] != 0xFF || jpeg[i + 1] != 0xC0) continue;
    jpeg[i + 5] = static_cast<uint8_t>(height >> 8);
    jpeg[i + 6] = static_cast<uint8_t>(height);
    jpeg[i + 7] = static_cast<uint8_t>(width >> 8);
    jpeg[i + 8] = static_cast<uint8_t>(width);
    break;
  }
  return std::string(jpeg.begin(), jpeg.end());
}

// Frames go from the link straight into the player.
int32_t intoPlayer(const uint8_t* frame, int32_t length, void* player) {
  x_player_inputNetFrame(static_cast<PlayerHandle>(player), frame, length);
  return 0;
}

PlayerCounters countersOf(PlayerHandle p) {
  PlayerCounters c{};
  x_player_getCounters(p, &c);
  return c;
}

struct PictureCase {
  const char* name;
  int32_t playerKind;  // 0 H.264 (live stream), 1 JPEG (SD-card playback)
  uint8_t frameType;
  std::function<std::string()> payload;
};

void PrintTo(const PictureCase& c, std::ostream* os) { *os << c.name; }

class OversizedPictures : public HostileCameraTest, public ::testing::WithParamInterface<PictureCase> {};

// Every frame claims a picture of hundreds of megabytes; the player refuses
// each one as undecodable, and memory never swings up.
TEST_P(OversizedPictures, AreRefusedWithoutTheirMemory) {
  const PictureCase& c = GetParam();
  const std::string frame = makeFrame(c.frameType, c.payload());
  HostileCamera camera([&](int fd, int, HostileCamera& cam) {
    if (HostileCamera::readRequest(fd, 5s).empty()) return;
    writeUntilGone(fd, cam, 20ms, [&](int) { return frame; });
  });
  holdPacingTimers(true);
  TavolenWindow* window = tavolen_window_create_offscreen(320, 240);
  PlayerHandle player = x_player_createPlayInstance(c.playerKind);
  ASSERT_EQ(x_player_setPlayWnd(player, window), 1);
  ASSERT_EQ(x_player_startPlay(player), 1);
  DeviceHandle h = linkTo(camera.port());
  ASSERT_TRUE(resetPeakResident());
  const long long before = residentBytes();
  if (c.playerKind == 0) {
    ASSERT_EQ(device_net_work_startStream(h, 1, &intoPlayer, player), 1);
  } else {
    ASSERT_EQ(device_record_file_start(h, "20260101120000_010.jpg", &intoPlayer, player), 1);
  }
  const auto end = std::chrono::steady_clock::now() + 10s;
  while (countersOf(player).decodeErrors < 10 && std::chrono::steady_clock::now() < end) {
    firePacingTimersNow();
    std::this_thread::sleep_for(10ms);
  }
  const PlayerCounters counted = countersOf(player);
  EXPECT_GE(counted.decodeErrors, 10u);
  EXPECT_EQ(counted.picturesDecoded, 0u);
  EXPECT_LT(peakResidentBytes() - before, kResidentBound);
  EXPECT_TRUE(destroyReturns(h));
  x_player_destroyPlayInstance(player);
  tavolen_window_destroy(window);
  holdPacingTimers(false);
}

INSTANTIATE_TEST_SUITE_P(
    Claims, OversizedPictures,
    ::testing::Values(
        PictureCase{"H264At8192x4320", 0, FRAME_H264_KEY,
                    [] {
                      const auto s = test::encodeTestStream(176, 144, 1, 12, "baseline");
                      const auto unit = test::withAnnouncedSize(s.units.at(0), 8192, 4320);
                      return std::string(unit.begin(), unit.end());
                    }},
        PictureCase{"JpegAt8192x8192", 1, FRAME_JPEG, [] { return jpegClaiming(8192, 8192); }}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- cameras that never accept: calls inside a connect ----

struct ConnectCase {
  const char* name;
  std::function<int32_t(DeviceHandle)> call;
};

void PrintTo(const ConnectCase& c, std::ostream* os) { *os << c.name; }

// Each call waits in its connect (the camera's accept queue is full); destroy,
// or the matching stop, breaks it off at once and the call fails.
class StuckConnects : public HostileCameraTest, public ::testing::WithParamInterface<ConnectCase> {};

// The connects wait on a clock that stands: only the destroy can end them.
TEST_P(StuckConnects, DestroyBreaksThemOff) {
  FullListener full;
  ManualClock& clock = manualClock();
  DeviceHandle h = linkTo(full.port());
  waitForAddress(h);  // else startAudio fails before connecting
  ASSERT_TRUE(clock.waitForSleepers(1));  // the resolver, until its next look-up
  Running call([&] { return GetParam().call(h); });
  ASSERT_TRUE(clock.waitForSleepers(2)) << "the call did not wait in its connect";
  EXPECT_TRUE(destroyReturns(h));
  ASSERT_TRUE(call.returnsWithin(kBrokenOff));
  EXPECT_EQ(call.result(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, StuckConnects,
    ::testing::Values(
        ConnectCase{"startAudio", [](DeviceHandle h) { return device_net_work_startAudio(h, 2, &noFrame, nullptr); }},
        ConnectCase{"record_file_start",
                    [](DeviceHandle h) { return device_record_file_start(h, "a.jpg", &noFrame, nullptr); }},
        ConnectCase{"record_file_set_pos", [](DeviceHandle h) { return device_record_file_set_pos(h, 100); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostileCameraTest, RecordFileStopBreaksOffAPlaybackStillConnecting) {
  FullListener full;
  ManualClock& clock = manualClock();
  DeviceHandle h = linkTo(full.port());
  waitForAddress(h);
  ASSERT_TRUE(clock.waitForSleepers(1));  // the resolver
  Running start([&] { return device_record_file_start(h, "a.jpg", &noFrame, nullptr); });
  ASSERT_TRUE(clock.waitForSleepers(2)) << "the start did not wait in its connect";
  Running stop([&] { return device_record_file_stop(h); });
  ASSERT_TRUE(stop.returnsWithin(kBrokenOff)) << "record_file_stop waited for the connect";
  EXPECT_EQ(stop.result(), 1);
  ASSERT_TRUE(start.returnsWithin(kBrokenOff));
  EXPECT_EQ(start.result(), 0);
}

}  // namespace
}  // namespace tavolen::test
