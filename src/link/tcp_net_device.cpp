#include "link/tcp_net_device.h"

#include <cstring>
#include <string>

#include "media/media_frame.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "platform/tick.h"

namespace tavolen {

CTcpNetDevice::CTcpNetDevice(const DeviceConnectParams& params)
    : CNetDevice(params),
      state_(std::make_shared<LinkState>(params_, headerBlock_, currentLinkTiming())),
      resolverDone_(std::make_shared<platform::Event>(platform::Event::Reset::Manual)),
      commands_(state_),
      records_(state_) {
  audio_.bindDelivery(&CTcpNetDevice::deliverAudio, this);
  audio_.setSendTimeLimit(state_->timing.sendTimeLimitMs);
  // The resolver owns references to what it writes, so that destroy can leave
  // it inside a hanging lookup.
  resolver_ = platform::startThread(
      [state = state_, done = resolverDone_] { resolverMain(state, done); });
  try {
    commands_.start();
  } catch (...) {
    // No destructor runs for a link that was never made: the resolver is
    // told to end and left to do so on its own references.
    state_->resolverStop = 1;
    state_->resolverWake.signal();
    resolver_.detach();
    throw;
  }
}

CTcpNetDevice::~CTcpNetDevice() {
  commands_.requestStop();
  state_->resolverStop = 1;
  state_->resolverWake.signal();
  if (resolverDone_->wait(state_->timing.resolverStopWaitMs)) {
    resolver_.join();
  } else {
    resolver_.detach();  // its result goes into the shared state and is never read
  }
  stopAudio();
  audio_.close();
  {
    std::lock_guard<std::mutex> guard(streamLock_);
    stopStreamLocked();
  }
  records_.close();
  commands_.stop();
}

void CTcpNetDevice::cancel() {
  {
    std::lock_guard<std::mutex> s(sessionLock_);
    state_->cancelled = 1;
    if (session_) session_->cancel();
  }
  audio_.cancel();
  records_.cancel();
  commands_.requestStop();
}

void CTcpNetDevice::resolverMain(std::shared_ptr<LinkState> state,
                                 std::shared_ptr<platform::Event> done) {
  const char* host = state->params.host;
  while (state->resolverStop.load() == 0) {
    if (platform::isDottedIPv4(host)) {
      state->setResolvedAddress(std::string(host, std::min<size_t>(std::strlen(host), 15)));
      state->hostResolved = 1;
      state->resolved.signal();
    } else {
      std::string dotted;
      const HostLookupFn lookup = state->timing.lookup ? state->timing.lookup : platform::resolveIPv4;
      const bool found = lookup(host, dotted);
      if (state->resolverStop.load() != 0) break;  // abandoned: the answer is not wanted
      if (found) {
        state->setResolvedAddress(dotted);
        state->hostResolved = 1;
        state->resolved.signal();
      }
    }
    if (state->resolverWake.wait(state->timing.resolverPeriodMs)) break;
  }
  done->signal();
}

bool CTcpNetDevice::insideOwnCallback() const {
  std::lock_guard<std::mutex> s(sessionLock_);
  return session_ && session_->deliveringHere();
}

int32_t CTcpNetDevice::startStream(int32_t streamId, FrameCallback callback, void* user) {
  if (insideOwnCallback()) return 0;
  std::lock_guard<std::mutex> guard(streamLock_);
  // Whatever ran before, including a session another thread started meanwhile.
  stopStreamLocked();
  auto session = std::make_shared<LiveSession>(state_, streamId, callback, user);
  {
    std::lock_guard<std::mutex> s(sessionLock_);
    if (state_->cancelled.load() != 0) return 0;  // the link is being destroyed
    session_ = session;
  }
  talkSequence_ = 0;
  session->start();
  return 1;
}

int32_t CTcpNetDevice::stopStream() {
  if (insideOwnCallback()) return 0;
  std::lock_guard<std::mutex> guard(streamLock_);
  stopStreamLocked();
  return 1;
}

void CTcpNetDevice::stopStreamLocked() {
  std::shared_ptr<LiveSession> session;
  {
    std::lock_guard<std::mutex> s(sessionLock_);
    session = session_;
  }
  if (!session) return;
  session->stop();
  std::lock_guard<std::mutex> s(sessionLock_);
  framesBefore_ += session->framesDelivered();
  reconnectsBefore_ += session->reconnects();
  session_.reset();
}

bool CTcpNetDevice::videoStreamActive() const {
  std::lock_guard<std::mutex> s(sessionLock_);
  return session_ && session_->streamActive();
}

bool CTcpNetDevice::watchdogSuspended() const {
  std::lock_guard<std::mutex> s(sessionLock_);
  return session_ && session_->watchdogSuspended();
}

uint64_t CTcpNetDevice::framesDelivered() const {
  std::lock_guard<std::mutex> s(sessionLock_);
  return framesBefore_ + (session_ ? session_->framesDelivered() : 0);
}

uint32_t CTcpNetDevice::reconnects() const {
  std::lock_guard<std::mutex> s(sessionLock_);
  return reconnectsBefore_ + (session_ ? session_->reconnects() : 0);
}

int32_t CTcpNetDevice::startAudio(int32_t audioStreamId, FrameCallback callback, void* user) {
  stopAudio();
  std::lock_guard<std::mutex> guard(audioLock_);
  audioStreamId_ = audioStreamId;
  audioCallback_ = callback;
  audioUser_ = user;
  return openAudio() ? 1 : 0;
}

bool CTcpNetDevice::openAudio() {
  if (state_->hostResolved.load() == 0) return false;
  if (!audio_.isOpen() && audio_.connect(params_.host, params_.port) != 1) return false;
  char request[kStreamRequestSize];
  size_t length = 0;
  if (buildRequest(request, sizeof request, length, headerBlock_,
                   "GET /audiostream.cgi?user=%s&pwd=%s&streamid=%d&filename= HTTP/1.1\r\n",
                   params_.user, params_.password, audioStreamId_) != RequestError::None) {
    audio_.close();
    return false;
  }
  if (!audio_.send(request, length)) {
    audio_.close();
    return false;
  }
  audioActive_ = 1;
  return true;
}

int32_t CTcpNetDevice::stopAudio() {
  if (audioActive_.load() == 0) return 1;
  // Shut down before taking the lock, which a startAudio holds across its
  // connect and send: they give up at once instead of running to their limits.
  audio_.close();
  std::lock_guard<std::mutex> guard(audioLock_);
  audio_.close();  // in case a concurrent startAudio reopened it
  audioStreamId_ = -1;
  audioActive_ = 0;
  audioCallback_ = nullptr;
  audioUser_ = nullptr;
  return 1;
}

int32_t CTcpNetDevice::audioStreamId() const {
  std::lock_guard<std::mutex> guard(audioLock_);
  return audioStreamId_;
}

void CTcpNetDevice::deliverAudio(const uint8_t* frame, int32_t length, void* owner) {
  auto* self = static_cast<CTcpNetDevice*>(owner);
  if (self->audioCallback_ == nullptr || !self->videoStreamActive()) return;
  self->audioCallback_(frame, length, self->audioUser_);
}

int32_t CTcpNetDevice::sendTalkData(const uint8_t* data, int32_t length) {
  // Bad arguments are dropped like talk without a stream, and still counted.
  const bool valid = length >= 0 && (data != nullptr || length == 0);
  const int32_t packets = valid ? std::max<int32_t>(1, (length + kMaxTalkPayload - 1) / kMaxTalkPayload) : 1;
  const uint32_t first = talkSequence_.fetch_add(static_cast<uint32_t>(packets));
  if (!valid) return 1;
  std::shared_ptr<LiveSession> session;
  {
    std::lock_guard<std::mutex> s(sessionLock_);
    session = session_;
  }
  if (!session) return 1;
  uint8_t packet[kTalkPacketSize];
  for (int32_t i = 0; i < packets; ++i) {
    const int32_t offset = i * kMaxTalkPayload;
    const int32_t chunk = std::min(kMaxTalkPayload, length - offset);
    FrameHeader header{};
    header.frameType = FRAME_TALK;
    header.timestamp = platform::tickCount();
    header.sequence = first + static_cast<uint32_t>(i);
    header.payloadLength = static_cast<uint32_t>(chunk);
    serializeFrameHeader(header, packet);
    if (chunk > 0) std::memcpy(packet + kFrameHeaderSize, data + offset, static_cast<size_t>(chunk));
    if (!session->sendTalk(packet, kFrameHeaderSize + static_cast<size_t>(chunk))) break;
  }
  return 1;
}

int32_t CTcpNetDevice::set_event_callback(LinkEventCallback callback, void* user) {
  state_->setEventCallback(callback, user);
  return 1;
}

int32_t CTcpNetDevice::ptz(int32_t command) { return commands_.queue(command); }
int32_t CTcpNetDevice::get_network(int32_t command) { return commands_.queue(command); }
int32_t CTcpNetDevice::set_network(int32_t command, const void* data, int32_t length) {
  return commands_.queue(command, data, length);
}
int32_t CTcpNetDevice::param_callback(ParamCallback paramCallback, ResultCallback resultCallback,
                                      void* user) {
  return commands_.setCallbacks(paramCallback, resultCallback, user);
}

int32_t CTcpNetDevice::record_file_search_list(int32_t startYear, int32_t startMonth,
                                               int32_t startDay, int32_t startHour,
                                               int32_t startMinute, int32_t startSecond,
                                               int32_t endYear, int32_t endMonth, int32_t endDay,
                                               int32_t endHour, int32_t endMinute,
                                               int32_t endSecond, RecordListCallback callback,
                                               void* user) {
  const int32_t fields[12] = {startYear, startMonth, startDay, startHour, startMinute, startSecond,
                              endYear,   endMonth,   endDay,   endHour,   endMinute,   endSecond};
  return records_.searchList(fields, callback, user);
}

int32_t CTcpNetDevice::record_file_start(const char* fileName, FrameCallback callback, void* user) {
  return records_.start(fileName, callback, user);
}
int32_t CTcpNetDevice::record_file_stop() { return records_.stop(); }
int32_t CTcpNetDevice::record_file_set_pos(int32_t offset) { return records_.setPos(offset); }

}  // namespace tavolen
