// The camera link's object life: the exports' results, the handle check, the
// resolver, and destroy racing with calls, lookups and connects.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "link/tcp_net_device.h"
#include "link_test_support.h"

namespace tavolen::test {
namespace {

using LinkObject = LinkFixture;

// Every export through one handle, with the result it gives on a live link.
struct ExportCall {
  const char* name;
  int32_t (*call)(DeviceHandle);
  int32_t liveResult;
};

int32_t noopFrame(const uint8_t*, int32_t, void*) { return 0; }
void noopList(const char*, const char*, int32_t, void*) {}
void noopEvent(int32_t, void*) {}
void noopParam(int32_t, const void*, int32_t, void*) {}
void noopResult(int32_t, int32_t) {}

const ExportCall kExports[] = {
    {"startTalk", [](DeviceHandle h) { return device_net_work_startTalk(h); }, 0},
    {"stopTalk", [](DeviceHandle h) { return device_net_work_stopTalk(h); }, 0},
    {"set_event_callback", [](DeviceHandle h) { return device_net_work_set_event_callback(h, noopEvent, nullptr); }, 1},
    {"sendTalkData", [](DeviceHandle h) { static const uint8_t b[4] = {}; return device_net_work_sendTalkData(h, b, 4); }, 1},
    {"ptz", [](DeviceHandle h) { return device_net_work_ptz(h, 0); }, 1},
    {"get_network", [](DeviceHandle h) { return device_net_work_get_network(h, CommandGetNetwork); }, 1},
    {"set_network", [](DeviceHandle h) { static const NetworkParams p{}; return device_net_work_set_network(h, CommandSetNetwork, &p, sizeof p); }, 1},
    {"param_callback", [](DeviceHandle h) { return device_net_work_param_callback(h, noopParam, noopResult, nullptr); }, 1},
    {"record_file_search_list", [](DeviceHandle h) { return device_record_file_search_list(h, 2024, 1, 1, 0, 0, 0, 2024, 1, 2, 0, 0, 0, noopList, nullptr); }, 1},
    {"record_file_stop", [](DeviceHandle h) { return device_record_file_stop(h); }, 1},
    {"stopAudio", [](DeviceHandle h) { return device_net_work_stopAudio(h); }, 1},
    {"stopStream", [](DeviceHandle h) { return device_net_work_stopStream(h); }, 1},
    {"startStream", [](DeviceHandle h) { return device_net_work_startStream(h, 1, noopFrame, nullptr); }, 1},
    {"startAudio", [](DeviceHandle h) { return device_net_work_startAudio(h, 2, noopFrame, nullptr); }, -1},
    {"record_file_start", [](DeviceHandle h) { return device_record_file_start(h, "a.avi", noopFrame, nullptr); }, -1},
    {"record_file_set_pos", [](DeviceHandle h) { return device_record_file_set_pos(h, 0); }, -1},
    {"destroyInstance", [](DeviceHandle h) { return device_net_work_destroyInstance(h); }, -1},
};

TEST_F(LinkObject, ExportResultsOnLiveDeadAndForeignHandles) {
  EXPECT_EQ(device_net_work_init(), 1);
  EXPECT_EQ(device_net_work_deInit(), 1);

  DeviceHandle h = link();
  for (const ExportCall& e : kExports) {
    if (e.liveResult >= 0) {
      EXPECT_EQ(e.call(h), e.liveResult) << e.name;
    }
  }
  destroy(h);

  int notALink = 0;
  for (DeviceHandle bad : {static_cast<DeviceHandle>(h), static_cast<DeviceHandle>(nullptr),
                           static_cast<DeviceHandle>(&notALink)}) {
    for (const ExportCall& e : kExports) EXPECT_EQ(e.call(bad), 0) << e.name;
  }
}

TEST_F(LinkObject, TheBaseInterfaceDoesNothing) {
  CNetDevice base;
  EXPECT_EQ(base.startStream(1, noopFrame, nullptr), 0);
  EXPECT_EQ(base.stopStream(), 0);
  EXPECT_EQ(base.startAudio(2, noopFrame, nullptr), 0);
  EXPECT_EQ(base.stopAudio(), 0);
  EXPECT_EQ(base.sendTalkData(nullptr, 0), 0);
  EXPECT_EQ(base.set_event_callback(noopEvent, nullptr), 0);
  EXPECT_EQ(base.ptz(1), 0);
  EXPECT_EQ(base.record_file_search_list(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, noopList, nullptr), 0);
  EXPECT_EQ(base.record_file_start("x", noopFrame, nullptr), 0);
  EXPECT_EQ(base.record_file_stop(), 0);
  EXPECT_EQ(base.record_file_set_pos(0), 0);
  EXPECT_EQ(base.param_callback(noopParam, noopResult, nullptr), 0);
  EXPECT_EQ(base.set_network(0, nullptr, 0), 0);
  EXPECT_EQ(base.get_network(0), 0);
}

TEST_F(LinkObject, OverlongConnectTextsAreCutInsideTheirFields) {
  DeviceConnectParams p = connectParams("127.0.0.1", camera_->port());
  std::memset(p.user, 'u', sizeof p.user);  // no terminator at all
  std::memset(p.password, 'p', sizeof p.password);
  DeviceHandle h = device_net_work_createInstance(p);
  ASSERT_NE(h, nullptr);
  links_.push_back(h);
  auto* device = static_cast<CTcpNetDevice*>(h);
  EXPECT_EQ(std::strlen(device->params().user), 63u);
  EventLog& events = newEvents();
  device_net_work_set_event_callback(h, EventLog::callback, &events);
  device_net_work_startStream(h, 1, noopFrame, nullptr);
  ASSERT_TRUE(camera_->waitForRequests(1, 5000));
  EXPECT_NE(camera_->requests()[0].find("user=" + std::string(63, 'u') + "&pwd=" + std::string(63, 'p') + "&"),
            std::string::npos);
}

TEST_F(LinkObject, UnsafeAccountTextIsNeverSent) {
  DeviceHandle h = link("viewer\r\nX-Injected: 1", "secret");
  EventLog& events = newEvents();
  device_net_work_set_event_callback(h, EventLog::callback, &events);
  device_net_work_startStream(h, 1, noopFrame, nullptr);
  ASSERT_TRUE(events.waitFor(LinkEventStreamConnectFailed, 1, 3000));
  EXPECT_EQ(events.codes()[0], LinkEventStreamLost);
  for (const auto& r : camera_->requests()) EXPECT_EQ(r.find("X-Injected"), std::string::npos);
}

// ---- resolver ----

std::atomic<int> gLookups{0};
std::atomic<bool> gReleaseLookup{false};

bool countingLookup(const char*, std::string& out) {
  ++gLookups;
  out = "127.0.0.1";
  return true;
}
bool failingLookup(const char*, std::string&) {
  ++gLookups;
  return false;
}
bool hangingLookup(const char*, std::string& out) {
  ++gLookups;
  while (!gReleaseLookup) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  out = "127.0.0.1";
  return true;
}

// The resolver looks a name up once per resolver period of the link's clock
// (100 ms here), and never looks a dotted address up.
TEST_F(LinkObject, NamesAreLookedUpEveryCycleDottedAddressesNever) {
  ManualClock& clock = manualClock();
  LinkTiming t = fastTiming();
  t.lookup = countingLookup;
  setLinkTiming(t);
  gLookups = 0;
  DeviceHandle dotted = link();
  DeviceHandle named = linkTo("camera.test", camera_->port());
  for (int period = 1; period <= 5; ++period) {
    ASSERT_TRUE(clock.waitForSleepers(2));  // both resolvers wait out their period
    EXPECT_EQ(gLookups.load(), period);
    clock.advance(99);
    EXPECT_EQ(clock.sleepers(), 2);
    EXPECT_EQ(gLookups.load(), period);
    clock.advance(1);
  }
  auto* d = static_cast<CTcpNetDevice*>(dotted);
  EXPECT_TRUE(d->hostResolved());
  EXPECT_EQ(d->resolvedAddress(), "127.0.0.1");
  EXPECT_TRUE(static_cast<CTcpNetDevice*>(named)->hostResolved());
  EXPECT_EQ(static_cast<CTcpNetDevice*>(named)->resolvedAddress(), "127.0.0.1");
}

TEST_F(LinkObject, UnresolvedNamesGateStreamsAndAudio) {
  ManualClock& clock = manualClock();
  LinkTiming t = fastTiming();
  t.lookup = failingLookup;
  setLinkTiming(t);
  gLookups = 0;
  DeviceHandle h = linkTo("camera.test", camera_->port());
  EventLog& events = newEvents();
  device_net_work_set_event_callback(h, EventLog::callback, &events);
  EXPECT_EQ(device_net_work_startStream(h, 1, noopFrame, nullptr), 1);
  EXPECT_EQ(device_net_work_startAudio(h, 2, noopFrame, nullptr), 0);
  for (int period = 0; period < 4; ++period) {
    ASSERT_TRUE(clock.waitForSleepers(1));  // the resolver; the watchdog waits for an address
    clock.advance(100);
  }
  ASSERT_TRUE(clock.waitForSleepers(1));
  EXPECT_EQ(gLookups.load(), 5);
  EXPECT_EQ(events.size(), 0u);
  EXPECT_TRUE(camera_->requests().empty());
  EXPECT_EQ(device_net_work_stopStream(h), 1);
}

// Destroy gives a lookup that hangs its 100 ms of the link's clock, then
// leaves it behind.
TEST_F(LinkObject, DestroyDoesNotWaitForAHangingLookup) {
  ManualClock& clock = manualClock();
  LinkTiming t = fastTiming();
  t.lookup = hangingLookup;
  setLinkTiming(t);
  gLookups = 0;
  gReleaseLookup = false;
  DeviceHandle h = linkTo("camera.test", camera_->port());
  device_net_work_startStream(h, 1, noopFrame, nullptr);
  ASSERT_TRUE(waitUntil([] { return gLookups.load() > 0; }));
  // The stream waiting for its address stops at once, the clock standing.
  EXPECT_EQ(device_net_work_stopStream(h), 1);
  std::erase(links_, h);
  // One sleeper: the destroy's wait for the resolver.
  EXPECT_EQ(clock.callThroughLimit(t.resolverStopWaitMs, 1, [&] { return device_net_work_destroyInstance(h); }), 1);
  EXPECT_EQ(device_net_work_stopStream(h), 0);
  // The abandoned lookup now finishes into state nobody reads.
  gReleaseLookup = true;
}

// ---- destroy against other threads ----

TEST_F(LinkObject, CallsRacingWithDestroyNeverTouchADestroyedLink) {
  for (int round = 0; round < 5; ++round) {
    DeviceHandle h = link();
    EventLog& events = newEvents();
    FrameLog& frames = newFrames();
    device_net_work_set_event_callback(h, EventLog::callback, &events);
    device_net_work_startStream(h, 1, FrameLog::callback, &frames);
    std::atomic<bool> go{true};
    std::atomic<int> zeros{0};
    std::vector<std::thread> callers;
    for (int k = 0; k < 3; ++k) {
      callers.emplace_back([&, k] {
        const uint8_t talk[64] = {};
        while (go) {
          int32_t r = 0;
          switch (k) {
            case 0: r = device_net_work_sendTalkData(h, talk, sizeof talk); break;
            case 1: r = device_net_work_set_event_callback(h, EventLog::callback, &events); break;
            case 2: r = device_net_work_ptz(h, 1); break;
          }
          if (r == 0) ++zeros;
        }
      });
    }
    platform::sleepMs(static_cast<uint32_t>(20 + round * 30));
    std::erase(links_, h);
    EXPECT_EQ(device_net_work_destroyInstance(h), 1);
    const size_t framesAfter = frames.size();
    const size_t eventsAfter = events.size();
    const int zerosAtDestroy = zeros.load();
    // The callers go on, and are turned away.
    EXPECT_TRUE(waitUntil([&] { return zeros.load() >= zerosAtDestroy + 30; }));
    go = false;
    for (auto& t : callers) t.join();
    EXPECT_EQ(frames.size(), framesAfter);
    EXPECT_EQ(events.size(), eventsAfter);
  }
}

// stopStream breaks off a watchdog stuck in its connect: the stop returns with
// the clock standing, and the 101 that the connect would raise once its 3 s
// were up never arrives.
TEST_F(LinkObject, AWatchdogStuckInConnectStaysQuietAfterStop) {
  FullListener full;
  ManualClock& clock = manualClock();
  LinkTiming t = fastTiming();
  t.resolverPeriodMs = 60000;  // out of the way
  setLinkTiming(t);
  DeviceHandle h = linkTo("127.0.0.1", full.port());
  EventLog& events = newEvents();
  device_net_work_set_event_callback(h, EventLog::callback, &events);
  device_net_work_startStream(h, 1, noopFrame, nullptr);
  ASSERT_TRUE(events.waitFor(LinkEventStreamLost, 1, 5000));
  ASSERT_TRUE(clock.waitForSleepers(2));  // the resolver, and the watchdog inside its connect
  auto stop = std::async(std::launch::async, [h] { return device_net_work_stopStream(h); });
  const bool returned = stop.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  if (!returned) clock.advance(t.watchdogStopWaitMs);  // let it go, and fail
  EXPECT_TRUE(returned) << "the stop waited for the watchdog's connect";
  EXPECT_EQ(stop.get(), 1);
  std::erase(links_, h);
  EXPECT_EQ(device_net_work_destroyInstance(h), 1);
  EXPECT_EQ(clock.sleepers(), 0);
  clock.advance(kConnectWaitMs);
  EXPECT_EQ(events.codes(), (std::vector<int32_t>{LinkEventStreamLost}));
}

}  // namespace
}  // namespace tavolen::test
