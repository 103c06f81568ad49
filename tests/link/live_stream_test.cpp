// The live stream, audio stream and talk uplink of a camera link, driven
// through the exported C functions against camsim on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>

#include "link/tcp_net_device.h"
#include "link_test_support.h"
#include "media/adpcm_codec.h"

namespace tavolen::test {
namespace {

using camsim::FaultKind;

std::string expectedHeaderBlock(int port) {
  return "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
         "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, "
         "application/QVOD, */*\r\n"
         "Accept-Language: zh-cn\r\n"
         "UA-CPU: x86\r\n"
         "Accept-Encoding: gzip,deflate\r\n"
         "User-Agent: Mozilla/4.0 (compatible; MSIE 7.0; windows NT 5.1; .NET CLR 1.1.4222; "
         ".NET CLR 2.0.50727)\r\n"
         "Host: 127.0.0.1:" +
         std::to_string(port) + "\r\nConnection: Keep-Alive\r\n\r\n";
}

using LiveStream = LinkFixture;

TEST_F(LiveStream, RequestsAreByteExact) {
  DeviceHandle h = link();
  EventLog& events = newEvents();
  FrameLog& frames = newFrames();
  FrameLog& audio = newFrames();
  device_net_work_set_event_callback(h, EventLog::callback, &events);
  ASSERT_EQ(device_net_work_startStream(h, 1, FrameLog::callback, &frames), 1);
  ASSERT_TRUE(camera_->waitForRequests(1, 5000));
  ASSERT_EQ(device_net_work_startAudio(h, 2, FrameLog::callback, &audio), 1);
  ASSERT_TRUE(camera_->waitForRequests(2, 5000));
  const auto requests = camera_->requests();
  const std::string block = expectedHeaderBlock(camera_->port());
  EXPECT_EQ(requests[0],
            "GET /livestream.cgi?user=viewer&pwd=secret&streamid=1&audio=0&filename= HTTP/1.1\r\n" +
                block);
  EXPECT_EQ(requests[1],
            "GET /audiostream.cgi?user=viewer&pwd=secret&streamid=2&filename= HTTP/1.1\r\n" + block);
}

TEST_F(LiveStream, ConnectsAtOnceAndDeliversWholeVideoFrames) {
  // The real timing on a clock that never moves: the first attempt waits
  // neither for the 5 s silence nor for anything else.
  setLinkTiming(LinkTiming{});
  ManualClock& clock = manualClock();
  DeviceHandle h = link();
  EventLog& events = newEvents();
  FrameLog& frames = newFrames();
  device_net_work_set_event_callback(h, EventLog::callback, &events);
  const uint32_t start = clock.tickCount();
  ASSERT_EQ(device_net_work_startStream(h, 1, FrameLog::callback, &frames), 1);
  ASSERT_TRUE(events.waitFor(LinkEventStreamConnected, 1, 5000));
  EXPECT_EQ(clock.tickCount(), start);
  EXPECT_EQ(events.codes(), (std::vector<int32_t>{LinkEventStreamLost, LinkEventStreamConnected}));
  ASSERT_TRUE(frames.waitFor(10));
  const auto types = frames.types();
  EXPECT_EQ(types[0], FRAME_H264_KEY);
  EXPECT_TRUE(std::all_of(types.begin(), types.end(), [](uint8_t t) { return t <= 1; }));
  EXPECT_TRUE(frames.allWhole());
  EXPECT_EQ(device_net_work_stopStream(h), 1);
  const size_t after = frames.size();
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(frames.size(), after);  // nothing once stopStream has returned
}

// Silence limit 500 ms looked at every 300 ms: a retry every 600 ms of the
// link's clock, and none at the look in between.
TEST_F(LiveStream, ClosedPortFailsAndIsRetriedEveryCycle) {
  ManualClock& clock = manualClock();
  const uint16_t closedPort = camera_->port();
  camera_.reset();  // nothing listens there any more
  DeviceHandle h = linkTo("127.0.0.1", closedPort);
  EventLog& events = newEvents();
  device_net_work_set_event_callback(h, EventLog::callback, &events);
  device_net_work_startStream(h, 1, FrameLog::callback, &ignored_);
  ASSERT_TRUE(events.waitFor(LinkEventStreamConnectFailed, 1, 5000));
  constexpr int kSleepers = 2;  // the resolver and the watchdog, between cycles
  for (size_t retry = 2; retry <= 3; ++retry) {
    ASSERT_TRUE(clock.waitForSleepers(kSleepers));
    clock.advance(300);
    ASSERT_TRUE(clock.waitForSleepers(kSleepers));
    EXPECT_EQ(events.count(LinkEventStreamConnectFailed), retry - 1) << "300 ms are not silence enough";
    clock.advance(300);
    ASSERT_TRUE(events.waitFor(LinkEventStreamConnectFailed, retry, 5000));
  }
  ASSERT_TRUE(clock.waitForSleepers(kSleepers));
  device_net_work_stopStream(h);
  const auto log = events.events();
  ASSERT_EQ(log.size(), 6u);
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(log[i].code, i % 2 == 0 ? LinkEventStreamLost : LinkEventStreamConnectFailed) << i;
  }
  for (size_t i = 2; i < 6; i += 2) EXPECT_EQ(log[i].tick - log[i - 2].tick, 600u) << i;
}

TEST_F(LiveStream, BrokenStreamsAreReopenedAfterSilence) {
  struct Case {
    camsim::Fault fault;
    const char* what;
  } cases[] = {
      {{FaultKind::Silent, 3}, "silence"},
      {{FaultKind::HttpError, 0}, "HTTP error page"},
      {{FaultKind::BadMagic, 3}, "broken magic"},
      {{FaultKind::StallMidFrame, 3}, "stall inside a frame"},
      {{FaultKind::CloseAfter, 3}, "quiet close"},
  };
  // The watchdog looks every 300 ms of the link's clock, and reopens once it
  // has heard nothing for more than 500: the clock moves a look at a time
  // until it has, so a stream that is merely slow on a loaded machine is
  // never taken for a broken one.
  ManualClock& clock = manualClock();
  LinkTiming timing = fastTiming();
  timing.resolverPeriodMs = 60000;  // a sleeper that stays asleep
  setLinkTiming(timing);
  constexpr int kSleepers = 2;  // the resolver and the watchdog between its looks
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    camera_->pushFault(c.fault);
    const size_t before = liveRequests();
    DeviceHandle h = link();
    EventLog& events = newEvents();
    FrameLog& frames = newFrames();
    events.countFrames([&frames] { return frames.size(); });
    device_net_work_set_event_callback(h, EventLog::callback, &events);
    device_net_work_startStream(h, 1, FrameLog::callback, &frames);
    ASSERT_TRUE(events.waitFor(LinkEventStreamConnected, 1, 5000));
    for (int look = 0; look < 20 && events.count(LinkEventStreamConnected) < 2; ++look) {
      ASSERT_TRUE(clock.waitForSleepers(kSleepers));
      clock.advance(timing.watchdogPeriodMs);
    }
    ASSERT_TRUE(events.waitFor(LinkEventStreamConnected, 2, 5000));
    ASSERT_EQ(events.codes(), (std::vector<int32_t>{0, 100, 0, 100}));
    // The new connection may stream before its connected event: count what
    // came before the old one was given up.
    const size_t deliveredBefore = events.events()[2].framesSeen;
    EXPECT_LE(deliveredBefore, 3u);  // the broken connection gave at most its good frames
    ASSERT_TRUE(frames.waitFor(deliveredBefore + 5));  // and the new one streams
    EXPECT_EQ(liveRequests() - before, 2u);
    EXPECT_TRUE(frames.allWhole());
    destroy(h);
  }
}

TEST_F(LiveStream, RefusalsRaiseTheirEventAndSuspendTheWatchdog) {
  struct Case {
    const char* what;
    const char* password;
    int streamId;
    bool videoLoss;
    int maxClients;
    int32_t event;
    bool suspends;
  } cases[] = {
      {"wrong password", "nope", 1, false, 4, LinkEventBadCredentials, false},
      {"too many clients", "secret", 1, false, 0, LinkEventMaxConnections, true},
      {"unknown stream", "secret", 7, false, 4, LinkEventRequestTypeError, true},
      {"video loss", "secret", 1, true, 4, LinkEventVideoLoss, true},
  };
  ManualClock& clock = manualClock();
  LinkTiming timing = fastTiming();
  timing.resolverPeriodMs = 60000;  // a sleeper that stays asleep
  setLinkTiming(timing);
  constexpr int kSleepers = 2;      // the resolver and the watchdog between its looks
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    camera_->setVideoLoss(c.videoLoss);
    camera_->setMaxClients(c.maxClients);
    DeviceHandle h = link("viewer", c.password);
    EventLog& events = newEvents();
    FrameLog& frames = newFrames();
    device_net_work_set_event_callback(h, EventLog::callback, &events);
    device_net_work_startStream(h, c.streamId, FrameLog::callback, &frames);
    ASSERT_TRUE(events.waitFor(c.event, 1, 5000));
    // After its 100 the watchdog waits out one look in any case; then a
    // suspended one stays quiet and another retries once the silence is long
    // enough.
    ASSERT_TRUE(events.waitFor(LinkEventStreamConnected, 1, 5000));
    ASSERT_TRUE(clock.waitForSleepers(kSleepers));
    if (c.suspends) {
      ASSERT_TRUE(waitUntil([&] { return device(h)->watchdogSuspended(); }));
      for (int look = 0; look < 4; ++look) {
        clock.advance(300);
        // Room for a watchdog that wrongly went on to wait again.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    } else {
      clock.advance(300);
      ASSERT_TRUE(clock.waitForSleepers(kSleepers));
      clock.advance(300);
      ASSERT_TRUE(events.waitFor(LinkEventStreamLost, 2, 5000));
    }
    if (c.suspends) {
      // The refusal may overtake the watchdog's 100, never the 0 before it.
      auto codes = events.codes();
      ASSERT_EQ(codes.size(), 3u);
      EXPECT_EQ(codes[0], LinkEventStreamLost);
      std::sort(codes.begin(), codes.end());
      EXPECT_EQ(codes, (std::vector<int32_t>{0, std::min(c.event, 100), std::max(c.event, 100)}));
    } else {
      EXPECT_GE(events.count(LinkEventStreamLost), 2u);
    }
    EXPECT_EQ(frames.size(), 0u);  // status frames never reach the frame callback
    if (c.suspends) {
      // Only a new startStream tries again.
      camera_->setVideoLoss(false);
      camera_->setMaxClients(4);
      device_net_work_startStream(h, 1, FrameLog::callback, &frames);
      EXPECT_TRUE(events.waitFor(LinkEventStreamConnected, 2, 5000));
      EXPECT_TRUE(frames.waitFor(3));
    }
    destroy(h);
  }
  camera_->setVideoLoss(false);
  camera_->setMaxClients(4);
}

TEST_F(LiveStream, WrongAccountWithoutEventCallbackSuspends) {
  ManualClock& clock = manualClock();
  LinkTiming timing = fastTiming();
  timing.resolverPeriodMs = 60000;
  setLinkTiming(timing);
  DeviceHandle h = link("viewer", "nope");
  device_net_work_startStream(h, 1, FrameLog::callback, &ignored_);
  ASSERT_TRUE(camera_->waitForRequests(1, 5000));
  ASSERT_TRUE(clock.waitForSleepers(2));  // the resolver, and the watchdog's look after connecting
  ASSERT_TRUE(waitUntil([&] { return device(h)->watchdogSuspended(); }));
  for (int look = 0; look < 5; ++look) {  // two and a half retry cycles
    clock.advance(300);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));  // room for a wrong retry
  }
  EXPECT_EQ(liveRequests(), 1u);
}

TEST_F(LiveStream, StatusFramesBecomeEventsOtherTypesAreMedia) {
  DeviceHandle h = link();
  EventLog& events = newEvents();
  FrameLog& frames = newFrames();
  device_net_work_set_event_callback(h, EventLog::callback, &events);
  device_net_work_startStream(h, 1, FrameLog::callback, &frames);
  ASSERT_TRUE(frames.waitFor(1));
  struct Case {
    uint8_t type;
    int32_t event;  // -1: a media frame for the frame callback
  } cases[] = {
      {4, LinkEventSoundAlarm}, {32, 32}, {33, 33}, {34, 34}, {35, 35}, {64, 64}, {80, 80},
      {95, 95},                 {96, -1}, {150, -1}, {2, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.type));
    const size_t eventsBefore = events.size();
    const auto framesBefore = frames.types();
    camera_->sendStatus(c.type);
    if (c.event >= 0) {
      ASSERT_TRUE(events.waitFor(c.event, 1, 3000));
      EXPECT_EQ(events.codes().back(), c.event);
      EXPECT_EQ(events.size(), eventsBefore + 1);
    } else {
      ASSERT_TRUE(frames.waitFor(framesBefore.size() + 3));
      const auto types = frames.types();
      EXPECT_NE(std::find(types.begin() + static_cast<long>(framesBefore.size()), types.end(), c.type),
                types.end());
      EXPECT_EQ(events.size(), eventsBefore);
    }
  }
  // No alarm frame slipped into the frame callback.
  for (uint8_t t : frames.types()) EXPECT_TRUE(t <= 2 || t == 96 || t == 150) << int(t);
}

TEST_F(LiveStream, TalkIsSentOnlyAfterTheLiveRequestAndCountsEveryCall) {
  DeviceHandle h = link();
  std::vector<uint8_t> block(256);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7 + 3);
  // Before any stream: dropped, still numbered.
  EXPECT_EQ(device_net_work_sendTalkData(h, block.data(), 256), 1);
  EXPECT_EQ(device_net_work_sendTalkData(h, block.data(), 256), 1);
  auto* device = static_cast<CTcpNetDevice*>(h);
  EXPECT_EQ(device->talkSequence(), 2u);

  EventLog& events = newEvents();
  device_net_work_set_event_callback(h, EventLog::callback, &events);
  device_net_work_startStream(h, 1, FrameLog::callback, &ignored_);  // the count starts again
  ASSERT_TRUE(events.waitFor(LinkEventStreamConnected));
  EXPECT_EQ(device->talkSequence(), 0u);

  EXPECT_EQ(device_net_work_sendTalkData(h, block.data(), 256), 1);
  // 10000 bytes do not fit one 4096-byte packet: three packets, three numbers.
  std::vector<uint8_t> big(10000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 13);
  EXPECT_EQ(device_net_work_sendTalkData(h, big.data(), 10000), 1);
  EXPECT_EQ(device_net_work_sendTalkData(h, block.data(), 0), 1);
  ASSERT_TRUE(camera_->waitForTalk(5, 3000));
  const auto talk = camera_->talk();
  ASSERT_EQ(talk.size(), 5u);
  const uint32_t sequences[] = {0, 1, 2, 3, 4};
  const size_t lengths[] = {256, 4064, 4064, 1872, 0};
  std::vector<uint8_t> joined;
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(talk[i].sequence, sequences[i]) << i;
    EXPECT_EQ(talk[i].payload.size(), lengths[i]) << i;
    if (i >= 1 && i <= 3) joined.insert(joined.end(), talk[i].payload.begin(), talk[i].payload.end());
  }
  EXPECT_EQ(joined, big);
  std::vector<int16_t> pcm(512);
  AdpcmState state;
  adpcmDecode(state, block.data(), 256, pcm.data());
  EXPECT_EQ(talk[0].pcm, pcm);  // what camsim heard is what was said
  EXPECT_EQ(talk[0].payload, block);
}

TEST_F(LiveStream, TalkDuringReconnectIsDroppedAndTheSequenceSkipsIt) {
  camera_->pushFault({FaultKind::Silent, 2});
  DeviceHandle h = link();
  EventLog& events = newEvents();
  device_net_work_set_event_callback(h, EventLog::callback, &events);
  device_net_work_startStream(h, 1, FrameLog::callback, &ignored_);
  ASSERT_TRUE(events.waitFor(LinkEventStreamConnected));
  std::vector<uint8_t> block(256, 0x11);
  device_net_work_sendTalkData(h, block.data(), 256);  // sequence 0, sent
  ASSERT_TRUE(camera_->waitForTalk(1, 3000));
  // While the silent camera is being given up on, keep talking.
  camera_->setRefusing(true);
  ASSERT_TRUE(events.waitFor(LinkEventStreamConnectFailed, 1, 5000));
  device_net_work_sendTalkData(h, block.data(), 256);  // sequence 1, dropped
  device_net_work_sendTalkData(h, block.data(), 256);  // sequence 2, dropped
  camera_->setRefusing(false);
  ASSERT_TRUE(events.waitFor(LinkEventStreamConnected, 2, 5000));
  device_net_work_sendTalkData(h, block.data(), 256);  // sequence 3, sent
  ASSERT_TRUE(camera_->waitForTalk(2, 3000));
  const auto talk = camera_->talk();
  ASSERT_EQ(talk.size(), 2u);
  EXPECT_EQ(talk[0].sequence, 0u);
  EXPECT_EQ(talk[1].sequence, 3u);
}

TEST_F(LiveStream, AudioFlowsOnlyWhileTheVideoStreamIsActive) {
  DeviceHandle h = link();
  auto* device = static_cast<CTcpNetDevice*>(h);
  ASSERT_TRUE(waitUntil([&] { return device->hostResolved(); }));
  FrameLog& audio = newFrames();
  FrameLog& frames = newFrames();
  ASSERT_EQ(device_net_work_startAudio(h, 2, FrameLog::callback, &audio), 1);
  EXPECT_TRUE(device->audioActive());
  std::this_thread::sleep_for(std::chrono::milliseconds(400));  // three blocks' worth
  EXPECT_EQ(audio.size(), 0u);

  EventLog& events = newEvents();
  device_net_work_set_event_callback(h, EventLog::callback, &events);
  device_net_work_startStream(h, 1, FrameLog::callback, &frames);
  ASSERT_TRUE(audio.waitFor(3, 3000));
  const auto types = audio.types();
  EXPECT_TRUE(std::all_of(types.begin(), types.end(), [](uint8_t t) { return t == FRAME_AUDIO_ADPCM; }));
  EXPECT_TRUE(audio.allWhole());
  for (uint8_t t : frames.types()) EXPECT_LE(t, 1) << "audio leaked into the video callback";

  device_net_work_stopStream(h);
  const size_t stopped = audio.size();
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_EQ(audio.size(), stopped);

  EXPECT_EQ(device_net_work_stopAudio(h), 1);
  EXPECT_FALSE(device->audioActive());
  EXPECT_EQ(device->audioStreamId(), -1);
}

TEST_F(LiveStream, StopAudioWhenOffKeepsTheStoredIdAndFailedStartsRaiseNothing) {
  const uint16_t closedPort = camera_->port();
  camera_.reset();
  DeviceHandle h = linkTo("127.0.0.1", closedPort);
  auto* device = static_cast<CTcpNetDevice*>(h);
  EventLog& events = newEvents();
  device_net_work_set_event_callback(h, EventLog::callback, &events);
  ASSERT_TRUE(waitUntil([&] { return device->hostResolved(); }));
  EXPECT_EQ(device_net_work_startAudio(h, 5, FrameLog::callback, &ignored_), 0);
  EXPECT_FALSE(device->audioActive());
  EXPECT_EQ(device_net_work_stopAudio(h), 1);
  EXPECT_EQ(device->audioStreamId(), 5);
  EXPECT_EQ(events.size(), 0u);
}

// From inside the live stream's own frame or event callbacks, starting,
// stopping or destroying the stream would wait for that very callback: each is
// refused with 0, and the stream goes on.
TEST_F(LiveStream, OwnCallbacksCannotStartStopOrDestroyTheirStream) {
  static struct Reentry {
    DeviceHandle h = nullptr;
    std::atomic<int32_t> stopFromFrame{-1}, startFromFrame{-1}, destroyFromFrame{-1};
    std::atomic<int32_t> stopFromEvent{-1};
    FrameLog* frames = nullptr;
  } r;
  r.h = link();
  r.frames = &newFrames();
  EventLog& events = newEvents();
  device_net_work_set_event_callback(
      r.h,
      [](int32_t code, void* log) {
        if (code == LinkEventStreamConnected && r.stopFromEvent.load() == -1)
          r.stopFromEvent = device_net_work_stopStream(r.h);
        EventLog::callback(code, log);
      },
      &events);
  device_net_work_startStream(
      r.h, 1,
      [](const uint8_t* frame, int32_t length, void*) -> int32_t {
        if (r.stopFromFrame.load() == -1) {
          r.stopFromFrame = device_net_work_stopStream(r.h);
          r.startFromFrame = device_net_work_startStream(r.h, 1, nullptr, nullptr);
          r.destroyFromFrame = device_net_work_destroyInstance(r.h);
        }
        r.frames->add(frame, length);
        return 0;
      },
      nullptr);
  ASSERT_TRUE(r.frames->waitFor(10));
  EXPECT_EQ(r.stopFromFrame.load(), 0);
  EXPECT_EQ(r.startFromFrame.load(), 0);
  EXPECT_EQ(r.destroyFromFrame.load(), 0);
  EXPECT_EQ(r.stopFromEvent.load(), 0);
  EXPECT_EQ(liveRequests(), 1u);  // the same connection streamed on
  EXPECT_EQ(events.codes(), (std::vector<int32_t>{LinkEventStreamLost, LinkEventStreamConnected}));
  EXPECT_EQ(device_net_work_stopStream(r.h), 1);  // from outside, as ever
}

// The audio socket lets its own delivery close it: an audio callback may stop
// the audio, and no block follows.
TEST_F(LiveStream, AnAudioCallbackMayStopTheAudio) {
  static struct Stopper {
    DeviceHandle h = nullptr;
    std::atomic<int32_t> stopped{-1};
    std::atomic<int32_t> blocks{0};
  } s;
  s.h = link();
  EventLog& events = newEvents();
  device_net_work_set_event_callback(s.h, EventLog::callback, &events);
  device_net_work_startStream(s.h, 1, FrameLog::callback, &ignored_);
  ASSERT_TRUE(events.waitFor(LinkEventStreamConnected));
  ASSERT_EQ(device_net_work_startAudio(
                s.h, 2,
                [](const uint8_t*, int32_t, void*) -> int32_t {
                  if (s.blocks.fetch_add(1) == 0) s.stopped = device_net_work_stopAudio(s.h);
                  return 0;
                },
                nullptr),
            1);
  ASSERT_TRUE(waitUntil([] { return s.stopped.load() != -1; }));
  EXPECT_EQ(s.stopped.load(), 1);
  EXPECT_FALSE(device(s.h)->audioActive());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // three blocks' worth
  EXPECT_EQ(s.blocks.load(), 1);
}

TEST_F(LiveStream, RestartingTheStreamStartsAFreshConnection) {
  DeviceHandle h = link();
  EventLog& events = newEvents();
  FrameLog& first = newFrames();
  FrameLog& second = newFrames();
  device_net_work_set_event_callback(h, EventLog::callback, &events);
  device_net_work_startStream(h, 1, FrameLog::callback, &first);
  ASSERT_TRUE(first.waitFor(3));
  device_net_work_startStream(h, 1, FrameLog::callback, &second);
  ASSERT_TRUE(second.waitFor(3));
  const size_t firstCount = first.size();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(first.size(), firstCount);  // the old callback is no longer called
  EXPECT_EQ(second.types()[0], FRAME_H264_KEY);
  EXPECT_EQ(liveRequests(), 2u);
}

}  // namespace
}  // namespace tavolen::test
