#include "demo.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "media/adpcm_codec.h"
#include "tavolen/tavolen.h"

namespace camsim {

namespace {

struct Counters {
  std::atomic<uint64_t> frames{0};
  std::atomic<uint64_t> keyFrames{0};
  std::atomic<uint64_t> bytes{0};
  std::atomic<uint64_t> audioBlocks{0};
};

const char* eventName(int32_t code) {
  switch (code) {
    case LinkEventStreamLost: return "connecting (no stream)";
    case LinkEventStreamConnected: return "connected";
    case LinkEventStreamConnectFailed: return "connect failed";
    case LinkEventBadCredentials: return "wrong user or password";
    case LinkEventMaxConnections: return "too many clients";
    case LinkEventRequestTypeError: return "stream request refused";
    case LinkEventVideoLoss: return "video loss";
    case LinkEventMotionAlarm: return "motion alarm";
    case LinkEventGpioAlarm: return "input alarm";
    case LinkEventMotionAlarmClear: return "motion alarm cleared";
    case LinkEventGpioAlarmClear: return "input alarm cleared";
    case LinkEventSoundAlarm: return "sound alarm";
    default: break;
  }
  if (code >= LinkEventSensorAlarmFirst && code <= LinkEventSensorAlarmLast) return "sensor alarm";
  return "?";
}

void onEvent(int32_t code, void*) {
  std::printf("link: event %d (%s)\n", code, eventName(code));
  std::fflush(stdout);
}

int32_t onFrame(const uint8_t* frame, int32_t length, void* user) {
  auto* c = static_cast<Counters*>(user);
  c->frames.fetch_add(1);
  if (frame[4] == FRAME_H264_KEY) c->keyFrames.fetch_add(1);
  c->bytes.fetch_add(static_cast<uint64_t>(length));
  return 0;
}

int32_t onAudio(const uint8_t*, int32_t, void* user) {
  static_cast<Counters*>(user)->audioBlocks.fetch_add(1);
  return 0;
}

}  // namespace

void runDemo(Server& server, int streamId, const std::atomic<bool>& stop) {
  DeviceConnectParams params;
  std::memset(&params, 0, sizeof params);
  std::snprintf(params.user, sizeof params.user, "%s", server.config().user.c_str());
  std::snprintf(params.password, sizeof params.password, "%s", server.config().password.c_str());
  std::snprintf(params.host, sizeof params.host, "127.0.0.1");
  params.port = server.port();

  Counters counters;
  DeviceHandle link = device_net_work_createInstance(params);
  if (link == nullptr) {
    std::printf("link: cannot create\n");
    return;
  }
  std::printf("link: viewing stream %d of 127.0.0.1:%d\n", streamId, params.port);
  device_net_work_set_event_callback(link, onEvent, nullptr);
  device_net_work_startStream(link, streamId, onFrame, &counters);
  bool audioOn = false;

  // One 256-byte ADPCM block (512 samples, 64 ms) of a 1 kHz beep.
  uint8_t talk[256];
  {
    int16_t pcm[512];
    for (int i = 0; i < 512; ++i) pcm[i] = static_cast<int16_t>((i / 4) % 2 ? 6000 : -6000);
    tavolen::AdpcmState state;
    tavolen::adpcmEncode(state, pcm, sizeof pcm, talk);
  }

  using Clock = std::chrono::steady_clock;
  auto last = Clock::now();
  uint64_t lastFrames = 0;
  while (!stop) {
    ::usleep(100 * 1000);
    if (!audioOn && counters.frames.load() > 0) {
      audioOn = device_net_work_startAudio(link, 2, onAudio, &counters) == 1;
    }
    const auto now = Clock::now();
    const double seconds = std::chrono::duration<double>(now - last).count();
    if (seconds < 1.0) continue;
    const uint64_t frames = counters.frames.load();
    std::printf("link: frames %llu (key %llu)  %.1f frames/s  %.2f MB  audio blocks %llu\n",
                static_cast<unsigned long long>(frames),
                static_cast<unsigned long long>(counters.keyFrames.load()),
                static_cast<double>(frames - lastFrames) / seconds,
                static_cast<double>(counters.bytes.load()) / 1e6,
                static_cast<unsigned long long>(counters.audioBlocks.load()));
    std::fflush(stdout);
    last = now;
    lastFrames = frames;
    // Say something back once a second, so the talk uplink shows in camsim's lines.
    device_net_work_sendTalkData(link, talk, sizeof talk);
  }
  device_net_work_stopAudio(link);
  device_net_work_stopStream(link);
  device_net_work_destroyInstance(link);
}

}  // namespace camsim
