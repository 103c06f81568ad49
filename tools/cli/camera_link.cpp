#include "camera_link.h"

#include <netdb.h>
#include <sys/socket.h>

#include <atomic>
#include <cstring>

#include "event_names.h"

namespace tavolen::cli {

namespace {

std::atomic<CameraLink*> gCurrent{nullptr};

bool isSound(uint8_t type) { return type == FRAME_AUDIO_ADPCM || type == FRAME_AUDIO_ALAW; }

bool resolves(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (found != nullptr) ::freeaddrinfo(found);
  return rc == 0;
}

}  // namespace

CameraLink::CameraLink(const CameraAddress& address, double timeoutSeconds)
    : address_(address), timeoutSeconds_(timeoutSeconds) {
  // The link would wait for the name quietly for ever; say it at once.
  if (!resolves(address_.host)) throw Failure("cannot resolve the host name " + address_.host);
  link_ = device_net_work_createInstance(connectParams(address_));
  if (link_ == nullptr) throw Failure("cannot create a camera link");
  gCurrent = this;
  device_net_work_set_event_callback(link_, onEvent, this);
  device_net_work_param_callback(link_, onParam, onResult, this);
}

CameraLink::~CameraLink() {
  if (abandoned_) return;
  stopAudio();
  stopStream();
  device_record_file_stop(link_);
  device_net_work_destroyInstance(link_);
  gCurrent = nullptr;
}

void CameraLink::onEvent(int32_t event, void* user) {
  auto* self = static_cast<CameraLink*>(user);
  {
    std::lock_guard<std::mutex> lock(Waits::mutex());
    self->state_.events.add({eventCode(event), std::chrono::system_clock::now()});
  }
  Waits::notify();
}

int32_t CameraLink::onVideo(const uint8_t* frame, int32_t length, void* user) {
  auto* self = static_cast<CameraLink*>(user);
  if (length >= FRAME_HEADER_SIZE && !isSound(frame[4])) {
    {
      std::lock_guard<std::mutex> lock(Waits::mutex());
      ++self->state_.mediaFrames;
    }
    Waits::notify();
  }
  if (self->video_) self->video_(frame, length);
  return 1;
}

int32_t CameraLink::onAudio(const uint8_t* frame, int32_t length, void* user) {
  auto* self = static_cast<CameraLink*>(user);
  if (self->audio_) self->audio_(frame, length);
  return 1;
}

void CameraLink::onParam(int32_t code, const void* record, int32_t size, void* user) {
  auto* self = static_cast<CameraLink*>(user);
  const auto* bytes = static_cast<const uint8_t*>(record);
  {
    std::lock_guard<std::mutex> lock(Waits::mutex());
    self->state_.answers[code].emplace_back(bytes, bytes + (size > 0 ? size : 0));
  }
  Waits::notify();
}

void CameraLink::onResult(int32_t code, int32_t result) {
  CameraLink* self = gCurrent.load();
  if (self == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(Waits::mutex());
    self->state_.results.emplace_back(code, result);
  }
  Waits::notify();
}

void CameraLink::startStream(int32_t streamId, FrameSink video) {
  stopStream();
  video_ = std::move(video);
  {
    std::lock_guard<std::mutex> lock(Waits::mutex());
    streamEventsFrom_ = state_.events.end();
    streamFramesFrom_ = state_.mediaFrames;
  }
  streamId_ = streamId;
  streaming_ = true;
  device_net_work_startStream(link_, streamId, onVideo, this);
}

void CameraLink::stopStream() {
  if (!streaming_) return;
  stopAudio();
  // Once stopStream returns no frame is delivered any more, so the sink can go.
  device_net_work_stopStream(link_);
  streaming_ = false;
  video_ = nullptr;
}

bool CameraLink::startAudio(FrameSink sink) {
  stopAudio();
  audio_ = std::move(sink);
  audioOn_ = device_net_work_startAudio(link_, kSoundStreamId, onAudio, this) == 1;
  return audioOn_;
}

void CameraLink::stopAudio() {
  device_net_work_stopAudio(link_);
  audioOn_ = false;
  audio_ = nullptr;
}

void CameraLink::failRefusal(int32_t code) const {
  switch (code) {
    case LinkEventBadCredentials:
      throw Failure(name() + " refused user '" + address_.user + "' (wrong user name or password)");
    case LinkEventStreamConnectFailed: throw Failure("cannot connect to " + name());
    case LinkEventMaxConnections: throw Failure(name() + " refused the stream: it has too many connections");
    case LinkEventRequestTypeError:
      throw Failure(name() + " refused stream " + std::to_string(streamId_) + " (request type error)");
    case LinkEventVideoLoss: throw Failure(name() + " reports video loss");
    default: throw Failure(name() + " did not answer");
  }
}

void CameraLink::confirmAccount(bool needMedia) {
  enum class Verdict { Pending, Accepted, Refused };
  Verdict verdict = Verdict::Pending;
  int32_t refusal = 0;
  const auto decide = [&] {
    if (state_.mediaFrames > streamFramesFrom_) {
      verdict = Verdict::Accepted;
      return true;
    }
    for (const Event& e : state_.events.since(streamEventsFrom_)) {
      const int32_t code = e.code;
      const bool notAboutAccount = code == LinkEventMaxConnections || code == LinkEventRequestTypeError ||
                                   code == LinkEventVideoLoss;
      if (code == LinkEventBadCredentials || code == LinkEventStreamConnectFailed ||
          (needMedia && notAboutAccount)) {
        verdict = Verdict::Refused;
        refusal = code;
        return true;
      }
      if (notAboutAccount) {
        verdict = Verdict::Accepted;
        return true;
      }
    }
    return false;
  };
  if (!Waits::untilOrThrow(deadline(), decide)) {
    throw Failure("no answer from " + name() + " within " + secondsText(timeoutSeconds_));
  }
  if (verdict == Verdict::Refused) failRefusal(refusal);
}

void CameraLink::queueRead(int32_t command) { device_net_work_get_network(link_, command); }

void CameraLink::queueWrite(int32_t command, const void* data, int32_t length) {
  device_net_work_set_network(link_, command, data, length);
}

void CameraLink::queuePtz(int32_t code) { device_net_work_ptz(link_, code); }

bool CameraLink::waitStreamLost(size_t fromEvent, Clock::time_point deadline) {
  return Waits::untilOrThrow(deadline, [&] { return state_.events.contains(fromEvent, LinkEventStreamLost); });
}

size_t CameraLink::eventCount() const {
  std::lock_guard<std::mutex> lock(Waits::mutex());
  return state_.events.end();
}

std::vector<CameraLink::Event> CameraLink::EventLog::since(size_t from) const {
  const size_t first = from > forgotten_ ? from - forgotten_ : 0;
  if (first >= events_.size()) return {};
  return {events_.begin() + static_cast<std::ptrdiff_t>(first), events_.end()};
}

bool CameraLink::EventLog::contains(size_t from, int32_t code) const {
  for (const Event& e : since(from))
    if (e.code == code) return true;
  return false;
}

void CameraLink::EventLog::forgetBefore(size_t number) {
  while (forgotten_ < number && !events_.empty()) {
    events_.pop_front();
    ++forgotten_;
  }
}

}  // namespace tavolen::cli
